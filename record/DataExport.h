#pragma once

// The numbers a plot holds, for other programs: curves as CSV, matrices as CSV or as NumPy
// .npy arrays. Numbers are written in full (they read back bit for bit, "nan", "inf" and
// "-inf" included) with a "." decimal point whatever the locale. A writer leaves complete
// files or none: the bytes go into a temporary file beside each target, which takes the
// target's name only once all of them are written, so a failed export keeps any older file
// of that name as it was. On failure `error` names the file and the reason.

#include <string>
#include <utility>
#include <vector>

namespace tavrix::record {

// An axis or a curve: its name as the plot shows it (with the unit) and its values.
struct DataSeries {
    std::string name;
    std::vector<double> values;
};

// Curves over one x axis: value i of each curve belongs to x value i.
struct CurveData {
    DataSeries x;
    std::vector<DataSeries> curves;
};

// A matrix, row by row: rows.values holds one axis value per row, columns.values one per
// column, and `values` rows * columns values.
struct MatrixData {
    std::string valueName; // what the values are, e.g. "Intensity (dB)"
    DataSeries rows;
    DataSeries columns;
    std::vector<double> values;
};

// A header line of the names, then one line per x value: x, then each curve's value.
bool writeCurvesCsv(const std::string& path, const CurveData& data, std::string& error);

// The first line holds a cell naming the values and both axes ("<value>: <rows> \ <columns>"),
// then the column axis values; each further line a row axis value, then that row's values.
bool writeMatrixCsv(const std::string& path, const MatrixData& data, std::string& error);

// The values at `path` as a .npy array (format 1.0, '<f8', C order) of shape (rows, columns).
// .npy holds no names, so each axis goes into a 1-D .npy file of its own beside it, at the
// paths npyAxisPaths() gives. All three files are written, or none.
bool writeMatrixNpy(const std::string& path, const MatrixData& data, std::string& error);

// The row and column axis files of a matrix written to `path`: "<base>_<axis>.npy", where
// <base> is `path` without its ".npy" and <axis> the axis name before any "(", lower case,
// with "_" between words ("Range (meters)" gives "<base>_range.npy"). An axis whose name gives
// nothing, or the same as the other axis, is called "rows" or "columns".
std::pair<std::string, std::string> npyAxisPaths(const std::string& path, const MatrixData& data);

} // namespace tavrix::record
