#pragma once

// Targets in a chain's values: the CFAR detector of dsp/Cfar run on a range profile, a
// range-velocity map or a velocity spectrum, its cells turned into metres and metres per
// second. Pure functions of the values and their scales; nothing here touches a widget.

#include "dsp/Fsk.h"
#include "dsp/Types.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tavrix::radar {

// Declared, not included, so that radar::Settings can hold a DetectorSettings.
enum class Chain;
struct Result;
struct Settings;

struct DetectorSettings {
    enum Variant { CA, OS };
    bool enabled = false;
    Variant variant = CA;
    // On each side of the cell under test, in resolution cells (see DetectionScales).
    int guard = 2;
    int training = 8; // beyond the guard cells
    double pfa = 1e-5;
    std::optional<double> thresholdDb; // a fixed SNR threshold instead of the false-alarm law
    bool cross = false;                // map: the cell's row and column instead of a window
};

bool operator==(const DetectorSettings& a, const DetectorSettings& b);
inline bool operator!=(const DetectorSettings& a, const DetectorSettings& b) {
    return !(a == b);
}

struct Detection {
    std::optional<double> range_m;      // none in CW; in FSK only when the tone spectra are given
    std::optional<double> velocity_mps; // none on the range profile
    double snr_db = 0.0;                // over the estimated noise, in dB of power
    double level_db = 0.0;              // the cell's value as the chain gives it
    std::size_t row = 0;                // the cell in the values: row 0 on a profile or spectrum
    std::size_t column = 0;
};

// What the values' cells mean. A transform zero-filled to 1024 points interpolates: one
// independent resolution cell then spans 1024 / (samples transformed) bins, and the detector
// counts its guard and training cells in such cells, so that the noise it averages is
// independent as the false-alarm law assumes and a target's main lobe stays inside the guard.
// The Hamming window widens the cell to twice that along the axis it weights: the noise power
// of neighbouring bins of the unfilled transform correlates by 0.39 under it (0.02 two bins
// apart), and training cells that close would count as fewer than they are, raising the
// false-alarm rate to several times the configured one.
struct DetectionScales {
    double maxRange = 0.0;     // FMCW Rmax, m
    double velocitySpan = 0.0; // FMCW Vmax, CW vCW or FSK vFSK, m/s
    std::size_t rangeBinsPerCell = 1;
    std::size_t velocityBinsPerCell = 1;
    // Half-open runs of cells that the band filters of active windows pass, to which
    // detection keeps: a filter weakens echoes and noise alike, so an echo the user windowed
    // out could still stand out of its own weakened noise, and weakened training cells would
    // pull the noise estimate down at the band's edges into false alarms. Each run is detected
    // on as if the rest were not there; runs are held to the data.
    struct Run {
        std::size_t begin = 0;
        std::size_t end = SIZE_MAX;
    };
    Run rows;                        // the map's rows
    std::vector<Run> columns{Run{}}; // profile bins, map columns or spectrum positions
};

// The scales under `s` for `chain`: Rmax and N for FMCW range; Rmax, Vmax, N and the sweep
// count for the map; vCW and the decimated block length for CW; vFSK and the sweep count for
// FSK; and the Hamming window on the axis it weights (the map's range axis only). The runs
// follow the range window (bins as dsp::DetectionBins gives them), the map's velocity window
// (columns of speeds between its bounds, on both sides of zero, as its filter passes them)
// and the FSK velocity window (dsp::FskWindowPositions), where each is active.
DetectionScales DetectionScalesFor(const Settings& s, Chain chain);

// All four sort their detections by SNR, strongest first, and find nothing when the values do
// not have the chain's shape.

// The 513-bin range profile: bin k at k Rmax / 513.
std::vector<Detection> DetectInRangeProfile(dsp::Span<const double> profileDb,
                                            const DetectionScales& scales,
                                            const DetectorSettings& detector);

// The 513 x 1024 map, nearest range first (MapRows::NearFirst): row r at r Rmax / 513,
// column j at (j - 512) / 512 Vmax.
std::vector<Detection> DetectInRangeVelocityMap(dsp::Span<const double> mapDb,
                                                const DetectionScales& scales,
                                                const DetectorSettings& detector);

// The 1024-position CW spectrum, velocities as dsp::CwVelocityAxis gives them. Its values are
// dB of magnitude; they are doubled into dB of power for the detector.
std::vector<Detection> DetectInCwSpectrum(dsp::Span<const double> spectrumDb,
                                          const DetectionScales& scales,
                                          const DetectorSettings& detector);

// The combined 1024-position FSK spectrum, velocities as dsp::FskVelocityAt. Its values are dB
// of |A B|^2; the detector works on half of them, the geometric mean of the two tones' power,
// so that the SNR reads as a tone's. The noise of |A B| has a lighter tail than exponential
// power, so the false-alarm rate comes out below the configured one. With the tone spectra
// each detection also gets its range from the tones' phase difference, as the single FSK
// target does.
std::vector<Detection> DetectInFskSpectrum(dsp::Span<const double> combinedDb,
                                           const DetectionScales& scales,
                                           const DetectorSettings& detector,
                                           const dsp::FskSpectra* spectra = nullptr);

// The detections of a pipeline result under the settings it was made with: nothing while the
// detector is off, for the velocity waterfall's collapsed row (averaged dB, not power) or for
// a chain without values. FSK detections carry no range here (the result keeps no tone
// spectra).
std::vector<Detection> DetectTargets(const Result& result, const Settings& s,
                                     const DetectorSettings& detector);

} // namespace tavrix::radar
