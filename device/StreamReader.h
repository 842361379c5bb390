#pragma once

// The sample stream read in consecutive parts that continue one another without a gap, for
// recordings too long to hold in one read or in memory. Several requests stay queued on the
// IN endpoint, so the board's small FIFO is drained while earlier parts are being written.
// The stream is aligned once on the sync word after the stale FIFO contents, as ReadFrame
// finds it; from then on a frame flag may only come at a sweep start (a board may flag every
// sweep or only the first), or the stream has lost samples and the reading fails.

#include "device/FrameStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RadarDevice;
class UsbEndPoint;
struct UsbRequest;

class StreamReader {
public:
    struct Options {
        std::uint32_t requestBytes = 1u << 20; // per request, at most 1 MiB; whole 512-byte packets
        int queuedRequests = 8;                // requests kept in flight
        std::uint32_t timeoutMs = 2000;        // for each request, from when it is waited for
    };

    // Requests of about a tenth of a second of a stream of `samplesPerSecond`, between 16 KiB
    // and 1 MiB, eight of them queued, each given twice its duration plus a second.
    static Options optionsFor(double samplesPerSecond);

    // Reads `count` samples in sweeps of `samplesPerSweep` from the device's `inEndpoint`.
    // Nothing is requested before the first next().
    StreamReader(RadarDevice& device, std::int32_t samplesPerSweep, std::int64_t count,
                 Options options);
    // Cancels what is still in flight.
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // Replaces `part` with the samples that follow the last part (never more than those still
    // wanted). False on failure, with `part` empty and error() saying why; every later call
    // fails too. Once done(), `part` comes back empty.
    bool next(SampleBlock& part);
    // Cancels the requests in flight and waits until they have come back. Reading ends.
    void stop();

    std::int64_t delivered() const { return deliveredCount; }
    bool done() const { return deliveredCount == count; }
    const std::string& error() const { return failure; }

private:
    struct InFlight {
        std::size_t buffer; // index into buffers
        std::uint32_t length;
        std::unique_ptr<UsbRequest> request;
    };

    bool fail(std::string why);
    bool fill();
    bool decode(const std::uint8_t* bytes, std::size_t length, SampleBlock& part);
    // Appends the samples of the pairs from word `k` on, up to the count wanted.
    bool convert(const std::uint8_t* bytes, std::size_t words, std::size_t k, SampleBlock& part);

    RadarDevice& device;
    UsbEndPoint* endpoint = nullptr;
    const std::int64_t samplesPerSweep;
    const std::int64_t count;
    const Options options;

    std::vector<std::vector<std::uint8_t>> buffers; // one per request in flight, one spare
    std::vector<std::size_t> freeBuffers;
    std::vector<InFlight> inFlight; // oldest first
    std::uint64_t requested = 0;    // bytes asked for so far
    std::uint64_t wanted = 0; // bytes the whole recording needs (an upper bound until aligned)

    std::vector<std::uint8_t> head; // the stream's first bytes, until the sync word is judged
    bool aligned = false;
    bool haveFirstWord = false; // a pair's first word waits for its second in the next request
    std::uint16_t firstWord = 0;
    std::int64_t deliveredCount = 0;
    bool started = false;
    bool stopped = false;
    std::string failure;
};
