#pragma once

#include <QVector>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <vector>

class QwtPlotSpectrogram;

// The history of a waterfall display and the spectrogram that draws it. The history is a
// list of rows * columns values, newest row first. It lives in a ring of rows, so adding a
// row moves one row of values, not the whole history; the list order is built only when
// the history is read. The raster keeps the ring's order and is told how far it is turned,
// so handing the newest history to the spectrogram copies only the rows that changed.
class Waterfall {
public:
    Waterfall();
    ~Waterfall();
    Waterfall(const Waterfall&) = delete;
    Waterfall& operator=(const Waterfall&) = delete;

    // The image item, owned; it owns its raster data and colour map.
    QwtPlotSpectrogram* const spectrogram;
    // 1 nearest neighbour, anything else bilinear interpolation; read by UpdateRaster.
    qint32 resampleSelection = 1;

    // A history of columns * rows zeros (the product taken in 32 bits).
    void SetHistorySize(quint32 columns, quint32 rows);

    // scroll: `values` go in front of the history, which is then cut back to its size from
    // the end (with exactly `columns` values: a new newest row, the oldest row dropped).
    // Otherwise `values` overwrite the beginning of the history; values beyond its length
    // are ignored.
    void AddRow(const std::vector<double>& values, bool scroll);

    // Installs a new colour map of scheme `index` (see ColorSchemes.h); an index outside
    // the list keeps the installed one.
    void SetColorScheme(quint32 index);

    // Gives the spectrogram a new raster holding a copy of the history (a TurnedRasterData
    // when its rows are whole rows of the ring). The copies go into two buffers in turn: the
    // one the installed raster holds, and the one the raster before it released, so no copy
    // needs fresh memory, and each buffer takes only the rows changed since it was last used.
    void UpdateRaster(quint32 columns, double xMin, double xMax, double yMin, double yMax,
                      double zMin, double zMax);

    quint32 columns() const { return columns_; }
    quint32 rows() const { return rows_; }
    std::size_t HistorySize() const { return values_.size(); }

    // The history as one list, newest row first.
    std::vector<double> History() const;

    // Calls visit(const double* values, std::size_t count) for the first `count` values of
    // the history (newest first, clipped to its size), in order, in at most two pieces.
    template <typename Visitor> void VisitHistory(std::size_t count, Visitor&& visit) const {
        const std::size_t split = head_ * columns_;
        const std::size_t first = std::min(count, values_.size() - split);
        if (first > 0)
            visit(values_.data() + split, first);
        const std::size_t second = std::min(count - first, split);
        if (second > 0)
            visit(values_.data(), second);
    }

private:
    bool IsRing() const;
    void Unroll();
    // Marks stored rows [first, first + count) as changed, or the whole history.
    void Touch(std::size_t first, std::size_t count);
    void TouchAll() { wholeStamp_ = ++stamp_; }

    // Rows in storage order; list row r is storage row (head_ + r) % rows_.
    std::vector<double> values_;
    std::size_t head_ = 0;
    QVector<double> snapshots_[2];
    int nextSnapshot_ = 0;
    // Change stamps: of each stored row's last change, of the last change to the whole
    // history (its size or order), and of the history each buffer last copied in storage
    // order (0: none, or a copy in list order).
    std::vector<quint64> rowStamps_;
    quint64 stamp_ = 0;
    quint64 wholeStamp_ = 0;
    quint64 snapshotStamps_[2] = {0, 0};
    quint32 columns_ = 0;
    quint32 rows_ = 0;
};
