#include "dsp/Cfar.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>

namespace tavrix::dsp {
namespace {

typedef double v4d __attribute__((vector_size(32)));
typedef std::uint64_t v4u __attribute__((vector_size(32)));

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kDbLimit = 300.0;
constexpr double kLog2TenthOf10 = 0.33219280948873623479; // log2(10) / 10
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kRoundMagic = 6755399441055744.0; // 1.5 · 2^52: adding it rounds to an integer

// The region in lattice steps (strides), held to the data so that no product overflows.
struct Geometry {
    std::size_t rows = 0, columns = 0;
    std::size_t guardRows = 0, guardColumns = 0; // gr, gc
    std::size_t reachRows = 0, reachColumns = 0; // hr = gr + tr, hc = gc + tc
    std::size_t strideRows = 1, strideColumns = 1;
    bool cross = false;
    // Whole strides in 0, 1, 2 ... bins: a division per cell would cost tens of cycles.
    std::vector<std::size_t> rowSteps, columnSteps;
};

std::vector<std::size_t> Steps(std::size_t n, std::size_t stride) {
    std::vector<std::size_t> steps(n);
    for (std::size_t d = 0, whole = 0, phase = 0; d < n; ++d) {
        steps[d] = whole;
        if (++phase == stride) {
            phase = 0;
            ++whole;
        }
    }
    return steps;
}

Geometry MakeGeometry(std::size_t rows, std::size_t columns, const CfarParams& p) {
    Geometry g;
    g.rows = rows;
    g.columns = columns;
    g.strideRows = std::clamp<std::size_t>(p.stride.rows, 1, rows);
    g.strideColumns = std::clamp<std::size_t>(p.stride.columns, 1, columns);
    g.guardRows = std::min(p.guard.rows, rows);
    g.guardColumns = std::min(p.guard.columns, columns);
    g.reachRows = g.guardRows + std::min(p.training.rows, rows);
    g.reachColumns = g.guardColumns + std::min(p.training.columns, columns);
    g.cross = p.region == CfarRegion::Cross;
    g.rowSteps = Steps(rows, g.strideRows);
    g.columnSteps = Steps(columns, g.strideColumns);
    return g;
}

// Lattice cells within `half` strides of `pos` on an axis, `pos` included; steps[d] is the
// number of whole strides in d bins.
std::size_t Reach(std::size_t pos, std::size_t half, const std::vector<std::size_t>& steps) {
    return std::min(half, steps[pos]) + std::min(half, steps[steps.size() - 1 - pos]) + 1;
}

std::size_t TrainingCount(const Geometry& g, std::size_t outerRows, std::size_t innerRows,
                          std::size_t outerColumns, std::size_t innerColumns) {
    if (g.cross)
        return (outerRows - innerRows) + (outerColumns - innerColumns);
    return outerRows * outerColumns - innerRows * innerColumns;
}

// A bound on every cell's training count: the cells of the outer region.
std::size_t LargestTrainingCount(const Geometry& g) {
    const std::size_t rows = std::min(2 * g.reachRows + 1, g.rows);
    const std::size_t columns = std::min(2 * g.reachColumns + 1, g.columns);
    return g.cross ? rows + columns : rows * columns;
}

struct Hit {
    std::size_t index = 0;
    double noise = 0.0; // estimated mean noise power
};

// Box sums along a row over the lattice columns within `half` strides of each column, from a
// prefix sum shifted by one stride: pre[c + s] = pre[c] + P[c], pre[0..s) = 0.
class RowBox {
public:
    RowBox(std::size_t stride, std::size_t half, const std::vector<std::size_t>& steps) {
        const std::size_t columns = steps.size();
        const std::size_t span = half * stride;
        begin_ = std::min(span, columns);
        end_ = columns > span ? std::max(begin_, columns - span) : begin_;
        hi_.resize(columns);
        lo_.resize(columns);
        for (std::size_t c = 0; c < columns; ++c) {
            hi_[c] = c + stride * std::min(half, steps[columns - 1 - c]) + stride;
            lo_[c] = c - stride * std::min(half, steps[c]);
        }
        ahead_ = span + stride;
        behind_ = span;
    }

    void Sum(const double* pre, double* out) const {
        const std::size_t n = hi_.size();
        for (std::size_t c = 0; c < begin_; ++c)
            out[c] = pre[hi_[c]] - pre[lo_[c]];
        // Inside, the box never meets an edge: a plain difference the compiler vectorises.
        const double* ahead = pre + ahead_;
        const double* behind = pre - behind_;
        for (std::size_t c = begin_; c < end_; ++c)
            out[c] = ahead[c] - behind[c];
        for (std::size_t c = end_; c < n; ++c)
            out[c] = pre[hi_[c]] - pre[lo_[c]];
    }

private:
    std::vector<std::size_t> hi_, lo_;
    std::size_t begin_ = 0, end_ = 0, ahead_ = 0, behind_ = 0;
};

// pre[c + stride] = pre[c] + x[c] with pre[0..stride) = 0: the sums along each lattice row.
void PrefixSums(const double* x, std::size_t n, std::size_t stride, double* pre) {
    std::fill(pre, pre + stride, 0.0);
    if (stride > 1) {
        for (std::size_t c = 0; c < n; ++c)
            pre[c + stride] = pre[c] + x[c];
        return;
    }
    // One running sum would wait for every addition before the next: four quarters run side
    // by side instead, and each then takes the total of those before it.
    const std::size_t q = n / 4;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    double* out = pre + 1;
    for (std::size_t i = 0; i < q; ++i) {
        out[i] = s0 += x[i];
        out[q + i] = s1 += x[q + i];
        out[2 * q + i] = s2 += x[2 * q + i];
        out[3 * q + i] = s3 += x[3 * q + i];
    }
    for (std::size_t i = 4 * q; i < n; ++i)
        out[i] = s3 += x[i];
    for (std::size_t i = q; i < 2 * q; ++i)
        out[i] += s0;
    s1 += s0;
    for (std::size_t i = 2 * q; i < 3 * q; ++i)
        out[i] += s1;
    s2 += s1;
    for (std::size_t i = 3 * q; i < n; ++i)
        out[i] += s2;
}

// Threshold factor of each training count, as a multiple of the training sum for CA.
std::vector<double> CaFactors(std::size_t largest, const CfarParams& p) {
    std::vector<double> f(largest + 1, kInf); // no training cell: never detected
    const double fixed = p.thresholdDb ? std::pow(10.0, *p.thresholdDb / 10.0) : 0.0;
    for (std::size_t n = 1; n <= largest; ++n)
        f[n] = p.thresholdDb ? fixed / static_cast<double>(n)
                             : CaThresholdFactor(n, p.pfa) / static_cast<double>(n);
    return f;
}

void CellAveraging(const double* db, const Geometry& g, const CfarParams& p,
                   std::vector<Hit>& hits) {
    const std::size_t R = g.rows, C = g.columns, sr = g.strideRows, sc = g.strideColumns;
    const std::size_t outerSpan = g.reachRows * sr, innerSpan = g.guardRows * sr;
    // Rows r - outerSpan .. r + outerSpan are alive while row r is judged.
    const std::size_t ringRows = std::min(R, 2 * outerSpan + 1);
    const std::size_t residues = std::min(sr, R);
    std::vector<double> power(ringRows * C), outerBox(ringRows * C), innerBox(ringRows * C);
    std::vector<double> pre(C + sc);
    // Running column sums over the lattice rows, one set per residue of the row modulo sr.
    std::vector<double> outerSum(residues * C, 0.0), innerSum(residues * C, 0.0);
    const RowBox outerRow(sc, g.reachColumns, g.columnSteps);
    const RowBox innerRow(sc, g.guardColumns, g.columnSteps);
    const std::vector<double> factors = CaFactors(LargestTrainingCount(g), p);

    std::vector<std::size_t> outerColumns(C), innerColumns(C);
    for (std::size_t c = 0; c < C; ++c) {
        outerColumns[c] = Reach(c, g.reachColumns, g.columnSteps);
        innerColumns[c] = Reach(c, g.guardColumns, g.columnSteps);
    }
    // A window sums rows of box sums; a cross sums the power down the column and adds the
    // row's own arm.
    const std::vector<double>& down = g.cross ? power : outerBox;
    const std::vector<double>& downInner = g.cross ? power : innerBox;

    const auto slot = [&](std::size_t row) { return (row % ringRows) * C; };
    const auto load = [&](std::size_t row) {
        const std::size_t s = slot(row);
        PowerFromDecibels(db + row * C, &power[s], C);
        PrefixSums(&power[s], C, sc, pre.data());
        outerRow.Sum(pre.data(), &outerBox[s]);
        innerRow.Sum(pre.data(), &innerBox[s]);
    };
    const auto add = [C](double* sum, const double* row, double sign) {
        for (std::size_t c = 0; c < C; ++c)
            sum[c] += sign * row[c];
    };

    const std::size_t preloaded = std::min(outerSpan, R);
    for (std::size_t i = 0; i < preloaded; ++i) {
        load(i);
        add(&outerSum[(i % sr) * C], &down[slot(i)], 1.0);
        if (i < innerSpan)
            add(&innerSum[(i % sr) * C], &downInner[slot(i)], 1.0);
    }

    std::vector<double> rowFactors(C);
    std::size_t factorRows = 0, factorInner = 0; // the row counts rowFactors was made for
    for (std::size_t r = 0; r < R; ++r) {
        double* so = &outerSum[(r % sr) * C];
        double* si = &innerSum[(r % sr) * C];
        if (r + outerSpan < R) {
            load(r + outerSpan);
            add(so, &down[slot(r + outerSpan)], 1.0);
        }
        if (r + innerSpan < R)
            add(si, &downInner[slot(r + innerSpan)], 1.0);

        const std::size_t outerRows = Reach(r, g.reachRows, g.rowSteps);
        const std::size_t innerRows = Reach(r, g.guardRows, g.rowSteps);
        if (r == 0 || outerRows != factorRows || innerRows != factorInner) {
            for (std::size_t c = 0; c < C; ++c)
                rowFactors[c] = factors[TrainingCount(g, outerRows, innerRows, outerColumns[c],
                                                      innerColumns[c])];
            factorRows = outerRows;
            factorInner = innerRows;
        }
        const double* P = &power[slot(r)];
        const double* ob = &outerBox[slot(r)];
        const double* ib = &innerBox[slot(r)];
        const double arm = g.cross ? 1.0 : 0.0;
        for (std::size_t c = 0; c < C; ++c) {
            const double sum = so[c] - si[c] + arm * (ob[c] - ib[c]);
            if (P[c] > rowFactors[c] * sum && sum > 0.0) {
                const std::size_t n =
                    TrainingCount(g, outerRows, innerRows, outerColumns[c], innerColumns[c]);
                hits.push_back({r * C + c, sum / static_cast<double>(n)});
            }
        }

        if (r >= outerSpan)
            add(so, &down[slot(r - outerSpan)], -1.0);
        if (r >= innerSpan)
            add(si, &downInner[slot(r - innerSpan)], -1.0);
    }
}

// Calls visit(first, count, step) for each run of training cells of (r, c) until it returns
// false.
template <typename Visit>
void ForEachTrainingRun(const Geometry& g, std::size_t r, std::size_t c, const double* power,
                        Visit&& visit) {
    using I = std::ptrdiff_t;
    const I C = static_cast<I>(g.columns);
    const I sr = static_cast<I>(g.strideRows), sc = static_cast<I>(g.strideColumns);
    const I gr = static_cast<I>(g.guardRows), gc = static_cast<I>(g.guardColumns);
    const I up = static_cast<I>(std::min(g.reachRows, g.rowSteps[r]));
    const I down = static_cast<I>(std::min(g.reachRows, g.rowSteps[g.rows - 1 - r]));
    const I left = static_cast<I>(std::min(g.reachColumns, g.columnSteps[c]));
    const I right = static_cast<I>(std::min(g.reachColumns, g.columnSteps[g.columns - 1 - c]));
    const double* cell = power + r * g.columns + c;
    // Lattice offsets [from, to] along the row i strides away, or down the cell's column.
    const auto along = [&](I i, I from, I to) {
        return from > to ||
               visit(cell + i * sr * C + from * sc, static_cast<std::size_t>(to - from + 1),
                     static_cast<std::size_t>(sc));
    };
    const auto column = [&](I from, I to) {
        return from > to || visit(cell + from * sr * C, static_cast<std::size_t>(to - from + 1),
                                  static_cast<std::size_t>(sr * C));
    };
    if (g.cross) {
        static_cast<void>(
            along(0, -left, std::min(right, -gc - 1)) && along(0, std::max(-left, gc + 1), right) &&
            column(-up, std::min(down, -gr - 1)) && column(std::max(-up, gr + 1), down));
        return;
    }
    for (I i = -up; i <= down; ++i) {
        const bool guarded = i >= -gr && i <= gr;
        const bool more = guarded ? along(i, -left, std::min(right, -gc - 1)) &&
                                        along(i, std::max(-left, gc + 1), right)
                                  : along(i, -left, right);
        if (!more)
            return;
    }
}

void OrderedStatistic(const double* db, const Geometry& g, const CfarParams& p,
                      std::vector<Hit>& hits) {
    const std::size_t R = g.rows, C = g.columns;
    std::vector<double> power(R * C);
    PowerFromDecibels(db, power.data(), R * C);
    // Factors are solved for only the counts that occur, each once.
    std::vector<double> alpha(LargestTrainingCount(g) + 1, -1.0);
    const double fixed = p.thresholdDb ? std::pow(10.0, *p.thresholdDb / 10.0) : 0.0;
    std::vector<double> gathered;
    std::vector<std::size_t> outerColumns(C), innerColumns(C);
    for (std::size_t c = 0; c < C; ++c) {
        outerColumns[c] = Reach(c, g.reachColumns, g.columnSteps);
        innerColumns[c] = Reach(c, g.guardColumns, g.columnSteps);
    }
    for (std::size_t r = 0; r < R; ++r) {
        const std::size_t outerRows = Reach(r, g.reachRows, g.rowSteps);
        const std::size_t innerRows = Reach(r, g.guardRows, g.rowSteps);
        for (std::size_t c = 0; c < C; ++c) {
            const std::size_t n =
                TrainingCount(g, outerRows, innerRows, outerColumns[c], innerColumns[c]);
            if (n == 0)
                continue;
            const std::size_t k = OsRank(n, p.rank);
            if (alpha[n] < 0.0)
                alpha[n] =
                    p.thresholdDb ? fixed / OsMeanFactor(n, k) : OsThresholdFactor(n, k, p.pfa);
            // P > alpha X_(k) exactly when at least k training cells lie below P / alpha:
            // counting them needs no sort, and most cells are settled after a quarter.
            const double level = power[r * C + c] / alpha[n];
            std::size_t below = 0, left = n;
            bool detected = false;
            ForEachTrainingRun(g, r, c, power.data(),
                               [&](const double* x, std::size_t count, std::size_t step) {
                                   for (std::size_t i = 0; i < count; ++i)
                                       below += x[i * step] < level;
                                   left -= count;
                                   detected = below >= k;
                                   return !detected && below + left >= k;
                               });
            if (!detected)
                continue;
            gathered.clear();
            ForEachTrainingRun(g, r, c, power.data(),
                               [&](const double* x, std::size_t count, std::size_t step) {
                                   for (std::size_t i = 0; i < count; ++i)
                                       gathered.push_back(x[i * step]);
                                   return true;
                               });
            std::nth_element(gathered.begin(), gathered.begin() + (k - 1), gathered.end());
            hits.push_back({r * C + c, gathered[k - 1] / OsMeanFactor(n, k)});
        }
    }
}

// The strongest cell of each 8-connected group of hits (hits in row order).
std::vector<Hit> StrongestOfGroups(const std::vector<Hit>& hits, std::size_t columns,
                                   const double* db) {
    std::vector<std::size_t> parent(hits.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    const auto root = [&](std::size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    const auto join = [&](std::size_t i, std::size_t index) {
        const auto found =
            std::lower_bound(hits.begin(), hits.begin() + static_cast<std::ptrdiff_t>(i), index,
                             [](const Hit& h, std::size_t v) { return h.index < v; });
        if (found != hits.begin() + static_cast<std::ptrdiff_t>(i) && found->index == index) {
            const std::size_t a = root(i), b = root(static_cast<std::size_t>(found - hits.begin()));
            parent[std::max(a, b)] = std::min(a, b);
        }
    };
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const std::size_t r = hits[i].index / columns, c = hits[i].index % columns;
        if (c > 0)
            join(i, hits[i].index - 1);
        if (r > 0) {
            const std::size_t above = hits[i].index - columns;
            if (c > 0)
                join(i, above - 1);
            join(i, above);
            if (c + 1 < columns)
                join(i, above + 1);
        }
    }
    std::vector<std::size_t> best(hits.size(), hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i) {
        std::size_t& b = best[root(i)];
        if (b == hits.size() || db[hits[i].index] > db[hits[b].index])
            b = i;
    }
    std::vector<Hit> kept;
    for (std::size_t i = 0; i < hits.size(); ++i)
        if (root(i) == i)
            kept.push_back(hits[best[i]]);
    std::sort(kept.begin(), kept.end(),
              [](const Hit& a, const Hit& b) { return a.index < b.index; });
    return kept;
}

// Of peaks within the guard extent of a stronger one (in both axes) only the stronger stays:
// a target's echo fills its guard cells, and its side lobes can rise there in groups of
// their own.
std::vector<Hit> OutsideStrongerGuards(const std::vector<Hit>& peaks, const Geometry& g,
                                       const double* db) {
    const std::size_t er = g.guardRows * g.strideRows, ec = g.guardColumns * g.strideColumns;
    if (peaks.size() < 2 || (er == 0 && ec == 0))
        return peaks;
    std::vector<std::size_t> order(peaks.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return db[peaks[a].index] > db[peaks[b].index];
    });
    // Cells inside the guard extent of a peak kept so far.
    std::vector<unsigned char> claimed(g.rows * g.columns);
    std::vector<Hit> kept;
    for (std::size_t i : order) {
        const std::size_t index = peaks[i].index;
        if (claimed[index])
            continue;
        kept.push_back(peaks[i]);
        const std::size_t r = index / g.columns, c = index % g.columns;
        const std::size_t c0 = c - std::min(c, ec), c1 = std::min(g.columns - 1, c + ec);
        for (std::size_t rr = r - std::min(r, er); rr <= std::min(g.rows - 1, r + er); ++rr)
            std::fill(&claimed[rr * g.columns + c0], &claimed[rr * g.columns + c1] + 1, 1);
    }
    std::sort(kept.begin(), kept.end(),
              [](const Hit& a, const Hit& b) { return a.index < b.index; });
    return kept;
}

std::vector<CfarDetection> Detect(const double* db, const Geometry& g, const CfarParams& p) {
    if (p.thresholdDb ? !std::isfinite(*p.thresholdDb) : !(p.pfa > 0.0 && p.pfa < 1.0))
        return {};
    std::vector<Hit> hits;
    if (p.variant == CfarVariant::CellAveraging)
        CellAveraging(db, g, p, hits);
    else
        OrderedStatistic(db, g, p, hits);
    if (p.groupPeaks)
        hits = OutsideStrongerGuards(StrongestOfGroups(hits, g.columns, db), g, db);
    std::vector<CfarDetection> out;
    out.reserve(hits.size());
    for (const Hit& h : hits) {
        CfarDetection d;
        d.row = h.index / g.columns;
        d.column = h.index % g.columns;
        d.powerDb = db[h.index];
        d.noiseDb = 10.0 * std::log10(h.noise);
        d.snrDb = d.powerDb - d.noiseDb;
        out.push_back(d);
    }
    return out;
}

} // namespace

std::vector<CfarDetection> Cfar2D(Span<const double> db, std::size_t rows, std::size_t columns,
                                  const CfarParams& params) {
    if (rows == 0 || columns == 0 || db.size() / columns != rows || db.size() % columns != 0)
        return {};
    return Detect(db.data(), MakeGeometry(rows, columns, params), params);
}

std::vector<CfarDetection> Cfar1D(Span<const double> db, const CfarParams& params) {
    if (db.empty())
        return {};
    CfarParams row = params;
    row.guard.rows = row.training.rows = 0;
    row.stride.rows = 1;
    return Detect(db.data(), MakeGeometry(1, db.size(), row), row);
}

double CaThresholdFactor(std::size_t n, double pfa) {
    if (n == 0)
        return kInf;
    const double count = static_cast<double>(n);
    return count * std::expm1(-std::log(pfa) / count);
}

double OsFalseAlarm(std::size_t n, std::size_t k, double alpha) {
    double logPfa = 0.0;
    for (std::size_t i = 0; i < k && i < n; ++i)
        logPfa -= std::log1p(alpha / static_cast<double>(n - i));
    return std::exp(logPfa);
}

double OsThresholdFactor(std::size_t n, std::size_t k, double pfa) {
    if (n == 0 || k == 0 || k > n)
        return kInf;
    // -ln Pfa(alpha) = sum ln(1 + alpha / (n - i)) rises and is concave, so each Newton step
    // from alpha = 0 lands below the root: the iteration climbs to it without overshooting.
    const double target = -std::log(pfa);
    double alpha = 0.0;
    for (int iteration = 0; iteration < 200; ++iteration) {
        double value = 0.0, slope = 0.0;
        for (std::size_t i = 0; i < k; ++i) {
            const double m = static_cast<double>(n - i);
            value += std::log1p(alpha / m);
            slope += 1.0 / (m + alpha);
        }
        const double step = (target - value) / slope;
        if (!(step > 1e-15 * std::max(alpha, 1.0)))
            break;
        alpha += step;
    }
    return alpha;
}

double OsMeanFactor(std::size_t n, std::size_t k) {
    double mean = 0.0;
    for (std::size_t i = 0; i < k && i < n; ++i)
        mean += 1.0 / static_cast<double>(n - i);
    return mean;
}

std::size_t OsRank(std::size_t n, double rank) {
    const double k = std::round(rank * static_cast<double>(n));
    if (!(k >= 1.0))
        return 1;
    return k >= static_cast<double>(n) ? n : static_cast<std::size_t>(k);
}

__attribute__((target_clones("avx2", "default"))) void
PowerFromDecibels(const double* db, double* power, std::size_t n) {
    const v4d low = {-kDbLimit, -kDbLimit, -kDbLimit, -kDbLimit};
    const v4d high = -low;
    // Vectors travel by reference: by value they would change the calling convention between
    // the two clones.
    const auto convert = [&](const v4d& x, v4d& y) {
        v4d held = x > low ? x : low; // NaN fails the comparison and goes to the floor
        held = held < high ? held : high;
        // 10^(x/10) = 2^w · 2^f with w whole and |f| <= 1/2; 2^f = e^(f ln 2) by its series to
        // the tenth power, which leaves under 3e-13.
        const v4d octaves = held * kLog2TenthOf10;
        const v4d rounded = octaves + kRoundMagic;
        const v4d whole = rounded - kRoundMagic;
        const v4d z = (octaves - whole) * kLn2;
        v4d e = z * (1.0 / 3628800.0) + 1.0 / 362880.0;
        e = e * z + 1.0 / 40320.0;
        e = e * z + 1.0 / 5040.0;
        e = e * z + 1.0 / 720.0;
        e = e * z + 1.0 / 120.0;
        e = e * z + 1.0 / 24.0;
        e = e * z + 1.0 / 6.0;
        e = e * z + 0.5;
        e = e * z + 1.0;
        e = e * z + 1.0;
        // The whole part sits in the low bits of `rounded`; moved into the exponent field
        // (|w| <= 100, so the biased exponent stays within 923..1123) it is 2^w.
        const v4u scale = (reinterpret_cast<v4u>(rounded) + 1023ULL) << 52;
        y = e * reinterpret_cast<v4d>(scale);
    };
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        v4d x, y;
        std::memcpy(&x, db + i, sizeof x);
        convert(x, y);
        std::memcpy(power + i, &y, sizeof y);
    }
    if (i < n) {
        v4d x = {0.0, 0.0, 0.0, 0.0}, y;
        std::memcpy(&x, db + i, (n - i) * sizeof(double));
        convert(x, y);
        std::memcpy(power + i, &y, (n - i) * sizeof(double));
    }
}

} // namespace tavrix::dsp
