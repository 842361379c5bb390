#pragma once

// A recording played back by the emulated board: the acquisition logic streams the recorded
// samples, in the frame format, paced at a multiple of the rate they were taken at. The board
// streams only while the host asks for the parameters the recording was made with.

#include "record/RecordingFormat.h"
#include "sim/BoardClock.h"
#include "sim/DeviceModel.h"
#include "sim/SampleSource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The board's choices that reproduce a recording's header.
struct PlaybackSettings {
    Mode mode = Mode::FmcwSawtooth;
    int deviceModel = 0;     // 0..7
    int sweepCode = 0;       // 0..3
    int windowCode = 0;      // 0..3: 128 << windowCode samples per sweep
    int bandwidthChoice = 0; // 0..3, position in the model's bandwidth list (0 in FSK and CW)

    std::uint16_t operatingWord() const;
};

// Works out model, mode and parameter choices from a header, or says in `why` which value
// no choice reproduces. The fourth line tells the mode: 6000000 FSK, 0 CW, anything else a
// sawtooth bandwidth. Some headers fit several models (two share 5.8 GHz, two 9.8 GHz, and
// the 24 GHz model sweeping 2 GHz upwards is centred where the 25 GHz model is): the first
// model in list order wins. Every value the processing takes from a model (carrier,
// bandwidth, sweep time) is in the header, so the choice changes no result, only codes.
std::optional<PlaybackSettings> playbackSettings(const tavrix::record::RecordingHeader& header,
                                                 std::string* why);

struct PlaybackOptions {
    double speed = 1; // times the recording's real rate
    bool loop = true; // start again at the end, or fall silent
};

class PlaybackSource : public SampleSource {
public:
    static constexpr double kMinSpeed = 0.25;
    static constexpr double kMaxSpeed = 10;

    // Reads and checks the whole recording, text or SigMF (whose header is the tavrix
    // namespace's). Null, with `error` naming the file and the reason, when it cannot be
    // played: no header (FMCW triangle), a header that fits no model or parameter choice, a
    // malformed line or metadata, a sample outside the converters' range, less than one sweep.
    // `clock` is the board's, for the playback position.
    static std::shared_ptr<PlaybackSource> load(const std::string& path,
                                                const PlaybackOptions& options,
                                                std::shared_ptr<const BoardClock> clock,
                                                std::string* error);

    const std::string& path() const { return file; }
    const tavrix::record::RecordingHeader& header() const { return head; }
    const PlaybackSettings& settings() const { return choice; }
    const PlaybackOptions& options() const { return opts; }
    // The acquisition the recording was made with.
    const Acquisition& recorded() const { return made; }
    // Samples played: whole sweeps (a trailing part of a sweep is left out).
    std::uint64_t sampleCount() const { return words.size() / 2; }
    // Length of the recording at the rate it was taken.
    double durationSeconds() const;

    // Seconds into the recording where the stream is now; 0 until it plays.
    double positionSeconds() const;
    // Samples still to come before the stream falls silent; kEndless when looping, 0 when
    // not playing.
    std::uint64_t remainingSamples() const;
    bool playing() const { return isPlaying; }

    int deviceModel() const override { return choice.deviceModel; }
    bool plays(const Acquisition& acquisition) const override;
    // Every acquisition starts at the recording's first sample.
    void start(const Acquisition& acquisition, double startTime, int sweepOffset) override;
    double startTime() const override { return t0; }
    double sampleRate() const override { return rate; }
    std::uint64_t length() const override;
    void generate(std::uint64_t first, std::size_t count, std::uint16_t* out,
                  bool frameFlags) override;

private:
    PlaybackSource() = default;
    std::uint64_t samplesBy(double t) const;

    std::string file;
    tavrix::record::RecordingHeader head;
    PlaybackSettings choice;
    PlaybackOptions opts;
    Acquisition made;
    std::shared_ptr<const BoardClock> clock;
    std::vector<std::uint16_t> words; // Q then I of every sample, without frame flags
    // Set when the board starts streaming (on the acquisition thread), read for the position
    // shown (on the window's).
    std::atomic<bool> isPlaying{false};
    std::atomic<double> t0{0};
    std::atomic<double> rate{1};
};

} // namespace sim
