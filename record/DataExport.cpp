#include "record/DataExport.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tavrix::record {

namespace {

namespace fs = std::filesystem;

std::string inQuotes(const std::string& path) {
    return "\"" + path + "\"";
}

std::string reason(int errorNumber) {
    return errorNumber != 0 ? std::strerror(errorNumber) : "unknown error";
}

// The shortest text that reads back as the same double; to_chars ignores the locale.
void appendNumber(std::string& out, double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, result.ptr);
}

void appendField(std::string& out, const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// A file to write: its bytes first go into `temporary` beside it.
struct PendingFile {
    std::string path;
    std::string bytes;
    std::string temporary; // empty: none exists
};

bool writeTemporary(PendingFile& file, std::string& error) {
    std::FILE* stream = nullptr;
    // "x": a file of that name, whoever's it is, is never opened.
    for (int n = 0; stream == nullptr; ++n) {
        const std::string name = file.path + ".part" + (n > 0 ? std::to_string(n) : "");
        errno = 0;
        stream = std::fopen(name.c_str(), "wbx");
        if (stream != nullptr) {
            file.temporary = name;
        } else if (errno != EEXIST || n == 99) {
            error = "Cannot create " + inQuotes(file.path) + ": " + reason(errno);
            return false;
        }
    }
    int failure = 0;
    errno = 0;
    if (std::fwrite(file.bytes.data(), 1, file.bytes.size(), stream) != file.bytes.size())
        failure = errno != 0 ? errno : EIO;
    errno = 0;
    if (failure == 0 && std::fflush(stream) != 0)
        failure = errno != 0 ? errno : EIO;
    errno = 0;
    if (std::fclose(stream) != 0 && failure == 0)
        failure = errno != 0 ? errno : EIO;
    if (failure != 0) {
        error = "Cannot write " + inQuotes(file.path) + ": " + reason(failure);
        return false;
    }
    return true;
}

// Writes every file or, on failure, leaves none of them (nor a temporary file).
bool writeFiles(std::vector<PendingFile>& files, std::string& error) {
    bool ok = true;
    for (PendingFile& file : files)
        if (!(ok = writeTemporary(file, error)))
            break;
    std::size_t renamed = 0;
    for (; ok && renamed < files.size(); ++renamed) {
        std::error_code ec;
        fs::rename(files[renamed].temporary, files[renamed].path, ec);
        if (ec) {
            error = "Cannot write " + inQuotes(files[renamed].path) + ": " + ec.message();
            ok = false;
            break;
        }
        files[renamed].temporary.clear();
    }
    if (!ok) {
        std::error_code ec;
        for (std::size_t i = 0; i < renamed; ++i)
            fs::remove(files[i].path, ec);
        for (const PendingFile& file : files)
            if (!file.temporary.empty())
                fs::remove(file.temporary, ec);
    }
    return ok;
}

bool writeFile(const std::string& path, std::string bytes, std::string& error) {
    std::vector<PendingFile> files{{path, std::move(bytes), {}}};
    return writeFiles(files, error);
}

bool checkMatrix(const std::string& path, const MatrixData& data, std::string& error) {
    const std::size_t expected = data.rows.values.size() * data.columns.values.size();
    if (data.values.size() == expected)
        return true;
    error = "Cannot write " + inQuotes(path) + ": the matrix holds " +
            std::to_string(data.values.size()) + " values, not " +
            std::to_string(data.rows.values.size()) + " rows of " +
            std::to_string(data.columns.values.size());
    return false;
}

// Format 1.0: magic, version, header length, then a dict padded with spaces and ended by a
// newline so that the data starts at a multiple of 64 bytes.
std::string npyFile(const std::vector<double>& values, const std::string& shape) {
    std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': " + shape + ", }";
    const std::size_t unpadded = 10 + header.size() + 1;
    header.append((64 - unpadded % 64) % 64, ' ');
    header += '\n';

    std::string out("\x93NUMPY\x01\x00", 8);
    out += static_cast<char>(header.size() & 0xFF);
    out += static_cast<char>(header.size() >> 8);
    out += header;
    out.reserve(out.size() + values.size() * 8);
    for (double value : values) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (int byte = 0; byte < 8; ++byte)
            out += static_cast<char>((bits >> (8 * byte)) & 0xFF);
    }
    return out;
}

std::string axisKey(const std::string& name) {
    std::string key;
    bool gap = false;
    for (char c : name.substr(0, name.find('('))) {
        const bool lower = c >= 'a' && c <= 'z';
        const bool upper = c >= 'A' && c <= 'Z';
        if (lower || upper || (c >= '0' && c <= '9')) {
            if (gap && !key.empty())
                key += '_';
            key += upper ? static_cast<char>(c - 'A' + 'a') : c;
            gap = false;
        } else {
            gap = true;
        }
    }
    return key;
}

} // namespace

bool writeCurvesCsv(const std::string& path, const CurveData& data, std::string& error) {
    const std::size_t count = data.x.values.size();
    for (const DataSeries& curve : data.curves) {
        if (curve.values.size() != count) {
            error = "Cannot write " + inQuotes(path) + ": curve \"" + curve.name + "\" has " +
                    std::to_string(curve.values.size()) + " values for " + std::to_string(count) +
                    " x values";
            return false;
        }
    }
    std::string text;
    text.reserve((count + 1) * (data.curves.size() + 1) * 24);
    appendField(text, data.x.name);
    for (const DataSeries& curve : data.curves) {
        text += ',';
        appendField(text, curve.name);
    }
    text += '\n';
    for (std::size_t i = 0; i < count; ++i) {
        appendNumber(text, data.x.values[i]);
        for (const DataSeries& curve : data.curves) {
            text += ',';
            appendNumber(text, curve.values[i]);
        }
        text += '\n';
    }
    return writeFile(path, std::move(text), error);
}

bool writeMatrixCsv(const std::string& path, const MatrixData& data, std::string& error) {
    if (!checkMatrix(path, data, error))
        return false;
    const std::size_t columns = data.columns.values.size();
    std::string text;
    text.reserve((data.rows.values.size() + 1) * (columns + 1) * 24);
    const std::string axes = data.rows.name + " \\ " + data.columns.name;
    appendField(text, data.valueName.empty() ? axes : data.valueName + ": " + axes);
    for (double value : data.columns.values) {
        text += ',';
        appendNumber(text, value);
    }
    text += '\n';
    for (std::size_t r = 0; r < data.rows.values.size(); ++r) {
        appendNumber(text, data.rows.values[r]);
        for (std::size_t c = 0; c < columns; ++c) {
            text += ',';
            appendNumber(text, data.values[r * columns + c]);
        }
        text += '\n';
    }
    return writeFile(path, std::move(text), error);
}

bool writeMatrixNpy(const std::string& path, const MatrixData& data, std::string& error) {
    if (!checkMatrix(path, data, error))
        return false;
    const std::size_t rows = data.rows.values.size();
    const std::size_t columns = data.columns.values.size();
    const auto [rowPath, columnPath] = npyAxisPaths(path, data);
    std::vector<PendingFile> files{
        {path,
         npyFile(data.values, "(" + std::to_string(rows) + ", " + std::to_string(columns) + ")"),
         {}},
        {rowPath, npyFile(data.rows.values, "(" + std::to_string(rows) + ",)"), {}},
        {columnPath, npyFile(data.columns.values, "(" + std::to_string(columns) + ",)"), {}}};
    return writeFiles(files, error);
}

std::pair<std::string, std::string> npyAxisPaths(const std::string& path, const MatrixData& data) {
    std::string base = path;
    if (base.size() >= 4) {
        std::string suffix = base.substr(base.size() - 4);
        for (char& c : suffix)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        if (suffix == ".npy")
            base.resize(base.size() - 4);
    }
    std::string rowKey = axisKey(data.rows.name);
    std::string columnKey = axisKey(data.columns.name);
    if (rowKey.empty())
        rowKey = "rows";
    if (columnKey.empty())
        columnKey = "columns";
    if (rowKey == columnKey) {
        rowKey = "rows";
        columnKey = "columns";
    }
    return {base + "_" + rowKey + ".npy", base + "_" + columnKey + ".npy"};
}

} // namespace tavrix::record
