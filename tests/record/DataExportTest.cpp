// Plot data for other programs: CSV and .npy files read back bit for bit under a locale whose
// decimal point is a comma, and a failed write keeps no file, nor a part of one, and names it.

#include "record/DataExport.h"
#include "tests/record/RecordDir.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <locale>
#include <stdexcept>
#include <sys/resource.h>

namespace {

using namespace tavrix::record;

const double kInf = std::numeric_limits<double>::infinity();
// Values whose shortest text is long, subnormal, huge, signed or no number at all.
const std::vector<double> kTricky = {0.1,  1.0 / 3.0, -2.5e-310,  1.7976931348623157e308,
                                     -0.0, -kInf,     123456.789, std::nan("")};

std::string bytesOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool sameBits(double a, double b) {
    return std::isnan(a) ? std::isnan(b) : std::memcmp(&a, &b, sizeof a) == 0;
}

void expectSame(const std::vector<double>& read, const std::vector<double>& written) {
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        EXPECT_TRUE(sameBits(read[i], written[i])) << i << ": " << read[i] << " " << written[i];
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

// A whole field as a number with a "." decimal point.
double number(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_TRUE(result.ec == std::errc() && result.ptr == text.data() + text.size()) << text;
    return value;
}

std::vector<double> numbers(const std::vector<std::string>& fields, std::size_t from) {
    std::vector<double> values;
    for (std::size_t i = from; i < fields.size(); ++i)
        values.push_back(number(fields[i]));
    return values;
}

// The lines of a file that ends in a newline.
std::vector<std::string> lines(const std::string& file) {
    std::vector<std::string> all = split(bytesOf(file), '\n');
    EXPECT_EQ(all.back(), "");
    all.pop_back();
    return all;
}

struct Npy {
    std::vector<std::size_t> shape;
    std::vector<double> values;
};

// Reads a version 1.0 .npy file of little-endian doubles in C order.
Npy readNpy(const std::string& file) {
    const std::string bytes = bytesOf(file);
    Npy npy;
    if (bytes.size() < 10 || bytes.compare(0, 8, std::string("\x93NUMPY\x01\x00", 8)) != 0) {
        ADD_FAILURE() << file << " starts with no .npy 1.0 magic";
        return npy;
    }
    const std::size_t length = static_cast<unsigned char>(bytes[8]) |
                               static_cast<std::size_t>(static_cast<unsigned char>(bytes[9])) << 8;
    const std::string header = bytes.substr(10, length);
    EXPECT_EQ((10 + length) % 64, 0u) << file;
    EXPECT_EQ(header.back(), '\n');
    EXPECT_EQ(header.front(), '{');
    EXPECT_NE(header.find("'descr': '<f8'"), std::string::npos) << header;
    EXPECT_NE(header.find("'fortran_order': False"), std::string::npos) << header;
    const std::size_t open = header.find("'shape': (");
    const std::size_t close = header.find(')', open);
    if (open == std::string::npos || close == std::string::npos) {
        ADD_FAILURE() << "no shape in " << header;
        return npy;
    }
    std::size_t count = 1;
    for (std::string dimension : split(header.substr(open + 10, close - open - 10), ',')) {
        dimension.erase(0, dimension.find_first_not_of(' '));
        if (!dimension.empty())
            count *= npy.shape.emplace_back(std::stoul(dimension));
    }
    EXPECT_EQ(bytes.size(), 10 + length + count * 8) << file;
    for (std::size_t at = 10 + length; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t bits = 0;
        for (int b = 7; b >= 0; --b)
            bits = bits << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(b)]);
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        npy.values.push_back(value);
    }
    return npy;
}

// A German locale for C and C++ while alive, where the system has one: an application adopts
// the user's, and with it a comma as decimal point.
class GermanLocale {
public:
    GermanLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
            try {
                std::locale::global(std::locale(name)); // sets the C locale too
                active = true;
                break;
            } catch (const std::runtime_error&) {
            }
        }
    }
    ~GermanLocale() {
        std::locale::global(previous);
        std::setlocale(LC_ALL, "C");
    }
    bool active = false;

private:
    std::locale previous;
};

MatrixData smallMap() {
    MatrixData map{"Intensity (dB)",
                   {"Range (meters)", {0.0, 0.1, 0.2}},
                   {"Radial Velocity (meters per second)", {-2.0, -1.0, 0.5, 1.0 / 3.0}},
                   {}};
    map.values = kTricky;
    map.values.insert(map.values.end(), {-1e-5, 42.0, -300.25, 7.0});
    return map;
}

class DataExportTest : public RecordDir {};

TEST_F(DataExportTest, CurvesReadBackBitForBitUnderACommaLocale) {
    const GermanLocale german;
    if (german.active) {
        EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    }
    std::vector<double> times;
    for (int i = 0; i < 8; ++i)
        times.push_back(i * 1.0e-5);
    const CurveData data{
        {"Time (seconds)", times},
        {{"I-Channel: Amplitude", kTricky}, {"Q, \"scaled\"", {kTricky.rbegin(), kTricky.rend()}}}};
    std::string error;
    ASSERT_TRUE(writeCurvesCsv(path("scope.csv"), data, error)) << error;

    const std::vector<std::string> text = lines(path("scope.csv"));
    ASSERT_EQ(text.size(), 9u);
    EXPECT_EQ(text[0], "Time (seconds),I-Channel: Amplitude,\"Q, \"\"scaled\"\"\"");
    std::vector<double> x, i, q;
    for (std::size_t line = 1; line < text.size(); ++line) {
        const std::vector<double> row = numbers(split(text[line], ','), 0);
        ASSERT_EQ(row.size(), 3u) << text[line];
        x.push_back(row[0]);
        i.push_back(row[1]);
        q.push_back(row[2]);
    }
    expectSame(x, data.x.values);
    expectSame(i, data.curves[0].values);
    expectSame(q, data.curves[1].values);
}

TEST_F(DataExportTest, MatrixReadsBackFromCsvAndFromNpyWithItsAxesBeside) {
    const GermanLocale german;
    const MatrixData map = smallMap();
    std::string error;
    ASSERT_TRUE(writeMatrixCsv(path("map.csv"), map, error)) << error;
    const std::vector<std::string> text = lines(path("map.csv"));
    ASSERT_EQ(text.size(), 4u);
    const std::vector<std::string> head = split(text[0], ',');
    EXPECT_EQ(head[0], "Intensity (dB): Range (meters) \\ Radial Velocity (meters per second)");
    expectSame(numbers(head, 1), map.columns.values);
    std::vector<double> rows, values;
    for (std::size_t line = 1; line < text.size(); ++line) {
        const std::vector<double> row = numbers(split(text[line], ','), 0);
        ASSERT_EQ(row.size(), 5u) << text[line];
        rows.push_back(row[0]);
        values.insert(values.end(), row.begin() + 1, row.end());
    }
    expectSame(rows, map.rows.values);
    expectSame(values, map.values);

    ASSERT_TRUE(writeMatrixNpy(path("map.NPY"), map, error)) << error;
    const auto [rowFile, columnFile] = npyAxisPaths(path("map.NPY"), map);
    EXPECT_EQ(rowFile, path("map_range.npy"));
    EXPECT_EQ(columnFile, path("map_radial_velocity.npy"));
    EXPECT_EQ(files(), 4u); // no temporary file left
    const Npy matrix = readNpy(path("map.NPY"));
    EXPECT_EQ(matrix.shape, (std::vector<std::size_t>{3, 4}));
    expectSame(matrix.values, map.values);
    const Npy rowAxis = readNpy(rowFile);
    EXPECT_EQ(rowAxis.shape, std::vector<std::size_t>{3});
    expectSame(rowAxis.values, map.rows.values);
    const Npy columnAxis = readNpy(columnFile);
    EXPECT_EQ(columnAxis.shape, std::vector<std::size_t>{4});
    expectSame(columnAxis.values, map.columns.values);
}

// `error` names `file` and says `reason`.
void expectError(const std::string& error, const std::string& file, const std::string& reason) {
    EXPECT_NE(error.find("\"" + file + "\""), std::string::npos) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
}

TEST_F(DataExportTest, AFailedWriteKeepsNoFileAndNamesIt) {
    const MatrixData map = smallMap();
    std::string error;
    EXPECT_FALSE(writeMatrixCsv(path("missing/map.csv"), map, error));
    expectError(error, path("missing/map.csv"), "No such file or directory");
    EXPECT_EQ(files(), 0u);
    // Values that do not fill the axes are refused, not written half-labelled.
    MatrixData ragged = map;
    ragged.values.pop_back();
    EXPECT_FALSE(writeMatrixNpy(path("ragged.npy"), ragged, error));
    expectError(error, path("ragged.npy"), "values, not");
    EXPECT_EQ(files(), 0u);

    // A full disk, as files of this process may not grow beyond 4 KiB: the older file stays.
    const std::string older = put("big.csv", "older export");
    MatrixData big = map;
    big.rows.values.assign(64, 1.0 / 3.0);
    big.columns.values.assign(16, 0.25);
    big.values.assign(64 * 16, 2.0 / 3.0);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string csvError, npyError;
    const bool csv = writeMatrixCsv(older, big, csvError);
    const bool npy = writeMatrixNpy(path("big.npy"), big, npyError);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(csv);
    expectError(csvError, older, "File too large");
    EXPECT_FALSE(npy);
    expectError(npyError, path("big.npy"), "File too large");
    EXPECT_EQ(contents(older), "older export");
    EXPECT_EQ(files(), 1u);

    // The column axis cannot take its name: the matrix and the row axis, written by then, go.
    std::filesystem::create_directory(path("map_radial_velocity.npy"));
    EXPECT_FALSE(writeMatrixNpy(path("map.npy"), map, error));
    expectError(error, path("map_radial_velocity.npy"), "Is a directory");
    EXPECT_EQ(files(), 2u);
    EXPECT_FALSE(std::filesystem::exists(path("map.npy")));
    EXPECT_FALSE(std::filesystem::exists(path("map_range.npy")));
}

} // namespace
