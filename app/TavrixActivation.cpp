#include "app/Tavrix.h"

#include <QTimer>

void Tavrix::setDisplayControlsEnabled(bool on) {
    ui.groupBox_3->setEnabled(on);
    ui.DisplayProperties->setEnabled(on);
}

void Tavrix::on_spinBoxPUpdateRate_valueChanged(int value) {
    updateIntervalMs = static_cast<std::uint32_t>(value);
    // A running stream changes pace without stopping.
    if (ui.buttonActivateDevice->isChecked() && acquisitionTimer != nullptr)
        acquisitionTimer->setInterval(value);
}
