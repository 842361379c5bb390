#include "app/Tavrix.h"
#include "device/ControllerProgram.h"
#include "device/RadarDevice.h"

bool Tavrix::UpdateFirmware() {
    return LoadControllerProgram(*radarDevice, ControllerProgramText());
}
