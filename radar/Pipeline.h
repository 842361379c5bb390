#pragma once

// The radar processing without a window: which chain runs for the chosen modes, how much it
// reads, and what it makes of a frame. It owns every piece of state the chains keep between
// frames (clutter references, window filters, transform plans), so a frame in gives a plain
// result out, and nothing here touches a widget.

#include "device/FrameStream.h"
#include "dsp/Clutter.h"
#include "dsp/DynamicRange.h"
#include "dsp/FmcwRange.h"
#include "dsp/FmcwRangeVelocity.h"
#include "dsp/Fsk.h"
#include "radar/Detection.h"
#include "radar/Settings.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tavrix::radar {

enum class Chain { None, FmcwRange, FmcwRangeVelocity, Cw, Fsk };

// The chain that serves an operating mode and display mode. FMCW triangle has none.
Chain ChainFor(int operatingMode, int displayMode);

// One read: samples, time-out, and the sample rate the recording page shows.
struct FrameRequest {
    std::int32_t count = 0;
    std::uint32_t timeoutMs = 0;
    double sampleRate = 0.0;
    std::uint32_t samplesPerSweep = 0;
    // The chain takes the board's pairs as they came (a PackedFrame): a board's source may
    // deliver them so.
    bool packed = false;
};

// The raw I and Q of the time scope, after the cleaning the chain applies.
struct TimeScope {
    std::vector<double> i;
    std::vector<double> q;
    double interval = 0.0;      // seconds between samples
    std::optional<double> span; // axis end the chain asks for, else 9/10 of the block
};

struct Result {
    Chain chain = Chain::None;
    std::optional<TimeScope> scope;
    // FMCW range: the 513-bin profile in dB. Map display: 513 x 1024 map, nearest range first;
    // velocity waterfall: the 1024-bin velocity row. CW: the 1024-bin Doppler spectrum. FSK: the
    // combined 1024-position spectrum.
    std::vector<double> values;
    // Map display: the automatic colour range of `values` (dsp::AutoMaximum, AutoMinimum),
    // worked out here so the window's thread need not scan half a million values per frame;
    // each only when the settings ask for it (and a maximum only when a value is finite).
    std::optional<std::int32_t> mapAutoMaximum;
    std::optional<std::int32_t> mapAutoMinimum;
    dsp::FskTarget fskTarget; // FSK only
    dsp::FskWindow fskWindow;
    // Every target the detector finds, strongest first; empty while it is off.
    std::vector<Detection> detections;
};

class Pipeline {
public:
    Pipeline();
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // What to read for a frame under `s`; nullopt when no chain serves the modes.
    static std::optional<FrameRequest> Request(const Settings& s);
    // Turns a frame of Request(s).count samples into `out`. False (with `out` unusable) when
    // the chain refuses the frame's shape.
    bool Process(const Settings& s, SampleBlock& frame, Result& out);
    // The same for a frame in the board's pairs when `packed` holds a read, else in `frame`:
    // the range-velocity chain converts each sweep as it transforms it; for any other chain
    // the pairs are converted into `frame` first.
    bool Process(const Settings& s, const PackedFrame& packed, SampleBlock& frame, Result& out);
    // The next frame starts the clutter history afresh (the parameters changed).
    void ResetClutter() { clutterReset = true; }
    // A map's values the caller is done with (any thread): the next map is written into them
    // instead of into 4 MB fresh from the system, zeroed and faulted in page by page. Values
    // of another size are dropped.
    void ReturnMapValues(std::vector<double>&& spent);

private:
    bool processFmcwRange(const Settings& s, SampleBlock& frame, Result& out);
    // From `frame`, or without one from `packed`.
    bool processFmcwRangeVelocity(const Settings& s, SampleBlock* frame, const PackedFrame* packed,
                                  Result& out);
    bool processCw(const Settings& s, SampleBlock& frame, Result& out);
    bool processFsk(const Settings& s, SampleBlock& frame, Result& out);
    void cancelClutter(const Settings& s, SampleBlock& frame);
    // Adds the detections `s` asks for to a result made.
    bool detect(const Settings& s, bool made, Result& out) const;
    const dsp::ComplexVector& rangeWeights(std::size_t count);
    std::vector<double> takeMapValues();

    bool clutterReset = true;
    dsp::ComplexVector clutterReference;
    std::deque<dsp::ComplexVector> clutterHistory;
    dsp::BandFilterCache rangeFilter;
    dsp::BandFilterCache velocityFilter;
    dsp::ComplexVector fskVelocityFilter; // its scale and length differ from the map's
    dsp::ComplexVector weights;
    dsp::FmcwRangeProfiler profiler;
    std::unique_ptr<dsp::FmcwRangeVelocityMapper> mapper; // large: made when first needed
    std::vector<dsp::LevelSummary> rowLevels; // of the map's rows, for its automatic range
    std::mutex spareLock;
    std::vector<double> spareMapValues;
};

} // namespace tavrix::radar
