#include "app/Tavrix.h"
#include "device/OperatingWord.h"
#include "device/RadarDevice.h"

#include <qwt_dial_needle.h>

namespace {

// Bandwidth choice 0..3 travels in the operating word as 1, 2, 3, 0.
constexpr std::uint32_t kBandwidthCodes[4] = {1, 2, 3, 0};
constexpr double kFirstBandwidthListHz[4] = {1e8, 1.5e8, 3e8, 4e8};
constexpr double kSecondBandwidthListHz[4] = {5e8, 7.5e8, 1.5e9, 2e9};
constexpr std::uint32_t kSamplesPerSweep[4] = {128, 256, 512, 1024};

// The eighth model sweeps upwards from 24 GHz.
constexpr int kSweepFrom24GHzModel = 7;

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

    // The first two sweep-time items read "0.5"/"1" or "1"/"2" depending on the model; the
    // sweep time always equals the text shown.
    const int sweepIndex = ui.comboPSweepTime->currentIndex();
    const QString sweepText = ui.comboPSweepTime->currentText();
    switch (sweepIndex) {
    case 0:
        sweepTimeCode = 0;
        sweepTimeMs = sweepText == QLatin1String("0.5") ? 0.5 : 1.0;
        break;
    case 1:
        sweepTimeCode = 1;
        sweepTimeMs = sweepText == QLatin1String("1") ? 1.0 : 2.0;
        break;
    case 2:
        sweepTimeCode = 2;
        sweepTimeMs = 4.0;
        break;
    case 3:
        sweepTimeCode = 3;
        sweepTimeMs = 10.0;
        break;
    default:
        break;
    }

    const int sampleIndex = ui.comboPSampleWindow->currentIndex();
    if (sampleIndex >= 0 && sampleIndex < 4) {
        sampleWindowCode = static_cast<std::uint32_t>(sampleIndex);
        samplesPerSweep = kSamplesPerSweep[sampleIndex];
    }

    const int bandwidthIndex = ui.comboPBandwidth->currentIndex();
    if (bandwidthIndex >= 0 && bandwidthIndex < 4) {
        static const char* const firstListTexts[4] = {"100", "150", "300", "400"};
        const bool firstList =
            ui.comboPBandwidth->currentText() == QLatin1String(firstListTexts[bandwidthIndex]);
        bandwidthCode = kBandwidthCodes[bandwidthIndex];
        bandwidthHz = firstList ? kFirstBandwidthListHz[bandwidthIndex]
                                : kSecondBandwidthListHz[bandwidthIndex];
    }

    operatingWord = OperatingWord(static_cast<int>(sweepTimeCode), static_cast<int>(bandwidthCode),
                                  static_cast<int>(sampleWindowCode), static_cast<int>(modeCode));

    if (ui.device_centerFrequency->currentIndex() == kSweepFrom24GHzModel)
        centerFrequency =
            (operatingMode == 2 || operatingMode == 3) ? 2.4e10 : 2.4e10 + bandwidthHz * 0.5;

    clutterReset = 1;
    topAxisDirty = 1;
    bottomAxisDirty = 1;

    return writeCommandBlock();
}

bool Tavrix::writeCommandBlock() {
    const CommandBlockBytes block = CommandBlock(operatingWord);
    return radarDevice->WriteBlock(block.data(), static_cast<std::int32_t>(block.size())) ==
           static_cast<std::int32_t>(block.size());
}
