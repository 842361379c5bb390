#pragma once

#include <QVector>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <vector>

class QwtPlotSpectrogram;

// The history of a waterfall display and the spectrogram that draws it. The history is a
// list of rows * columns values, newest row first, each row with the time it was taken. It
// lives in a ring of rows, so adding a row moves one row of values, not the whole history;
// the list order is built only when the history is read. The ring may keep more rows than
// are shown, so a paused display can be scrolled back through them. The raster keeps a ring
// order of its own and is told how far it is turned, so handing the shown rows to the
// spectrogram copies only the rows that changed.
class Waterfall {
public:
    // Rows kept for scrolling back: this many screens, within the memory cap.
    static constexpr quint32 kScrollBackScreens = 8;
    static constexpr std::size_t kMaxKeptBytes = std::size_t{16} << 20;

    Waterfall();
    ~Waterfall();
    Waterfall(const Waterfall&) = delete;
    Waterfall& operator=(const Waterfall&) = delete;

    // The image item, owned; it owns its raster data and colour map.
    QwtPlotSpectrogram* const spectrogram;
    // 1 nearest neighbour, anything else bilinear interpolation; read by UpdateRaster.
    qint32 resampleSelection = 1;

    // A history of columns * rows zeros (the product taken in 32 bits), without times, shown
    // from its newest row. `screens` times as many rows are kept for scrolling back, as far
    // as kMaxKeptBytes of values allow (never fewer than `rows`).
    void SetHistorySize(quint32 columns, quint32 rows, quint32 screens = 1);
    // Zeros and no times again, at the same size; the view back at the newest row.
    void ClearHistory();

    // scroll: `values` go in front of the history, which is then cut back to its size from
    // the end (with exactly `columns` values: a new newest row taken at `time`, the oldest
    // row dropped). A view scrolled back keeps showing the same rows. Otherwise `values`
    // overwrite the beginning of the history and the rows they reach take `time`; values
    // beyond its length are ignored. Times are seconds on any clock; NaN for none.
    void AddRow(const std::vector<double>& values, bool scroll, double time);
    // The same for a whole new history (the map): `values` are taken instead of copied when
    // they fill it exactly, and `values` is left holding the history they replaced (else
    // their own values), for the next map to be written into.
    void ReplaceHistory(std::vector<double>&& values, double time);

    // Installs a new colour map of scheme `index` (see ColorSchemes.h); an index outside
    // the list keeps the installed one.
    void SetColorScheme(quint32 index);

    // Gives the spectrogram a new raster holding a copy of the shown rows (a TurnedRasterData
    // when its rows are whole rows of the ring). The copies go into two buffers in turn: the
    // one the installed raster holds, and the one the raster before it released, so no copy
    // needs fresh memory, and each buffer takes only the rows it does not hold yet.
    void UpdateRaster(quint32 columns, double xMin, double xMax, double yMin, double yMax,
                      double zMin, double zMax);
    // UpdateRaster with the arguments of its last call, after the view moved; false when it
    // was never called.
    bool RedrawRaster();

    quint32 columns() const { return columns_; }
    // Rows shown, and rows kept (at least those shown).
    quint32 rows() const { return rows_; }
    quint32 keptRows() const { return static_cast<quint32>(depth_); }
    // Values in the shown history.
    std::size_t HistorySize() const {
        return IsRing() ? std::size_t{columns_} * rows_ : values_.size();
    }

    // How many rows back from the newest the view starts. Offsets are clamped to
    // MaxViewOffset(): the rows scrolled in beyond one screen, as far as they are kept.
    void SetViewOffset(std::size_t rows);
    std::size_t ViewOffset() const { return offset_; }
    std::size_t MaxViewOffset() const;

    // The newest history as one list, newest row first, wherever the view is.
    std::vector<double> History() const;
    // The time of kept row `row` (0 the newest), NaN when it has none or is not kept.
    double Time(std::size_t row) const;
    // The times of the shown rows, bottom (newest shown) first; none when the history is no
    // whole number of rows.
    std::vector<double> ShownTimes() const;

    // Calls visit(const double* values, std::size_t count) for the first `count` values of
    // the newest history (clipped to its size), in order, in at most two pieces.
    template <typename Visitor> void VisitHistory(std::size_t count, Visitor&& visit) const {
        VisitList(0, std::min(count, HistorySize()), visit);
    }

private:
    struct RasterGeometry {
        quint32 columns;
        double xMin, xMax, yMin, yMax, zMin, zMax;
    };

    bool IsRing() const;
    void Unroll();
    // Gives stored rows [first, first + count) new contents: stamps no buffer holds.
    void Touch(std::size_t first, std::size_t count);
    std::size_t StoredRow(std::size_t row) const { return (head_ + row) % depth_; }
    // The list of all kept values from `start`, `count` of them, in at most two pieces.
    template <typename Visitor>
    void VisitList(std::size_t start, std::size_t count, Visitor&& visit) const {
        const std::size_t size = values_.size();
        if (count == 0 || start >= size)
            return;
        count = std::min(count, size - start);
        const std::size_t from = (head_ * columns_ + start) % size;
        const std::size_t first = std::min(count, size - from);
        visit(values_.data() + from, first);
        if (count > first)
            visit(values_.data(), count - first);
    }

    // Rows in storage order; list row r is storage row (head_ + r) % depth_.
    std::vector<double> values_;
    std::vector<double> times_; // per stored row; empty when the history is no ring
    std::size_t head_ = 0;
    std::size_t depth_ = 0;  // rows kept
    std::size_t filled_ = 0; // rows scrolled in since the history was emptied, up to depth_
    std::size_t offset_ = 0; // view, in rows back from the newest
    // The buffers' own ring: list row r sits in buffer row (turn_ + r) % rows_.
    std::size_t turn_ = 0;
    QVector<double> snapshots_[2];
    int nextSnapshot_ = 0;
    // Content stamps: of each stored row, and of the row each buffer row holds (0: none).
    // Equal stamps mean equal values; every change of a row's values takes a fresh one.
    std::vector<quint64> rowStamps_;
    std::vector<quint64> heldStamps_[2];
    quint64 stamp_ = 0;
    // Rows scrolled into the ring one at a time, and the stamp of the last change of another
    // kind (rows changed together, a clear, a new size); and for each buffer, when it last
    // took rows (the stamp and scroll count then) and from which view.
    quint64 scrolls_ = 0;
    quint64 bulkStamp_ = 0;
    struct Sync {
        quint64 stamp = 0;
        quint64 scrolls = 0;
        std::size_t offset = 0;
    };
    Sync synced_[2];
    RasterGeometry geometry_{};
    quint32 scheme_ = UINT32_MAX; // the colour scheme installed, none at first
    bool drawn_ = false;
    quint32 columns_ = 0;
    quint32 rows_ = 0;
};
