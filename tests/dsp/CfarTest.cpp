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
constexpr auto CA = CfarVariant::CellAveraging, OS = CfarVariant::OrderedStatistic;
constexpr auto Cross = CfarRegion::Cross, Window = CfarRegion::Window;

// dB of exponentially distributed (square-law) noise power of mean `mean`.
std::vector<double> NoiseDb(std::size_t n, std::mt19937_64& random, double mean = 1.0) {
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<double> db(n);
    for (double& v : db)
        v = 10.0 * std::log10(-mean * std::log1p(-uniform(random)));
    return db;
}

CfarParams Params(CfarVariant variant, CfarRegion region, CfarExtent guard, CfarExtent training,
                  double pfa, CfarExtent stride = {1, 1}, std::optional<double> thresholdDb = {}) {
    return {variant, region, guard, training, stride, pfa, thresholdDb, 0.75, false};
}

std::vector<CfarDetection> Detect(const std::vector<double>& db, std::size_t rows,
                                  std::size_t columns, const CfarParams& p) {
    return rows == 1 ? Cfar1D(db, p) : Cfar2D(db, rows, columns, p);
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
                    if (p.region == Cross
                            ? (i == 0 && std::abs(j) > gc) || (j == 0 && std::abs(i) > gr)
                            : std::abs(i) > gr || std::abs(j) > gc)
                        training.push_back(power(rr, cc));
                }
            const std::size_t n = training.size();
            if (n == 0)
                continue;
            const double a = p.thresholdDb ? std::pow(10.0, *p.thresholdDb / 10.0) : 0.0;
            double estimate = 0.0, alpha = 0.0, noise = 0.0;
            if (p.variant == CA) {
                for (double x : training)
                    estimate += x / static_cast<double>(n);
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
            out[r * C + c] = {std::abs(cell - threshold) > 1e-9 * threshold, cell > threshold,
                              noise};
        }
    return out;
}

} // namespace

TEST(Cfar, EveryCellDecidesAsThePlainDefinitionIncludingEdgesAndStrides) {
    const struct {
        std::size_t rows, columns;
        CfarRegion region;
        CfarExtent guard, training, stride;
        std::optional<double> thresholdDb;
    } cases[] = {
        {1, 61, Window, {0, 2}, {0, 8}, {1, 1}, {}},
        {1, 40, Window, {0, 1}, {0, 30}, {1, 3}, {}}, // wider than the profile
        {1, 5, Window, {0, 0}, {0, 1}, {1, 1}, 3.0},
        {19, 27, Window, {1, 2}, {3, 4}, {1, 1}, {}},
        {19, 27, Cross, {2, 1}, {4, 6}, {1, 1}, {}},
        {23, 31, Window, {1, 1}, {2, 3}, {3, 2}, {}},
        {23, 31, Cross, {1, 0}, {3, 5}, {2, 4}, 6.0},
        {7, 9, Window, {2, 2}, {20, 20}, {1, 1}, {}}, // region larger than the map
        {40, 1, Cross, {1, 1}, {5, 5}, {1, 1}, {}},
        {2, 2, Window, {0, 0}, {1, 1}, {1, 1}, 1.0},
    };
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::size_t detections = 0;
    for (const auto& k : cases)
        for (CfarVariant variant : {CA, OS}) {
            SCOPED_TRACE(testing::Message()
                         << k.rows << "x" << k.columns << " variant " << int(variant));
            // Noise at 10 dB, one cell in ten lifted 6..25 dB, one in fifty silent.
            std::vector<double> db = NoiseDb(k.rows * k.columns, random, 10.0);
            for (double& v : db) {
                const double u = uniform(random);
                v = u < 0.02 ? kMinusInf : u < 0.12 ? v + 6.0 + 19.0 * uniform(random) : v;
            }
            const CfarParams p =
                Params(variant, k.region, k.guard, k.training, 1e-2, k.stride, k.thresholdDb);
            const std::vector<Decision> expected = Reference(db, k.rows, k.columns, p);
            const std::vector<CfarDetection> found = Detect(db, k.rows, k.columns, p);
            std::vector<bool> hit(db.size());
            for (const CfarDetection& d : found) {
                const std::size_t i = d.row * k.columns + d.column;
                hit[i] = true;
                ASSERT_TRUE(expected[i].detected || !expected[i].judged) << "cell " << i;
                EXPECT_NEAR(d.noiseDb, 10.0 * std::log10(expected[i].noise), 1e-9);
                EXPECT_DOUBLE_EQ(d.powerDb, db[i]);
                EXPECT_NEAR(d.snrDb, d.powerDb - d.noiseDb, 1e-12);
            }
            for (std::size_t i = 0; i < db.size(); ++i)
                EXPECT_TRUE(!expected[i].judged || hit[i] == expected[i].detected) << "cell " << i;
            detections += found.size();
            // Grouped, only the strongest of each connected group of those cells is left, and
            // of those none within the guard extent of another (side lobes rise there).
            CfarParams grouped = p;
            grouped.groupPeaks = true;
            const std::vector<CfarDetection> kept = Detect(db, k.rows, k.columns, grouped);
            const auto apart = [](std::size_t a, std::size_t b) { return a > b ? a - b : b - a; };
            for (const CfarDetection& d : kept) {
                EXPECT_TRUE(hit[d.row * k.columns + d.column]);
                for (long i = -1; i <= 1; ++i)
                    for (long j = -1; j <= 1; ++j) {
                        const std::size_t r = d.row + i, c = d.column + j;
                        EXPECT_TRUE(r >= k.rows || c >= k.columns || !hit[r * k.columns + c] ||
                                    db[r * k.columns + c] <= d.powerDb);
                    }
                for (const CfarDetection& e : kept)
                    EXPECT_TRUE(&d == &e || apart(d.row, e.row) > k.guard.rows * k.stride.rows ||
                                apart(d.column, e.column) > k.guard.columns * k.stride.columns);
            }
        }
    EXPECT_GT(detections, 100u); // the comparison saw detections, not only silence
}

TEST(Cfar, ThresholdFactorsMeetTheirFalseAlarmProbability) {
    for (std::size_t n : {1u, 2u, 16u, 416u})
        for (double pfa : {1e-3, 1e-6}) {
            // k = 1: the smallest of n exponentials has mean 1/n, so Pfa = n / (n + alpha).
            EXPECT_NEAR(OsThresholdFactor(n, 1, pfa), n * (1.0 / pfa - 1.0), 1e-9 * n / pfa);
            for (std::size_t k : {n / 2 + 1, OsRank(n, 0.75), n})
                EXPECT_NEAR(OsFalseAlarm(n, k, OsThresholdFactor(n, k, pfa)) / pfa, 1.0, 1e-9);
        }
    // CA on one cell is OS with n = k = 1; over very many cells alpha tends to -ln Pfa.
    EXPECT_NEAR(CaThresholdFactor(1, 1e-4), 1e4 - 1.0, 1e-6);
    EXPECT_NEAR(CaThresholdFactor(1000000, 1e-4), -std::log(1e-4), 1e-4);
}
