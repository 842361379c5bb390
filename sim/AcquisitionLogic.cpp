#include "sim/AcquisitionLogic.h"
#include "sim/Synthesizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {

namespace {
// Keeps wordsReceived() bounded over hours of streaming.
constexpr std::size_t kWordsKept = 2048;
} // namespace

AcquisitionLogic::AcquisitionLogic(const Scene& scene, std::shared_ptr<BoardClock> c)
    : AcquisitionLogic(std::make_shared<Synthesizer>(scene), std::move(c), scene.seed) {}

AcquisitionLogic::AcquisitionLogic(std::shared_ptr<SampleSource> s, std::shared_ptr<BoardClock> c,
                                   std::uint64_t seed)
    : clock(std::move(c)), source(std::move(s)), model(source->deviceModel()),
      rng(seed * 0xD1342543DE82EF95ULL + 7) {}

void AcquisitionLogic::restart() {
    rng = rng * 6364136223846793005ULL + 1442695040888963407ULL;
    const int offset =
        static_cast<int>((rng >> 33) % static_cast<std::uint64_t>(current->samplesPerSweep));
    playing = source->plays(*current);
    source->start(*current, clock->now(), offset);
    produced = 0;
}

void AcquisitionLogic::setFifos(bool on, std::size_t ep6Bytes) {
    ready = on;
    capacity = on ? ep6Bytes + kOwnFifoBytes : 0;
    fifo.clear();
    head = 0;
    halfWord.reset();
    if (on && current)
        restart(); // the logic keeps its set-up; the stream resumes into the empty FIFOs
}

void AcquisitionLogic::command(const std::uint8_t* bytes, std::size_t length) {
    if (!ready)
        return;
    std::optional<Acquisition> next;
    auto take = [&](std::uint16_t word) {
        received.push_back(word);
        if (auto a = decodeOperatingWord(word, model))
            next = a; // the last valid word of what arrived decides
    };
    std::size_t i = 0;
    if (halfWord && length > 0) {
        take(static_cast<std::uint16_t>(*halfWord | bytes[0] << 8));
        halfWord.reset();
        i = 1;
    }
    for (; i + 1 < length; i += 2)
        take(static_cast<std::uint16_t>(bytes[i] | bytes[i + 1] << 8));
    if (i < length)
        halfWord = bytes[i];
    if (received.size() > 2 * kWordsKept)
        received.erase(received.begin(), received.end() - static_cast<long>(kWordsKept));
    if (!next || (current && current->word == next->word))
        return;
    settle(clock->now()); // samples of the old set-up stay in the FIFO
    current = next;
    restart();
}

std::uint64_t AcquisitionLogic::producedBy(double t) const {
    const double n = (t - source->startTime()) * source->sampleRate();
    if (n <= 0)
        return 0;
    // Slack of a thousandth of a sample, so that a time computed by readyTime() counts its own
    // sample even after hours of session time have eaten into the precision of t.
    const double whole = std::floor(n + 1e-3);
    const std::uint64_t length = source->length();
    return whole >= static_cast<double>(length) ? length : static_cast<std::uint64_t>(whole);
}

void AcquisitionLogic::produce(std::uint64_t samples) {
    if (samples == 0)
        return;
    if (head > 0 && head >= fifo.size() / 2) {
        fifo.erase(fifo.begin(), fifo.begin() + static_cast<long>(head));
        head = 0;
    }
    words.resize(static_cast<std::size_t>(samples) * 2);
    source->generate(produced, static_cast<std::size_t>(samples), words.data(), !dropFrameFlags);
    std::size_t at = fifo.size();
    fifo.resize(at + words.size() * 2);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(fifo.data() + at, words.data(), words.size() * 2);
#else
    for (std::uint16_t w : words) {
        fifo[at++] = static_cast<std::uint8_t>(w);
        fifo[at++] = static_cast<std::uint8_t>(w >> 8);
    }
#endif
    produced += samples;
}

void AcquisitionLogic::settle(double t) {
    if (!streaming() || readers > 0)
        return;
    const std::uint64_t by = producedBy(t);
    if (by <= produced)
        return;
    const std::size_t room = held() < capacity ? (capacity - held()) / 4 : 0;
    produce(std::min<std::uint64_t>(by - produced, room));
    produced = by; // what did not fit is lost
}

void AcquisitionLogic::beginRead() {
    if (readers == 0)
        settle(clock->now());
    ++readers;
}

void AcquisitionLogic::endRead() {
    if (readers > 0)
        --readers;
}

std::size_t AcquisitionLogic::availableBy(double t) {
    if (!streaming())
        return held();
    const std::uint64_t by = producedBy(t);
    return held() + static_cast<std::size_t>(by > produced ? by - produced : 0) * 4;
}

double AcquisitionLogic::readyTime(std::size_t bytes) {
    if (held() >= bytes)
        return clock->now();
    if (!streaming())
        return kNever;
    const std::uint64_t samples = (bytes - held() + 3) / 4;
    if (samples > source->length() - produced)
        return kNever; // a source that runs dry before then
    return std::max(clock->now(), source->startTime() + static_cast<double>(produced + samples) /
                                                            source->sampleRate());
}

std::size_t AcquisitionLogic::read(std::uint8_t* data, std::size_t length) {
    if (held() < length && streaming()) {
        const std::uint64_t by = producedBy(clock->now());
        const std::uint64_t wanted = (length - held() + 3) / 4;
        produce(std::min<std::uint64_t>(wanted, by > produced ? by - produced : 0));
    }
    const std::size_t n = std::min(length, held());
    std::copy(fifo.begin() + static_cast<long>(head), fifo.begin() + static_cast<long>(head + n),
              data);
    head += n;
    return n;
}

} // namespace sim
