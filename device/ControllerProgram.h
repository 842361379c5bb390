#pragma once

#include <string_view>

// The controller program as Intel HEX text, embedded at build time from
// resources/controller.hex, byte for byte (CR LF line ends).
std::string_view ControllerProgramText();
