#pragma once

// The radar board as the application sees it: which board, its streaming interface, the two
// bulk endpoints, the command block going out and frame-aligned samples coming in, and the
// download of the controller program.

#include "device/FrameStream.h"
#include "device/HexImage.h"
#include "usb/UsbDevice.h"
#include "usb/UsbDriver.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// The controller's identity before and after its program is loaded.
constexpr std::uint16_t kRadarVendorId = 0x04B4;
constexpr std::uint16_t kRadarProductId = 0x8613;
// Alternate setting that holds the streaming endpoints.
constexpr std::uint8_t kRadarAltSetting = 1;
constexpr std::uint8_t kCommandEndpoint = 0x02; // bulk OUT
constexpr std::uint8_t kSampleEndpoint = 0x86;  // bulk IN
// Vendor request that reads and writes controller memory; CPUCS bit 0 holds the core in reset.
constexpr std::uint8_t kFirmwareLoadRequest = 0xA0;
constexpr std::uint16_t kCpucsAddress = 0xE600;

struct DeviceIdentity {
    std::uint32_t vendorId = 0;
    std::uint32_t productId = 0;
    std::uint32_t configCount = 0;
    std::uint32_t endpointCount = 0; // of the current interface, endpoint 0 included
    std::uint32_t interfaceCount = 0;
    std::uint32_t altSettingCount = 0; // alternate settings beyond the first
};

class RadarDevice {
public:
    // `driver` must outlive the device.
    explicit RadarDevice(UsbDriver& driver);
    ~RadarDevice();
    RadarDevice(const RadarDevice&) = delete;
    RadarDevice& operator=(const RadarDevice&) = delete;

    // Rebuilds the USB device and lists the radar boards the driver serves. The handle is left
    // open on the last board found; endpoint indexes found before are void afterwards.
    std::int32_t EnumerateDevices();
    // Resets the port and selects alternate setting 1; true when the driver then reports it.
    bool SetInterface();
    // Index of the endpoint with this address in the endpoint table, 0 when absent.
    std::int32_t FindEndpoint(std::uint8_t address);
    // Writes the data records into controller RAM while the core is held in reset, then
    // releases it. Returns the number of records, or -1 when a record is malformed (nothing
    // is sent) or a request fails (the download stops; releasing the core is still tried).
    std::int32_t DownloadFirmware(std::vector<HexRecord> records);
    // One OUT transfer on `outEndpoint`; the bytes the transfer reports as moved.
    std::int32_t WriteBlock(const std::uint8_t* data, std::int32_t length);
    // One IN transfer of count * 4 + 8192 bytes on `inEndpoint`, aligned on the sync word of
    // sweeps of `samplesPerSweep` and converted to at most `count` samples. Returns the number
    // delivered; 0 with `samples` untouched when the read cannot be sized or made, or the
    // transfer fails.
    // With `stop`, the read gives up (0 samples) within a few milliseconds of it being set;
    // with `check`, the frame's flags are looked at.
    std::int32_t ReadFrame(SampleBlock& samples, std::int32_t count, std::uint32_t timeoutMs,
                           std::uint32_t samplesPerSweep, const std::atomic<bool>* stop = nullptr,
                           FrameCheck* check = nullptr);
    // ReadFrame without the conversion: `frame` takes the read and where its pairs lie.
    // Returns the number of pairs, 0 with `frame` untouched as ReadFrame leaves `samples`.
    std::int32_t ReadPackedFrame(PackedFrame& frame, std::int32_t count, std::uint32_t timeoutMs,
                                 std::uint32_t samplesPerSweep,
                                 const std::atomic<bool>* stop = nullptr,
                                 FrameCheck* check = nullptr);

    std::vector<DeviceIdentity> devices;
    // Boards of the last EnumerateDevices that the system would not let us open.
    std::int32_t deniedBoards = 0;
    std::int32_t interfaceReady = 0;
    std::int32_t outEndpoint = 0;
    std::int32_t inEndpoint = 0;
    std::unique_ptr<UsbDevice> usb;

    // The bulk endpoint at `index` of the endpoint table; null without a table and for
    // endpoint 0.
    UsbEndPoint* streamEndpoint(std::int32_t index) const;

private:
    bool isRadarBoard() const;
    // The IN transfer of a read of `count` samples; null when it cannot be sized or made, or
    // fails. `received`: the bytes it holds.
    std::unique_ptr<std::uint8_t[]> readTransfer(std::int32_t count, std::uint32_t timeoutMs,
                                                 const std::atomic<bool>* stop,
                                                 std::uint32_t& received);
    bool vendorRequest(bool in, std::uint16_t address, std::uint8_t* data, std::uint32_t length);

    UsbDriver& driver;
};

// Validates the Intel HEX `text` and downloads it; true only when every record reached the
// controller. A malformed image is refused before any request is sent.
bool LoadControllerProgram(RadarDevice& device, std::string_view text);
