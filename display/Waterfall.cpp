#include "display/Waterfall.h"

#include "display/ColorSchemes.h"
#include "display/LookupRasterItem.h"
#include "display/Tavrix_RasterData.h"

#include <QVector>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <qwt_color_map.h>

Waterfall::Waterfall() : spectrogram(new LookupRasterItem(QString())) {}

Waterfall::~Waterfall() {
    delete spectrogram;
}

bool Waterfall::IsRing() const {
    // The 32-bit product may have wrapped; then the list is no whole number of rows.
    return rows_ > 0 && columns_ > 0 && values_.size() == std::size_t{columns_} * depth_;
}

void Waterfall::Touch(std::size_t first, std::size_t count) {
    for (std::size_t r = first; r < first + count && r < rowStamps_.size(); ++r)
        rowStamps_[r] = ++stamp_;
}

void Waterfall::Unroll() {
    if (head_ == 0)
        return;
    std::rotate(values_.begin(), values_.begin() + head_ * columns_, values_.end());
    // Stamps and times move with their rows: the buffers still hold what they held.
    std::rotate(rowStamps_.begin(), rowStamps_.begin() + head_, rowStamps_.end());
    std::rotate(times_.begin(), times_.begin() + head_, times_.end());
    head_ = 0;
}

void Waterfall::SetHistorySize(quint32 columns, quint32 rows, quint32 screens) {
    columns_ = columns;
    rows_ = rows;
    depth_ = rows;
    const quint64 shown = quint64{columns} * rows;
    if (shown > 0 && shown <= UINT32_MAX) {
        const std::size_t fit = kMaxKeptBytes / sizeof(double) / columns;
        const std::size_t wanted = std::size_t{rows} * std::max<quint32>(screens, 1);
        depth_ = std::max<std::size_t>(rows, std::min(wanted, fit));
        values_.assign(std::size_t{columns} * depth_, 0.0);
    } else {
        values_.assign(static_cast<quint32>(columns * rows), 0.0);
    }
    head_ = 0;
    turn_ = 0;
    filled_ = 0;
    offset_ = 0;
    const bool ring = IsRing();
    times_.assign(ring ? depth_ : 0, std::numeric_limits<double>::quiet_NaN());
    rowStamps_.assign(ring ? depth_ : 0, ++stamp_);
    bulkStamp_ = stamp_;
}

void Waterfall::ClearHistory() {
    // Every kept row: an offset later reaches rows this leaves alone.
    std::fill(values_.begin(), values_.end(), 0.0);
    std::fill(times_.begin(), times_.end(), std::numeric_limits<double>::quiet_NaN());
    std::fill(rowStamps_.begin(), rowStamps_.end(), ++stamp_);
    bulkStamp_ = stamp_;
    filled_ = 0;
    offset_ = 0;
}

void Waterfall::AddRow(const std::vector<double>& values, bool scroll, double time) {
    if (!scroll) {
        Unroll();
        const std::size_t count = std::min(values.size(), HistorySize());
        std::copy_n(values.begin(), count, values_.begin());
        const std::size_t reached = columns_ > 0 ? (count + columns_ - 1) / columns_ : 0;
        Touch(0, reached);
        std::fill_n(times_.begin(), std::min(reached, times_.size()), time);
        bulkStamp_ = stamp_;
        return;
    }
    if (IsRing() && values.size() == columns_) {
        head_ = (head_ + depth_ - 1) % depth_;
        turn_ = (turn_ + rows_ - 1) % rows_;
        std::copy(values.begin(), values.end(), values_.begin() + head_ * columns_);
        rowStamps_[head_] = ++stamp_;
        times_[head_] = time;
        ++scrolls_;
    } else {
        // A row of another width shifts the history off its row grid: insert and cut as a
        // list, every row changed.
        Unroll();
        const std::size_t size = values_.size();
        values_.insert(values_.begin(), values.begin(), values.end());
        values_.resize(size);
        if (!times_.empty()) {
            std::rotate(times_.rbegin(), times_.rbegin() + 1, times_.rend());
            times_.front() = time;
        }
        Touch(0, rowStamps_.size());
        bulkStamp_ = stamp_;
    }
    filled_ = std::min(filled_ + 1, depth_);
    // A view scrolled back stays on its rows, as far as they are kept.
    if (offset_ > 0)
        offset_ = std::min(offset_ + 1, MaxViewOffset());
}

void Waterfall::ReplaceHistory(std::vector<double>&& values, double time) {
    if (values.size() != values_.size()) {
        AddRow(values, false, time);
        return;
    }
    Unroll();
    values_.swap(values); // 4 MB at the largest map: a copy costs half a millisecond
    Touch(0, rowStamps_.size());
    std::fill(times_.begin(), times_.end(), time);
    bulkStamp_ = stamp_;
}

std::size_t Waterfall::MaxViewOffset() const {
    return IsRing() && filled_ > rows_ ? filled_ - rows_ : 0;
}

void Waterfall::SetViewOffset(std::size_t rows) {
    offset_ = std::min(rows, MaxViewOffset());
}

void Waterfall::SetColorScheme(quint32 index) {
    // Called every frame: installing a map replots the plot, so the same scheme is kept.
    if (index == scheme_)
        return;
    if (std::unique_ptr<QwtLinearColorMap> map = CreateColorMap(index)) {
        spectrogram->setColorMap(map.release());
        scheme_ = index;
    }
}

std::vector<double> Waterfall::History() const {
    std::vector<double> list;
    list.reserve(HistorySize());
    VisitHistory(HistorySize(), [&list](const double* piece, std::size_t count) {
        list.insert(list.end(), piece, piece + count);
    });
    return list;
}

double Waterfall::Time(std::size_t row) const {
    return row < times_.size() ? times_[StoredRow(row)] : std::numeric_limits<double>::quiet_NaN();
}

std::vector<double> Waterfall::ShownTimes() const {
    std::vector<double> times;
    if (times_.empty())
        return times;
    times.reserve(rows_);
    for (std::size_t r = 0; r < rows_; ++r)
        times.push_back(Time(offset_ + r));
    return times;
}

bool Waterfall::RedrawRaster() {
    if (!drawn_)
        return false;
    const RasterGeometry g = geometry_;
    UpdateRaster(g.columns, g.xMin, g.xMax, g.yMin, g.yMax, g.zMin, g.zMax);
    return true;
}

void Waterfall::UpdateRaster(quint32 columns, double xMin, double xMax, double yMin, double yMax,
                             double zMin, double zMax) {
    geometry_ = {columns, xMin, xMax, yMin, yMax, zMin, zMax};
    drawn_ = true;
    // Still shared only if someone else kept the raster's values; writing then copies them
    // away first, and the rows brought up to date below land in that copy.
    const int which = nextSnapshot_;
    QVector<double>& snapshot = snapshots_[which];
    std::vector<quint64>& held = heldStamps_[which];
    nextSnapshot_ ^= 1;
    const std::size_t shown = HistorySize();

    if (!IsRing() || columns != columns_) {
        // The raster's rows are not the ring's: the shown rows in list order.
        snapshot.resize(static_cast<int>(shown));
        double* out = snapshot.data();
        VisitList(offset_ * columns_, shown, [&out](const double* piece, std::size_t count) {
            out = std::copy(piece, piece + count, out);
        });
        held.clear();
        spectrogram->setData(new Tavrix_RasterData(snapshot, columns, xMin, xMax, yMin, yMax, zMin,
                                                   zMax, resampleSelection));
        return;
    }

    const std::size_t rows = rows_;
    std::size_t check = rows;
    Sync& sync = synced_[which];
    if (static_cast<std::size_t>(snapshot.size()) != shown || held.size() != rows) {
        snapshot.resize(static_cast<int>(shown));
        held.assign(rows, 0);
    } else if (offset_ == 0 && sync.offset == 0 && bulkStamp_ <= sync.stamp) {
        // Only rows scrolled in since the buffer took the newest rows can be new to it.
        check = static_cast<std::size_t>(std::min<quint64>(scrolls_ - sync.scrolls, rows));
    }
    sync = {stamp_, scrolls_, offset_};
    // Raster row r is list row offset_ + r, in buffer row (turn + r) % rows. Rows the buffer
    // lacks are copied in runs, so a whole history is one copy. Plain stores, not streaming
    // ones: the raster reads the copy straight after, and a map's 4 MB stays in the caches
    // for it (0.4 ms less per map frame on the window's thread than writing around them).
    double* const out = snapshot.data();
    const std::size_t turn = (turn_ + offset_) % rows;
    std::size_t stored = StoredRow(offset_);
    std::size_t slot = turn;
    std::size_t runStored = 0;
    std::size_t runSlot = 0;
    std::size_t runRows = 0;
    const auto copyRun = [&] {
        if (runRows > 0)
            std::copy_n(values_.data() + runStored * columns_, runRows * columns_,
                        out + runSlot * columns_);
    };
    for (std::size_t r = 0; r < check; ++r) {
        if (held[slot] != rowStamps_[stored]) {
            held[slot] = rowStamps_[stored];
            if (runRows > 0 && runStored + runRows == stored && runSlot + runRows == slot) {
                ++runRows;
            } else {
                copyRun();
                runStored = stored;
                runSlot = slot;
                runRows = 1;
            }
        }
        if (++stored == depth_)
            stored = 0;
        if (++slot == rows)
            slot = 0;
    }
    copyRun();
    spectrogram->setData(new TurnedRasterData(snapshot, columns, static_cast<int>(turn), xMin, xMax,
                                              yMin, yMax, zMin, zMax, resampleSelection));
}
