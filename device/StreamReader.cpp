#include "device/StreamReader.h"
#include "device/RadarDevice.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint32_t kPacketBytes = 512;
constexpr std::uint32_t kSmallestRequest = 16u << 10;
constexpr std::uint32_t kLargestRequest = 1u << 20; // below the 4 MiB a driver moves at once
constexpr double kRequestSeconds = 0.1;

inline std::uint16_t wordAt(const std::uint8_t* bytes, std::size_t index) {
    return static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

std::uint64_t wholePackets(std::uint64_t bytes) {
    return (bytes + kPacketBytes - 1) / kPacketBytes * kPacketBytes;
}

// Gives a buffer back to the free list when it goes out of scope.
class Spare {
public:
    Spare(std::vector<std::size_t>& list, std::size_t buffer) : list(list), buffer(buffer) {}
    ~Spare() { list.push_back(buffer); }
    Spare(const Spare&) = delete;
    Spare& operator=(const Spare&) = delete;

private:
    std::vector<std::size_t>& list;
    std::size_t buffer;
};

} // namespace

StreamReader::Options StreamReader::optionsFor(double samplesPerSecond) {
    Options options;
    if (!(samplesPerSecond > 0) || !std::isfinite(samplesPerSecond))
        return options;
    const double bytes = std::ceil(samplesPerSecond * 4 * kRequestSeconds);
    options.requestBytes = static_cast<std::uint32_t>(std::clamp<double>(
        static_cast<double>(wholePackets(static_cast<std::uint64_t>(std::min(bytes, 1e9)))),
        kSmallestRequest, kLargestRequest));
    const double requestMs = options.requestBytes / (4 * samplesPerSecond) * 1000;
    options.timeoutMs = static_cast<std::uint32_t>(std::min(2 * requestMs + 1000, 4e9));
    return options;
}

namespace {

StreamReader::Options usable(StreamReader::Options options) {
    // A driver splits a larger request into pieces sent one after the other, and the requests
    // queued behind it would take the stream between its pieces.
    options.requestBytes = static_cast<std::uint32_t>(
        wholePackets(std::clamp<std::uint32_t>(options.requestBytes, 1, kLargestRequest)));
    options.queuedRequests = std::max(options.queuedRequests, 1);
    return options;
}

} // namespace

StreamReader::StreamReader(RadarDevice& device, std::int32_t samplesPerSweep, std::int64_t count,
                           Options options)
    : device(device), samplesPerSweep(samplesPerSweep), count(std::max<std::int64_t>(count, 0)),
      options(usable(options)) {}

StreamReader::~StreamReader() {
    stop();
}

bool StreamReader::fail(std::string why) {
    if (failure.empty())
        failure = std::move(why);
    stop();
    return false;
}

void StreamReader::stop() {
    stopped = true;
    if (inFlight.empty())
        return;
    // The buffers stay ours only once every request has come back, cancelled or not.
    endpoint->AbortPipe();
    for (InFlight& f : inFlight) {
        endpoint->WaitForTransfer(f.request.get());
        std::uint32_t length = f.length;
        endpoint->FinishTransfer(buffers[f.buffer].data(), length, std::move(f.request), nullptr);
        freeBuffers.push_back(f.buffer);
    }
    inFlight.clear();
}

bool StreamReader::fill() {
    while (static_cast<int>(inFlight.size()) < options.queuedRequests && requested < wanted) {
        const auto length = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(options.requestBytes, wholePackets(wanted - requested)));
        if (freeBuffers.empty()) {
            buffers.emplace_back(options.requestBytes);
            freeBuffers.push_back(buffers.size() - 1);
        }
        const std::size_t buffer = freeBuffers.back();
        std::unique_ptr<UsbRequest> request =
            endpoint->BeginTransfer(buffers[buffer].data(), length);
        if (!request)
            return fail("the stream request could not be sent");
        freeBuffers.pop_back();
        inFlight.push_back({buffer, length, std::move(request)});
        requested += length;
    }
    return true;
}

bool StreamReader::next(SampleBlock& part) {
    part.clear();
    if (!failure.empty())
        return false;
    if (stopped)
        return fail("the reading was stopped");
    if (done())
        return true;
    if (!started) {
        started = true;
        if (samplesPerSweep <= 0)
            return fail("no sweep length to align on");
        endpoint = device.streamEndpoint(device.inEndpoint);
        if (!endpoint)
            return fail("the board has no stream endpoint");
        // Until the sync word is found, assume it comes as late as it may: one sweep after
        // the stale words.
        wanted = 2 * (kSyncSearchStartWord + 2 * static_cast<std::uint64_t>(samplesPerSweep)) +
                 4 * static_cast<std::uint64_t>(count);
    }

    while (part.empty() && !done()) {
        if (!fill())
            return false;
        if (inFlight.empty())
            return fail("the stream ended before the recording was complete");
        InFlight front = std::move(inFlight.front());
        inFlight.erase(inFlight.begin());
        endpoint->timeout = options.timeoutMs;
        const bool waited = endpoint->WaitForTransfer(front.request.get());
        const bool pending = front.request && front.request->state == UsbBeginState::Pending;
        std::uint32_t moved = front.length;
        const bool finished = endpoint->FinishTransfer(buffers[front.buffer].data(), moved,
                                                       std::move(front.request), nullptr);
        // The finished buffer is not handed out again before it is decoded: there is one
        // buffer more than the queue holds.
        const Spare spare(freeBuffers, front.buffer);
        if (!waited && pending)
            return fail("no data from the board for " + std::to_string(options.timeoutMs) + " ms");
        if (!waited || !finished)
            return fail("the stream transfer failed (USB status " +
                        std::to_string(endpoint->usbStatus) + ", system status " +
                        std::to_string(endpoint->systemStatus) + ")");
        if (moved != front.length)
            return fail("the board ended a transfer early (" + std::to_string(moved) + " of " +
                        std::to_string(front.length) + " bytes)");
        // Queue the next requests before decoding, so the board is drained meanwhile.
        if (!fill() || !decode(buffers[front.buffer].data(), moved, part))
            return false;
    }
    deliveredCount += static_cast<std::int64_t>(part.size());
    return true;
}

bool StreamReader::decode(const std::uint8_t* bytes, std::size_t length, SampleBlock& part) {
    if (aligned)
        return convert(bytes, length / 2, 0, part);

    // The sync word is judged by the sweep that follows it and the next sweep's first word,
    // which may arrive over several requests: the words are kept until those are in.
    head.insert(head.end(), bytes, bytes + length);
    const std::uint64_t sweepWords = 2 * static_cast<std::uint64_t>(samplesPerSweep);
    const std::uint64_t searchEnd = kSyncSearchStartWord + sweepWords;
    const std::uint64_t judged = std::min(searchEnd + kSyncSweepsChecked * sweepWords, wanted / 2);
    if (head.size() / 2 < judged)
        return true;
    const std::size_t sync =
        FindSyncWord(head.data(), head.size(), static_cast<std::size_t>(samplesPerSweep));
    if (sync >= searchEnd) {
        part.clear();
        return fail("no frame flag in the stream (words " + std::to_string(kSyncSearchStartWord) +
                    " to " + std::to_string(searchEnd - 1) + ")");
    }
    aligned = true;
    wanted = 2 * static_cast<std::uint64_t>(sync) + 4 * static_cast<std::uint64_t>(count);
    std::vector<std::uint8_t> words;
    words.swap(head);
    return convert(words.data(), words.size() / 2, sync, part);
}

bool StreamReader::convert(const std::uint8_t* bytes, std::size_t words, std::size_t k,
                           SampleBlock& part) {
    part.reserve(part.size() + words / 2 + 1);
    std::int64_t index = deliveredCount + static_cast<std::int64_t>(part.size());
    const auto take = [&](std::uint16_t first, std::uint16_t second) {
        // A board may flag only the start of its frames; a flag inside a sweep means samples
        // were lost or the pairs slipped.
        if ((first & kFrameFlag) && index % samplesPerSweep != 0) {
            part.clear();
            return fail("alignment lost: a frame flag at sample " + std::to_string(index) +
                        ", inside a sweep");
        }
        part.emplace_back(static_cast<double>(second), static_cast<double>(first & 0x7FFFu));
        ++index;
        return true;
    };
    if (haveFirstWord && k < words && index < count) {
        haveFirstWord = false;
        if (!take(firstWord, wordAt(bytes, k++)))
            return false;
    }
    for (; k + 1 < words && index < count; k += 2) {
        if (!take(wordAt(bytes, k), wordAt(bytes, k + 1)))
            return false;
    }
    if (k < words && index < count) {
        firstWord = wordAt(bytes, k);
        haveFirstWord = true;
    }
    return true;
}
