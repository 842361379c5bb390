#include "sim/PlaybackSource.h"

#include "record/RecordingFile.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <new>

namespace sim {

namespace {

using tavrix::record::RecordingHeader;

// Header values are printed with six decimals; frequencies and times that a board can have
// survive that exactly, so a tight relative tolerance only absorbs the parsing.
bool same(double a, double b) {
    return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b));
}

std::string number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

std::uint16_t wordOf(Mode mode, int windowCode, int bandwidthChoice, int sweepCode) {
    const int bandwidthCode = (bandwidthChoice + 1) % 4;
    return static_cast<std::uint16_t>(0xA000 + sweepCode * 64 + bandwidthCode * 16 +
                                      windowCode * 4 + static_cast<int>(mode));
}

// Where the model's transmitter is centred in `mode`: models that sweep upwards from their
// carrier are centred half a bandwidth above it while sweeping.
double centreOf(const DeviceModel& model, Mode mode, double bandwidthHz) {
    return CentreFrequency(model, static_cast<int>(mode), bandwidthHz);
}

const char* modeName(Mode mode) {
    switch (mode) {
    case Mode::FmcwSawtooth:
        return "FMCW sawtooth";
    case Mode::FmcwTriangle:
        return "FMCW triangle";
    case Mode::Fsk:
        return "FSK";
    case Mode::Cw:
        return "CW";
    }
    return "";
}

constexpr std::size_t kChunk = 1 << 16;
constexpr std::uint64_t kHeaderLines = 4;

// Where sample `index` of a recording is: its line in a text file, its byte in SigMF data.
std::string samplePlace(bool sigmf, std::uint64_t index) {
    if (sigmf)
        return "sample " + std::to_string(index) + " (byte " + std::to_string(4 * index) + ")";
    return "line " + std::to_string(kHeaderLines + index + 1);
}

// The header's lines, as named in SigMF metadata.
std::string inSigmfTerms(std::string why) {
    static const char* const kKeys[] = {"center_frequency_hz", "sweep_time_ms", "samples_per_sweep",
                                        "mode_value"};
    for (int line = 1; line <= 4; ++line) {
        const std::string from = "line " + std::to_string(line);
        const std::string to = std::string("global.tavrix:header.") + kKeys[line - 1];
        for (std::size_t at = why.find(from); at != std::string::npos; at = why.find(from, at))
            why.replace(at, from.size(), to);
    }
    return why;
}

} // namespace

std::uint16_t PlaybackSettings::operatingWord() const {
    return wordOf(mode, windowCode, bandwidthChoice, sweepCode);
}

std::optional<PlaybackSettings> playbackSettings(const RecordingHeader& header, std::string* why) {
    auto refuse = [why](const std::string& reason) -> std::optional<PlaybackSettings> {
        if (why)
            *why = reason;
        return std::nullopt;
    };

    PlaybackSettings s;
    s.windowCode = -1;
    for (int code = 0; code < 4; ++code)
        if (header.samplesPerSweep == 128 << code)
            s.windowCode = code;
    if (s.windowCode < 0)
        return refuse("the samples per sweep (line 3) are " +
                      std::to_string(header.samplesPerSweep) +
                      ", but the board takes 128, 256, 512 or 1024");

    double bandwidth = 0;
    if (same(header.modeValue, tavrix::record::kFskToneSpacingHz)) {
        s.mode = Mode::Fsk;
    } else if (header.modeValue == 0) {
        s.mode = Mode::Cw;
    } else {
        s.mode = Mode::FmcwSawtooth;
        bandwidth = header.modeValue;
    }

    struct Fit {
        int model, bandwidthChoice;
    };
    std::vector<Fit> fits;
    bool bandwidthExists = false;
    for (int m = 0; m < kDeviceModelCount; ++m) {
        const DeviceModel& model = deviceModel(m);
        if (s.mode != Mode::FmcwSawtooth) {
            if (same(centreOf(model, s.mode, 0), header.centerFrequencyHz))
                fits.push_back({m, 0});
            continue;
        }
        for (int c = 0; c < 4; ++c) {
            if (!same(model.bandwidthHz[static_cast<std::size_t>(c)], bandwidth))
                continue;
            bandwidthExists = true;
            if (same(centreOf(model, s.mode, bandwidth), header.centerFrequencyHz))
                fits.push_back({m, c});
        }
    }
    if (s.mode == Mode::FmcwSawtooth && !bandwidthExists)
        return refuse("line 4 holds " + number(bandwidth) +
                      ", which is no device model's swept bandwidth, nor the FSK tone spacing "
                      "6000000, nor 0 (CW)");
    if (fits.empty()) {
        std::string reason = "no device model has the centre frequency " +
                             number(header.centerFrequencyHz) + " Hz (line 1) in " +
                             modeName(s.mode);
        if (s.mode == Mode::FmcwSawtooth)
            reason += " with a swept bandwidth of " + number(bandwidth / 1e6) + " MHz";
        return refuse(reason);
    }

    std::string offering;
    for (const Fit& fit : fits) {
        for (int code = 0; code < 4; ++code) {
            const auto a = decodeOperatingWord(
                wordOf(s.mode, s.windowCode, fit.bandwidthChoice, code), fit.model);
            if (same(a->sweepTimeS * 1e3, header.sweepTimeMs)) {
                s.deviceModel = fit.model;
                s.bandwidthChoice = fit.bandwidthChoice;
                s.sweepCode = code;
                return s;
            }
        }
        if (offering.find(deviceModel(fit.model).name) == std::string::npos)
            offering += std::string(offering.empty() ? "" : ", ") + deviceModel(fit.model).name;
    }
    return refuse("the sweep time " + number(header.sweepTimeMs) +
                  " ms (line 2) is not one that the device model fitting the other lines (" +
                  offering + ") offers");
}

std::shared_ptr<PlaybackSource> PlaybackSource::load(const std::string& path,
                                                     const PlaybackOptions& options,
                                                     std::shared_ptr<const BoardClock> clock,
                                                     std::string* error) {
    auto refuse = [&](const std::string& reason) -> std::shared_ptr<PlaybackSource> {
        if (error)
            *error = reason;
        return nullptr;
    };
    if (!(options.speed >= kMinSpeed && options.speed <= kMaxSpeed))
        return refuse("the playback speed " + number(options.speed) + " is not between " +
                      number(kMinSpeed) + " and " + number(kMaxSpeed));

    std::string openError;
    const std::unique_ptr<tavrix::record::RecordingSource> reader =
        tavrix::record::openSource(path, openError);
    if (!reader)
        return refuse(openError);
    const bool sigmf = tavrix::record::formatOf(path) == tavrix::record::FileFormat::Sigmf;
    if (!reader->header()) {
        if (sigmf)
            return refuse(path + ": the metadata has no key global.tavrix:header, so the "
                                 "parameters it was recorded with are unknown (recordings made "
                                 "in FMCW triangle mode have none)");
        if (reader->atEnd())
            return refuse(path + ": the file is empty");
        return refuse(path + ": the file has no header, so the parameters it was recorded with are "
                             "unknown (recordings made in FMCW triangle mode have none)");
    }

    std::shared_ptr<PlaybackSource> source(new PlaybackSource());
    source->file = path;
    source->head = *reader->header();
    source->opts = options;
    source->clock = std::move(clock);
    std::string why;
    const std::optional<PlaybackSettings> settings = playbackSettings(source->head, &why);
    if (!settings)
        return refuse(path + ": " + (sigmf ? inSigmfTerms(why) : why));
    source->choice = *settings;
    source->made = *decodeOperatingWord(settings->operatingWord(), settings->deviceModel);

    std::vector<std::complex<double>> chunk;
    std::uint64_t index = 0;
    try {
        while (!reader->atEnd() && !reader->failed()) {
            reader->read(chunk, kChunk);
            for (const std::complex<double>& v : chunk) {
                // Q gives up bit 15 to the frame flag; a larger value would forge one.
                if (v.real() < 0 || v.real() > 65535 || v.imag() < 0 || v.imag() > 32767)
                    return refuse(path + ": " + samplePlace(sigmf, index) + ": the sample " +
                                  number(v.real()) + "+" + number(v.imag()) +
                                  "i is outside the board's range (I 0 to 65535, Q 0 to 32767)");
                source->words.push_back(static_cast<std::uint16_t>(v.imag()));
                source->words.push_back(static_cast<std::uint16_t>(v.real()));
                ++index;
            }
        }
    } catch (const std::bad_alloc&) {
        return refuse(path + ": too large to hold in memory (gave up after " +
                      std::to_string(index) + " samples)");
    }
    if (reader->failed())
        return refuse(reader->error());

    const auto perSweep = static_cast<std::uint64_t>(source->made.samplesPerSweep);
    const std::uint64_t whole = index / perSweep * perSweep;
    if (whole == 0)
        return refuse(path + ": holds " + std::to_string(index) +
                      (index == 1 ? " sample" : " samples") + ", less than one sweep of " +
                      std::to_string(perSweep));
    source->words.resize(whole * 2);
    source->words.shrink_to_fit();
    return source;
}

double PlaybackSource::durationSeconds() const {
    return static_cast<double>(sampleCount()) / made.sampleRate();
}

bool PlaybackSource::plays(const Acquisition& a) const {
    if (a.mode != made.mode || a.samplesPerSweep != made.samplesPerSweep ||
        !same(a.sweepTimeS, made.sweepTimeS))
        return false;
    // FSK and CW do not sweep, so the bandwidth code is of no consequence there.
    return a.mode != Mode::FmcwSawtooth || same(a.bandwidthHz, made.bandwidthHz);
}

void PlaybackSource::start(const Acquisition& a, double startTime, int) {
    isPlaying = plays(a);
    t0 = startTime;
    rate = isPlaying ? made.sampleRate() * opts.speed : a.sampleRate();
}

std::uint64_t PlaybackSource::length() const {
    return opts.loop ? kEndless : sampleCount();
}

std::uint64_t PlaybackSource::samplesBy(double t) const {
    // The same slack as the acquisition logic's count, so both agree on every sample.
    const double n = std::floor((t - t0) * rate + 1e-3);
    if (!(n > 0))
        return 0;
    return n >= static_cast<double>(length()) ? length() : static_cast<std::uint64_t>(n);
}

double PlaybackSource::positionSeconds() const {
    if (!isPlaying || !clock)
        return 0;
    const std::uint64_t n = samplesBy(clock->now());
    const std::uint64_t at = opts.loop ? n % sampleCount() : n;
    return static_cast<double>(at) / made.sampleRate();
}

std::uint64_t PlaybackSource::remainingSamples() const {
    if (!isPlaying)
        return 0;
    if (opts.loop)
        return kEndless;
    return sampleCount() - (clock ? samplesBy(clock->now()) : 0);
}

void PlaybackSource::generate(std::uint64_t first, std::size_t count, std::uint16_t* out,
                              bool frameFlags) {
    const std::uint64_t total = sampleCount();
    const auto perSweep = static_cast<std::uint64_t>(made.samplesPerSweep);
    while (count > 0) {
        const std::uint64_t k = first % total;
        const std::size_t run = static_cast<std::size_t>(std::min<std::uint64_t>(count, total - k));
        std::memcpy(out, words.data() + 2 * k, run * 2 * sizeof(std::uint16_t));
        if (frameFlags) {
            // Recordings begin at a sweep start, so sweeps start at multiples of its length.
            for (std::uint64_t j = (perSweep - k % perSweep) % perSweep; j < run; j += perSweep)
                out[2 * j] |= 0x8000;
        }
        out += 2 * run;
        first += run;
        count -= run;
    }
}

} // namespace sim
