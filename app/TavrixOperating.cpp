#include "app/Tavrix.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"

#include <qwt_dial_needle.h>

namespace {

void giveNeedle(QwtDial* dial) {
    dial->setReadOnly(true);
    dial->setNeedle(
        new QwtDialSimpleNeedle(QwtDialSimpleNeedle::Ray, true, Qt::gray, Qt::darkGray));
}

} // namespace

bool Tavrix::UpdateOperatingParameters() {
    ui.filterOptionDCSubtract->setEnabled(true);
    ui.comboPBandwidth->setEnabled(true);
    ui.groupBox_Range->setEnabled(true);
    ui.groupBox_DopplerPulse->setEnabled(true);
    operatingWord = 0;

    if (ui.radioOperationMode_1->isChecked())
        operatingMode = 0;
    else if (ui.radioOperationMode_2->isChecked())
        operatingMode = 1;
    else if (ui.radioOperationMode_4->isChecked())
        operatingMode = 2;
    else if (ui.radioOperationMode_5->isChecked())
        operatingMode = 3;

    const bool fsk = operatingMode == 2;
    ui.fskGroupBox->setVisible(fsk);
    ui.counterFSKDetectionThreshold->setEnabled(fsk);
    ui.dialFSKVelocity->setEnabled(fsk);
    ui.dialFSKRange->setEnabled(fsk);
    ui.comboPBandwidth->setEnabled(!fsk);
    ui.groupBox_8->setEnabled(!fsk);
    ui.groupBox_11->setEnabled(!fsk);
    ui.groupBox_Range->setEnabled(!fsk);
    if (fsk) {
        giveNeedle(ui.dialFSKVelocity);
        giveNeedle(ui.dialFSKRange);
    } else {
        ui.dialFSKVelocity->setValue(0);
        ui.dialFSKRange->setValue(0);
    }
    if (operatingMode == 3) {
        ui.comboPBandwidth->setEnabled(false);
        ui.groupBox_11->setEnabled(false);
    }
    modeCode = operatingMode;

    // The codes come from the positions of the choices; what they mean on this model (sweep
    // time, bandwidth, carrier) the settings value works out.
    const auto code = [](int index, std::uint32_t fallback) {
        return index >= 0 && index < 4 ? static_cast<std::uint32_t>(index) : fallback;
    };
    sweepTimeCode = code(ui.comboPSweepTime->currentIndex(), sweepTimeCode);
    sampleWindowCode = code(ui.comboPSampleWindow->currentIndex(), sampleWindowCode);
    bandwidthCode = (code(ui.comboPBandwidth->currentIndex(), (bandwidthCode + 3) % 4) + 1) % 4;
    const tavrix::radar::Settings settings = currentSettings();
    samplesPerSweep = settings.samplesPerSweep();
    sweepTimeMs = settings.sweepTimeMs();
    bandwidthHz = settings.bandwidthHz();
    centerFrequency = settings.centerFrequency();
    operatingWord = settings.operatingWord();

    clutterReset = 1;
    topAxisDirty = 1;
    bottomAxisDirty = 1;
    slidersDirty = true;

    return writeCommandBlock();
}

bool Tavrix::writeCommandBlock() {
    if (playback != nullptr)
        return true; // a recording's parameters are fixed: nothing listens
    // While the worker owns the device, it sends the block of the settings it is handed.
    if (worker && worker->Running()) {
        publishSettings(currentSettings());
        return true;
    }
    const CommandBlockBytes block = CommandBlock(operatingWord);
    return radarDevice->WriteBlock(block.data(), static_cast<std::int32_t>(block.size())) ==
           static_cast<std::int32_t>(block.size());
}
