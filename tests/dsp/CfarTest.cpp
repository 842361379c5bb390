#include "dsp/Cfar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace tavrix::dsp;

namespace {

constexpr double kMinusInf = -std::numeric_limits<double>::infinity();

// dB of exponentially distributed (square-law) noise power of mean `mean`.
std::vector<double> NoiseDb(std::size_t n, std::mt19937_64& random, double mean = 1.0) {
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> db(n);
    for (double& v : db)
        v = 10.0 * std::log10(-mean * std::log1p(-uniform(random)));
    return db;
}

struct Decision {
    bool judged = false; // some training cell exists and the cell is clear of the threshold
    bool detected = false;
    double noise = 0.0;
};

// Each cell on its own: gathers its training cells by testing every lattice offset of the
// outer rectangle, then averages or sorts them.
std::vector<Decision> Reference(const std::vector<double>& db, std::size_t rows,
                                std::size_t columns, const CfarParams& p) {
    const long R = static_cast<long>(rows), C = static_cast<long>(columns);
    const long sr = static_cast<long>(std::max<std::size_t>(p.stride.rows, 1));
    const long sc = static_cast<long>(std::max<std::size_t>(p.stride.columns, 1));
    const long gr = static_cast<long>(p.guard.rows), gc = static_cast<long>(p.guard.columns);
    const long hr = gr + static_cast<long>(p.training.rows);
    const long hc = gc + static_cast<long>(p.training.columns);
    const auto power = [&](long r, long c) { return std::pow(10.0, db[r * C + c] / 10.0); };
    std::vector<Decision> out(db.size());
    for (long r = 0; r < R; ++r)
        for (long c = 0; c < C; ++c) {
            std::vector<double> training;
            for (long i = -hr; i <= hr; ++i)
                for (long j = -hc; j <= hc; ++j) {
                    const long rr = r + i * sr, cc = c + j * sc;
                    if (rr < 0 || rr >= R || cc < 0 || cc >= C)
                        continue;
                    const bool in =
                        p.region == CfarRegion::Cross
                            ? (i == 0 && std::abs(j) > gc) || (j == 0 && std::abs(i) > gr)
                            : std::abs(i) > gr || std::abs(j) > gc;
                    if (in)
                        training.push_back(power(rr, cc));
                }
            const std::size_t n = training.size();
            if (n == 0)
                continue;
            const double a = p.thresholdDb ? std::pow(10.0, *p.thresholdDb / 10.0) : 0.0;
            double estimate = 0.0, alpha = 0.0, noise = 0.0;
            if (p.variant == CfarVariant::CellAveraging) {
                for (double x : training)
                    estimate += x;
                estimate /= static_cast<double>(n);
                noise = estimate;
                alpha = p.thresholdDb ? a : CaThresholdFactor(n, p.pfa);
            } else {
                std::sort(training.begin(), training.end());
                const std::size_t k = OsRank(n, p.rank);
                estimate = training[k - 1];
                noise = estimate / OsMeanFactor(n, k);
                alpha = p.thresholdDb ? a / OsMeanFactor(n, k) : OsThresholdFactor(n, k, p.pfa);
            }
            const double cell = power(r, c), threshold = alpha * estimate;
            Decision& d = out[r * C + c];
            d.judged = std::abs(cell - threshold) > 1e-9 * threshold;
            d.detected = cell > threshold;
            d.noise = noise;
        }
    return out;
}

std::size_t CountDetections(const std::vector<double>& db, std::size_t rows, std::size_t columns,
                            const CfarParams& p) {
    return (rows == 1 ? Cfar1D(db, p) : Cfar2D(db, rows, columns, p)).size();
}

} // namespace

TEST(Cfar, EveryCellDecidesAsThePlainDefinitionIncludingEdgesAndStrides) {
    struct Case {
        std::size_t rows, columns;
        CfarRegion region;
        CfarExtent guard, training, stride;
        std::optional<double> thresholdDb;
    };
    const Case cases[] = {
        {1, 61, CfarRegion::Window, {0, 2}, {0, 8}, {1, 1}, {}},
        {1, 40, CfarRegion::Window, {0, 1}, {0, 30}, {1, 3}, {}}, // wider than the profile
        {1, 5, CfarRegion::Window, {0, 0}, {0, 1}, {1, 1}, 3.0},
        {19, 27, CfarRegion::Window, {1, 2}, {3, 4}, {1, 1}, {}},
        {19, 27, CfarRegion::Cross, {2, 1}, {4, 6}, {1, 1}, {}},
        {23, 31, CfarRegion::Window, {1, 1}, {2, 3}, {3, 2}, {}},
        {23, 31, CfarRegion::Cross, {1, 0}, {3, 5}, {2, 4}, 6.0},
        {7, 9, CfarRegion::Window, {2, 2}, {20, 20}, {1, 1}, {}}, // region larger than the map
        {40, 1, CfarRegion::Cross, {1, 1}, {5, 5}, {1, 1}, {}},
        {2, 2, CfarRegion::Window, {0, 0}, {1, 1}, {1, 1}, 1.0},
    };
    std::mt19937_64 random(7);
    std::size_t detections = 0;
    for (const Case& k : cases)
        for (CfarVariant variant : {CfarVariant::CellAveraging, CfarVariant::OrderedStatistic}) {
            // Noise at 10 dB, one cell in ten lifted 6..25 dB, one in fifty silent.
            std::vector<double> db = NoiseDb(k.rows * k.columns, random, 10.0);
            std::uniform_real_distribution<double> uniform(0.0, 1.0);
            for (double& v : db) {
                const double u = uniform(random);
                v = u < 0.02 ? kMinusInf : u < 0.12 ? v + 6.0 + 19.0 * uniform(random) : v;
            }
            CfarParams p;
            p.variant = variant;
            p.region = k.region;
            p.guard = k.guard;
            p.training = k.training;
            p.stride = k.stride;
            p.pfa = 1e-2;
            p.thresholdDb = k.thresholdDb;
            p.groupPeaks = false;
            const std::vector<Decision> expected = Reference(db, k.rows, k.columns, p);
            const std::vector<CfarDetection> found =
                k.rows == 1 ? Cfar1D(db, p) : Cfar2D(db, k.rows, k.columns, p);
            std::vector<bool> hit(db.size());
            for (const CfarDetection& d : found) {
                const std::size_t i = d.row * k.columns + d.column;
                hit[i] = true;
                SCOPED_TRACE(testing::Message() << k.rows << "x" << k.columns << " variant "
                                                << int(variant) << " cell " << i);
                ASSERT_TRUE(expected[i].detected || !expected[i].judged);
                EXPECT_NEAR(d.noiseDb, 10.0 * std::log10(expected[i].noise), 1e-9);
                EXPECT_DOUBLE_EQ(d.powerDb, db[i]);
                EXPECT_NEAR(d.snrDb, d.powerDb - d.noiseDb, 1e-12);
            }
            for (std::size_t i = 0; i < db.size(); ++i)
                EXPECT_TRUE(!expected[i].judged || hit[i] == expected[i].detected)
                    << k.rows << "x" << k.columns << " variant " << int(variant) << " cell " << i;
            detections += found.size();
        }
    EXPECT_GT(detections, 100u); // the comparison saw detections, not only silence
}

TEST(Cfar, FalseAlarmRateOnNoiseMatchesTheConfiguredProbability) {
    // Exponential noise power, every cell judged; counted without grouping. Each count expects
    // about 50 or more alarms, so a factor of two is far outside its spread, while a factor
    // derived for the wrong number of cells (e.g. the full count at the edges) is not.
    struct Case {
        CfarVariant variant;
        CfarRegion region;
        std::size_t rows, columns, maps;
        CfarExtent guard, training;
        double pfa;
    };
    const Case cases[] = {
        {CfarVariant::CellAveraging, CfarRegion::Window, 513, 1024, 1, {2, 2}, {8, 8}, 1e-3},
        {CfarVariant::CellAveraging, CfarRegion::Window, 513, 1024, 1, {2, 2}, {8, 8}, 1e-4},
        {CfarVariant::CellAveraging, CfarRegion::Cross, 513, 1024, 10, {1, 2}, {6, 10}, 1e-5},
        {CfarVariant::OrderedStatistic, CfarRegion::Cross, 513, 1024, 1, {2, 2}, {8, 8}, 1e-3},
        {CfarVariant::OrderedStatistic, CfarRegion::Window, 257, 512, 3, {1, 1}, {4, 4}, 1e-4},
        // Profiles so short that most cells sit at an edge with fewer training cells.
        {CfarVariant::CellAveraging, CfarRegion::Window, 1, 24, 20000, {0, 2}, {0, 8}, 1e-3},
        {CfarVariant::OrderedStatistic, CfarRegion::Window, 1, 24, 20000, {0, 2}, {0, 8}, 1e-3},
    };
    std::mt19937_64 random(11);
    for (const Case& k : cases) {
        CfarParams p;
        p.variant = k.variant;
        p.region = k.region;
        p.guard = k.guard;
        p.training = k.training;
        p.pfa = k.pfa;
        p.groupPeaks = false;
        std::size_t alarms = 0;
        for (std::size_t m = 0; m < k.maps; ++m)
            alarms += CountDetections(NoiseDb(k.rows * k.columns, random), k.rows, k.columns, p);
        const double rate = static_cast<double>(alarms) / (k.rows * k.columns * k.maps);
        EXPECT_GT(rate, k.pfa / 2) << "variant " << int(k.variant) << " pfa " << k.pfa;
        EXPECT_LT(rate, k.pfa * 2) << "variant " << int(k.variant) << " pfa " << k.pfa;
    }
}

TEST(Cfar, ThreeTargetsGiveOneDetectionEachAtTheirPeak) {
    // Two targets light a 3 x 3 patch (peak 20 dB over the noise, sides 14 dB), so several
    // connected cells pass; one sits on an edge and one in a corner, where the training region
    // is cut. The third has side lobes of 14 dB two cells either side, apart from it but
    // within its guard cells. Grouping has to keep only the peaks.
    const std::size_t R = 128, C = 256;
    const std::size_t at[3][2] = {{40, 100}, {0, 17}, {127, 255}};
    std::mt19937_64 random(3);
    const std::vector<double> noise = NoiseDb(R * C, random);
    std::vector<double> map = noise;
    const auto add = [&](long r, long c, double power) {
        if (r >= 0 && r < long(R) && c >= 0 && c < long(C))
            map[r * C + c] = 10.0 * std::log10(std::pow(10.0, map[r * C + c] / 10.0) + power);
    };
    for (const auto& t : at) {
        const long r = static_cast<long>(t[0]), c = static_cast<long>(t[1]);
        add(r, c, 100.0);
        for (long i = -1; i <= 1; ++i)
            for (long j = -1; j <= 1; ++j)
                if ((i != 0 || j != 0) && r != 40)
                    add(r + i, c + j, 25.0);
        if (r == 40) {
            add(r, c - 2, 25.0);
            add(r, c + 2, 25.0);
        }
    }
    for (CfarVariant variant : {CfarVariant::CellAveraging, CfarVariant::OrderedStatistic})
        for (CfarRegion region : {CfarRegion::Window, CfarRegion::Cross}) {
            CfarParams p;
            p.variant = variant;
            p.region = region;
            p.guard = {2, 2};
            p.training = {8, 8};
            p.pfa = 1e-6;
            const std::vector<CfarDetection> found = Cfar2D(map, R, C, p);
            SCOPED_TRACE(testing::Message()
                         << "variant " << int(variant) << " region " << int(region));
            ASSERT_EQ(found.size(), 3u);
            // Row order: the edge target first, then the middle one, then the corner.
            const std::size_t order[3] = {1, 0, 2};
            // A cross cut by a corner keeps 16 training cells, whose mean strays by decibels.
            const double spread = region == CfarRegion::Cross ? 3.0 : 1.0;
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(found[i].row, at[order[i]][0]);
                EXPECT_EQ(found[i].column, at[order[i]][1]);
                EXPECT_NEAR(found[i].noiseDb, 0.0, spread); // the noise's mean power is 1
                EXPECT_NEAR(found[i].snrDb, 20.0, spread + 1.0);
            }
            p.groupPeaks = false;
            EXPECT_GT(Cfar2D(map, R, C, p).size(), 6u); // the sides pass too
        }
}

TEST(Cfar, ThresholdFactorsMeetTheirFalseAlarmProbability) {
    for (std::size_t n : {1u, 2u, 16u, 100u, 416u})
        for (double pfa : {1e-3, 1e-6}) {
            // k = 1: the smallest of n exponentials is exponential with mean 1/n, so
            // Pfa = n / (n + alpha) in closed form.
            EXPECT_NEAR(OsThresholdFactor(n, 1, pfa), n * (1.0 / pfa - 1.0), 1e-9 * n / pfa);
            for (std::size_t k : {n / 2 + 1, OsRank(n, 0.75), n})
                EXPECT_NEAR(OsFalseAlarm(n, k, OsThresholdFactor(n, k, pfa)) / pfa, 1.0, 1e-9);
        }
    // CA on one cell is OS with n = k = 1; with very many cells the mean is known exactly and
    // alpha tends to -ln Pfa.
    EXPECT_NEAR(CaThresholdFactor(1, 1e-4), 1e4 - 1.0, 1e-6);
    EXPECT_NEAR(CaThresholdFactor(1000000, 1e-4), -std::log(1e-4), 1e-4);
    EXPECT_EQ(OsRank(3, 0.0), 1u);
    EXPECT_EQ(OsRank(3, 2.0), 3u);
}

TEST(Cfar, PowerFromDecibelsIsPreciseAndKeepsSumsFinite) {
    std::vector<double> db;
    for (double x = -299.9; x < 300.0; x += 0.37)
        db.push_back(x);
    const double special[] = {0.0,          -3.0103,   1e-12,
                              std::nan(""), kMinusInf, std::numeric_limits<double>::infinity(),
                              1000.0,       -1000.0};
    db.insert(db.end(), std::begin(special), std::end(special));
    std::vector<double> power(db.size());
    PowerFromDecibels(db.data(), power.data(), db.size());
    for (std::size_t i = 0; i < db.size(); ++i) {
        const double held = std::isnan(db[i]) ? -300.0 : std::clamp(db[i], -300.0, 300.0);
        EXPECT_NEAR(power[i] / std::pow(10.0, held / 10.0), 1.0, 1e-12) << db[i];
    }
}
