#include "record/Sigmf.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

#ifndef TAVRIX_VERSION
#define TAVRIX_VERSION "unknown"
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavrix::record {

namespace {

constexpr std::size_t kBytesPerSample = 4;
constexpr std::size_t kBufferSamples = 1 << 16;
// One capture's metadata is a few kilobytes; anything this large is not a recording's.
constexpr int kMaxMetaBytes = 16 << 20;
constexpr char kModes[] = "\"fmcw\", \"fsk\", \"cw\" or \"fmcw-triangle\"";
constexpr char kDatetimeExample[] = "2026-12-07T19:30:00.000Z";

std::string reason(int errorNumber) {
    return errorNumber != 0 ? std::strerror(errorNumber) : "unknown error";
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Shortest exact form, independent of the C locale (a Qt application adopts the user's).
std::string number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

bool knownMode(const std::string& mode) {
    return mode == "fmcw" || mode == "fsk" || mode == "cw" || mode == "fmcw-triangle";
}

QString q(const char* text) {
    return QString::fromLatin1(text);
}

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

QByteArray metadata(const std::optional<RecordingHeader>& header, const RecordingInfo& info,
                    const std::string& datetime) {
    QJsonObject global;
    global[q("core:datatype")] = q(kSigmfDatatype);
    global[q("core:version")] = q(kSigmfVersion);
    global[q("core:recorder")] = q("Tavrix " TAVRIX_VERSION);
    global[q("core:hw")] = q("Velmora USB radar board" +
                             (info.deviceModel.empty() ? "" : ", model " + info.deviceModel));
    global[q("core:extensions")] =
        QJsonArray{QJsonObject{{q("name"), q("tavrix")},
                               {q("version"), q(kTavrixNamespaceVersion)},
                               {q("optional"), true}}};
    QJsonObject capture{{q("core:sample_start"), 0}};
    if (!datetime.empty())
        capture[q("core:datetime")] = q(datetime);

    const std::string& mode = info.operatingMode;
    if (!mode.empty())
        global[q("tavrix:operating_mode")] = q(mode);
    if (!info.deviceModel.empty())
        global[q("tavrix:device_model")] = q(info.deviceModel);
    if (header) {
        const double rate = header->samplesPerSweep / (header->sweepTimeMs / 1000.0);
        if (std::isfinite(rate) && rate > 0.0)
            global[q("core:sample_rate")] = rate;
        capture[q("core:frequency")] = header->centerFrequencyHz;
        global[q("tavrix:samples_per_sweep")] = header->samplesPerSweep;
        global[q("tavrix:sweep_time_ms")] = header->sweepTimeMs;
        if (mode == "fmcw" || mode == "fmcw-triangle")
            global[q("tavrix:bandwidth_hz")] = header->modeValue;
        else if (mode == "fsk")
            global[q("tavrix:tone_spacing_hz")] = header->modeValue;
        global[q("tavrix:header")] = QJsonObject{
            {q("center_frequency_hz"), header->centerFrequencyHz},
            {q("sweep_time_ms"), header->sweepTimeMs},
            {q("samples_per_sweep"), header->samplesPerSweep},
            {q("mode_value"), header->modeValue},
        };
    }
    QJsonArray annotations;
    for (const Annotation& a : info.annotations) {
        QJsonObject annotation{{q("core:sample_start"), static_cast<qint64>(a.sampleStart)}};
        if (a.sampleCount != 0)
            annotation[q("core:sample_count")] = static_cast<qint64>(a.sampleCount);
        if (!a.label.empty())
            annotation[q("core:label")] = q(a.label);
        annotations.append(annotation);
    }
    const QJsonObject top{{q("global"), global},
                          {q("captures"), QJsonArray{capture}},
                          {q("annotations"), annotations}};
    QByteArray json = QJsonDocument(top).toJson(QJsonDocument::Indented);
    // The object is the whole file: '{' first, '}' last.
    while (json.endsWith('\n'))
        json.chop(1);
    return json;
}

bool writeWhole(const std::string& path, const QByteArray& bytes, std::string& error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "Cannot create " + quoted(path) + ": " + reason(errno);
        return false;
    }
    int failure = 0;
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), file) !=
            static_cast<std::size_t>(bytes.size()) ||
        std::fflush(file) != 0)
        failure = errno ? errno : EIO;
    errno = 0;
    if (std::fclose(file) != 0 && failure == 0)
        failure = errno ? errno : EIO;
    if (failure != 0) {
        error = "Cannot write " + quoted(path) + ": " + reason(failure);
        return false;
    }
    return true;
}

// A whole number of samples that JSON holds exactly.
std::optional<std::uint64_t> sampleNumber(const QJsonValue& v) {
    constexpr double kExact = 9007199254740992.0; // 2^53
    const double x = v.toDouble(-1.0);
    if (!v.isDouble() || !(x >= 0.0 && x <= kExact) || x != std::trunc(x))
        return std::nullopt;
    return static_cast<std::uint64_t>(x);
}

void removeIfRegular(const std::string& path) {
    struct stat node {};
    if (::lstat(path.c_str(), &node) == 0 && S_ISREG(node.st_mode))
        std::remove(path.c_str());
}

struct UtcTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::int64_t nanos = 0; // the first nine digits of the fraction
};

std::optional<UtcTime> parseIsoUtc(const std::string& s) {
    if (s.size() < 20)
        return std::nullopt;
    const auto digits = [&s](std::size_t at, std::size_t count, int& value) {
        value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return false;
            value = value * 10 + (s[i] - '0');
        }
        return true;
    };
    UtcTime t;
    if (!digits(0, 4, t.year) || s[4] != '-' || !digits(5, 2, t.month) || s[7] != '-' ||
        !digits(8, 2, t.day) || s[10] != 'T' || !digits(11, 2, t.hour) || s[13] != ':' ||
        !digits(14, 2, t.minute) || s[16] != ':' || !digits(17, 2, t.second))
        return std::nullopt;
    std::size_t at = 19;
    if (s[at] == '.') {
        const std::size_t first = ++at;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            if (at - first < 9)
                t.nanos = t.nanos * 10 + (s[at] - '0');
            ++at;
        }
        if (at == first)
            return std::nullopt;
        for (std::size_t d = at - first; d < 9; ++d)
            t.nanos *= 10;
    }
    if (at + 1 != s.size() || s[at] != 'Z')
        return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12)
        return std::nullopt;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    if (t.day < 1 || t.day > days || t.hour > 23 || t.minute > 59 || t.second > 60)
        return std::nullopt;
    return t;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::string sigmfBase(const std::string& path) {
    for (const char* suffix : {".sigmf-data", ".sigmf-meta", ".sigmf"}) {
        const std::size_t n = std::strlen(suffix);
        if (path.size() >= n && path.compare(path.size() - n, n, suffix) == 0)
            return path.substr(0, path.size() - n);
    }
    return path;
}

std::string sigmfDataPath(const std::string& path) {
    return sigmfBase(path) + ".sigmf-data";
}

std::string sigmfMetaPath(const std::string& path) {
    return sigmfBase(path) + ".sigmf-meta";
}

std::string isoUtc(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const long long ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    long long seconds = ms / 1000;
    long long milli = ms % 1000;
    if (milli < 0) {
        milli += 1000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (!gmtime_r(&t, &utc))
        return {};
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    const std::string millis = std::to_string(1000 + milli).substr(1);
    return std::string(text, n) + "." + millis + "Z";
}

bool isIsoUtc(const std::string& s) {
    return parseIsoUtc(s).has_value();
}

std::string isoUtcPlus(const std::string& datetime, long double seconds) {
    const std::optional<UtcTime> t = parseIsoUtc(datetime);
    constexpr long double kCenturies = 1e12L;
    if (!t || !(seconds >= 0.0L && seconds < kCenturies))
        return {};
    constexpr std::int64_t kBillion = 1000000000;
    const long double whole = std::floor(seconds);
    std::int64_t nanos = t->nanos + std::llround((seconds - whole) * kBillion);
    const std::int64_t epochSeconds = daysFromCivil(t->year, t->month, t->day) * 86400 +
                                      t->hour * 3600 + t->minute * 60 + t->second +
                                      static_cast<std::int64_t>(whole) + nanos / kBillion;
    nanos %= kBillion;
    const auto when = static_cast<std::time_t>(epochSeconds);
    std::tm utc{};
    if (!gmtime_r(&when, &utc) || utc.tm_year + 1900 > 9999)
        return {};
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string fraction = std::to_string(kBillion + nanos).substr(1);
    while (fraction.size() > 3 && fraction.back() == '0')
        fraction.pop_back();
    return std::string(text, n) + "." + fraction + "Z";
}

// ---- writing ----

SigmfSink::~SigmfSink() {
    if (data_)
        std::fclose(data_);
}

void SigmfSink::fail(const std::string& what, const std::string& file, int errorNumber) {
    ioFailed_ = true;
    if (!error_.empty())
        return;
    error_ = what + " " + quoted(file);
    if (errorNumber != 0)
        error_ += ": " + reason(errorNumber);
}

bool SigmfSink::open(const std::string& path, const std::optional<RecordingHeader>& header,
                     const RecordingInfo& info) {
    if (data_)
        std::fclose(data_);
    data_ = nullptr;
    dataPath_ = sigmfDataPath(path);
    const std::string metaPath = sigmfMetaPath(path);
    buffer_.clear();
    accepted_ = 0;
    error_.clear();
    ioFailed_ = false;

    const std::string refusal = "Cannot record " + quoted(metaPath) + ": ";
    if (!info.operatingMode.empty() && !knownMode(info.operatingMode)) {
        error_ = refusal + "unknown operating mode " + quoted(info.operatingMode) + " (expected " +
                 kModes + ")";
        return false;
    }
    if (!info.datetime.empty() && !isIsoUtc(info.datetime)) {
        error_ = refusal + "the start time " + quoted(info.datetime) +
                 " is not an ISO 8601 UTC time such as " + kDatetimeExample;
        return false;
    }
    // JSON has no form for infinities and NaN.
    if (header && !(std::isfinite(header->centerFrequencyHz) &&
                    std::isfinite(header->sweepTimeMs) && std::isfinite(header->modeValue))) {
        error_ = refusal + "a header value is not finite";
        return false;
    }
    const std::string datetime = info.datetime.empty() && info.stampNow
                                     ? isoUtc(std::chrono::system_clock::now())
                                     : info.datetime;

    errno = 0;
    data_ = std::fopen(dataPath_.c_str(), "wb");
    if (!data_) {
        fail("Cannot create", dataPath_, errno);
        return false;
    }
    std::string why;
    if (!writeWhole(metaPath, metadata(header, info, datetime), why)) {
        error_ = why;
        ioFailed_ = true;
        std::fclose(data_);
        data_ = nullptr;
        // Samples without their description are no recording.
        removeIfRegular(dataPath_);
        return false;
    }
    buffer_.reserve(kBufferSamples * kBytesPerSample);
    return true;
}

namespace {

// Packs samples[0..n) as cu16_le into `out`; the index of the first sample whose parts are not
// whole numbers from 0 to 65535 (NaN included), or n.
std::size_t packSamples(const std::complex<double>* samples, std::size_t n, unsigned char* out) {
    std::size_t i = 0;
#ifdef __SSE2__
    // Two samples at a time; packs_epi32 saturates signed, so the values are moved down by
    // 32768 around it and the bias flipped back in the 16-bit results.
    const __m128i bias32 = _mm_set1_epi32(32768);
    const __m128i bias16 = _mm_set1_epi16(static_cast<short>(0x8000));
    for (; i + 2 <= n; i += 2, out += 8) {
        const __m128d a = _mm_loadu_pd(reinterpret_cast<const double*>(samples + i));
        const __m128d b = _mm_loadu_pd(reinterpret_cast<const double*>(samples + i + 1));
        const __m128i ka = _mm_cvttpd_epi32(a);
        const __m128i kb = _mm_cvttpd_epi32(b);
        const int exact = _mm_movemask_pd(_mm_cmpeq_pd(_mm_cvtepi32_pd(ka), a)) &
                          _mm_movemask_pd(_mm_cmpeq_pd(_mm_cvtepi32_pd(kb), b));
        const __m128i k = _mm_unpacklo_epi64(ka, kb); // re0 im0 re1 im1
        const int small =
            _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(k, 16), _mm_setzero_si128()));
        if (exact != 3 || small != 0xFFFF)
            break; // the one-at-a-time loop below finds which
        const __m128i packed =
            _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(k, bias32), _mm_setzero_si128()), bias16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    }
#endif
    for (; i < n; ++i, out += 4) {
#ifdef __SSE2__
        // Truncating conversion, back again: equal only for whole numbers in int range (NaN
        // and the out-of-range become INT_MIN); the unsigned test then keeps 0..65535.
        const __m128d v = _mm_loadu_pd(reinterpret_cast<const double*>(samples + i));
        const __m128i k = _mm_cvttpd_epi32(v);
        const int exact = _mm_movemask_pd(_mm_cmpeq_pd(_mm_cvtepi32_pd(k), v));
        const auto re = static_cast<std::uint32_t>(_mm_cvtsi128_si32(k));
        const auto im = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(k, 4)));
        if (exact != 3 || ((re | im) >> 16) != 0)
            return i;
#else
        const double dr = samples[i].real();
        const double di = samples[i].imag();
        const auto fits = [](double v) {
            return v >= 0.0 && v <= 65535.0 &&
                   static_cast<double>(static_cast<std::uint16_t>(v)) == v;
        };
        if (!fits(dr) || !fits(di))
            return i;
        const auto re = static_cast<std::uint32_t>(dr);
        const auto im = static_cast<std::uint32_t>(di);
#endif
        out[0] = static_cast<unsigned char>(re & 0xFF);
        out[1] = static_cast<unsigned char>(re >> 8);
        out[2] = static_cast<unsigned char>(im & 0xFF);
        out[3] = static_cast<unsigned char>(im >> 8);
    }
    return n;
}

} // namespace

bool SigmfSink::write(const std::complex<double>* samples, std::size_t count) {
    if (!data_) {
        if (error_.empty())
            error_ = "No recording file is open";
        return false;
    }
    if (!error_.empty())
        return false;
    std::size_t i = 0;
    while (i < count) {
        const std::size_t used = buffer_.size();
        const std::size_t run = std::min(count - i, kBufferSamples - used / kBytesPerSample);
        buffer_.resize(used + run * kBytesPerSample);
        const std::size_t packed = packSamples(samples + i, run, buffer_.data() + used);
        if (packed < run) {
            // The refused sample and what came with it in this run go; what went before stays.
            buffer_.resize(used);
            const std::complex<double> bad = samples[i + packed];
            error_ = "Cannot record sample " + std::to_string(accepted_ + i + packed) + " in " +
                     quoted(dataPath_) + ": " + number(bad.real()) + "+" + number(bad.imag()) +
                     "i is not a pair of integers from 0 to 65535 (" + kSigmfDatatype + ")";
            return false;
        }
        i += run;
        if (buffer_.size() >= kBufferSamples * kBytesPerSample && !flushBuffer())
            return false;
    }
    accepted_ += count;
    return true;
}

bool SigmfSink::flushBuffer() {
    if (buffer_.empty())
        return true;
    errno = 0;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), data_) != buffer_.size()) {
        fail("Cannot write", dataPath_, errno);
        return false;
    }
    buffer_.clear();
    return true;
}

bool SigmfSink::close() {
    if (!data_) {
        if (error_.empty())
            error_ = "No recording file is open";
        return false;
    }
    // Samples accepted before a refused one are still written.
    if (!ioFailed_)
        flushBuffer();
    errno = 0;
    if (!ioFailed_ && std::fflush(data_) != 0)
        fail("Cannot write", dataPath_, errno);
    errno = 0;
    if (std::fclose(data_) != 0)
        fail("Cannot close", dataPath_, errno);
    data_ = nullptr;
    buffer_.clear();
    return error_.empty();
}

// ---- reading ----

SigmfSource::~SigmfSource() {
    close();
}

void SigmfSource::close() {
    if (data_)
        std::fclose(data_);
    data_ = nullptr;
}

bool SigmfSource::readMetadata(const std::string& metaPath) {
    errno = 0;
    std::FILE* file = std::fopen(metaPath.c_str(), "rb");
    if (!file) {
        error_ = "Cannot open " + quoted(metaPath) + ": " + reason(errno);
        return false;
    }
    QByteArray text;
    char chunk[1 << 14];
    std::size_t n = 0;
    errno = 0;
    while (text.size() <= kMaxMetaBytes && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, static_cast<int>(n));
    const int readError = std::ferror(file) ? (errno ? errno : EIO) : 0;
    std::fclose(file);
    if (readError != 0) {
        error_ = "Cannot read " + quoted(metaPath) + ": " + reason(readError);
        return false;
    }
    if (text.size() > kMaxMetaBytes) {
        error_ = metaPath + ": larger than 16 MiB, too large for the metadata of a recording";
        return false;
    }

    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        error_ = metaPath + ": not valid JSON at byte " + std::to_string(parse.offset) + ": " +
                 parse.errorString().toStdString();
        return false;
    }
    if (!document.isObject()) {
        error_ = metaPath + ": the top level is not a JSON object";
        return false;
    }
    const auto refuse = [&](const std::string& key, const std::string& what) {
        error_ = metaPath + ": key " + key + " " + what;
        return false;
    };
    const auto absentOr = [](const QJsonValue& v, const char* what) {
        return v.isUndefined() ? std::string("is missing") : std::string(what);
    };

    const QJsonObject top = document.object();
    const QJsonValue globalValue = top.value(q("global"));
    if (!globalValue.isObject())
        return refuse("global", absentOr(globalValue, "is not an object"));
    for (const char* name : {"captures", "annotations"}) {
        const QJsonValue v = top.value(q(name));
        if (!v.isUndefined() && !v.isArray())
            return refuse(name, "is not an array");
    }
    const QJsonObject global = globalValue.toObject();

    const QJsonValue datatype = global.value(q("core:datatype"));
    if (!datatype.isString())
        return refuse("global.core:datatype", absentOr(datatype, "is not a string"));
    if (datatype.toString() != q(kSigmfDatatype))
        return refuse("global.core:datatype",
                      "is " + quoted(datatype.toString().toStdString()) +
                          "; only cu16_le (complex unsigned 16-bit, little-endian) can be read");
    const QJsonValue channels = global.value(q("core:num_channels"));
    if (!channels.isUndefined() && channels.toDouble(-1) != 1.0)
        return refuse("global.core:num_channels", "is not 1; only one channel can be read");
    if (global.contains(q("core:dataset")) ||
        global.value(q("core:trailing_bytes")).toDouble(0) != 0)
        return refuse(global.contains(q("core:dataset")) ? "global.core:dataset"
                                                         : "global.core:trailing_bytes",
                      "marks a non-conforming dataset, which cannot be read");
    if (global.value(q("core:metadata_only")).toBool(false))
        return refuse("global.core:metadata_only", "says the recording holds no samples");

    const QJsonArray captures = top.value(q("captures")).toArray();
    for (int i = 0; i < captures.size(); ++i)
        if (captures[i].toObject().value(q("core:header_bytes")).toDouble(0) != 0)
            return refuse("captures[" + std::to_string(i) + "].core:header_bytes",
                          "marks a non-conforming dataset, which cannot be read");
    if (!captures.isEmpty()) {
        const QJsonValue datetime = captures[0].toObject().value(q("core:datetime"));
        if (!datetime.isUndefined()) {
            if (!datetime.isString() || !isIsoUtc(datetime.toString().toStdString()))
                return refuse("captures[0].core:datetime",
                              std::string("is not an ISO 8601 UTC time such as ") +
                                  kDatetimeExample);
            info_.datetime = datetime.toString().toStdString();
        }
    }

    const QJsonArray annotations = top.value(q("annotations")).toArray();
    for (int i = 0; i < annotations.size(); ++i) {
        const std::string at = "annotations[" + std::to_string(i) + "]";
        if (!annotations[i].isObject())
            return refuse(at, "is not an object");
        const QJsonObject fields = annotations[i].toObject();
        Annotation annotation;
        for (const auto& [name, value] :
             {std::pair("core:sample_start", &annotation.sampleStart),
              std::pair("core:sample_count", &annotation.sampleCount)}) {
            const QJsonValue v = fields.value(q(name));
            const std::optional<std::uint64_t> n = sampleNumber(v);
            if (n)
                *value = *n;
            else if (!v.isUndefined() || value == &annotation.sampleStart)
                return refuse(at + "." + name, absentOr(v, "is not a sample number"));
        }
        const QJsonValue label = fields.value(q("core:label"));
        if (!label.isUndefined() && !label.isString())
            return refuse(at + ".core:label", "is not a string");
        annotation.label = label.toString().toStdString();
        info_.annotations.push_back(std::move(annotation));
    }

    const QJsonValue mode = global.value(q("tavrix:operating_mode"));
    if (!mode.isUndefined()) {
        if (!mode.isString() || !knownMode(mode.toString().toStdString()))
            return refuse("global.tavrix:operating_mode", std::string("is not one of ") + kModes);
        info_.operatingMode = mode.toString().toStdString();
    }
    const QJsonValue model = global.value(q("tavrix:device_model"));
    if (!model.isUndefined()) {
        if (!model.isString())
            return refuse("global.tavrix:device_model", "is not a string");
        info_.deviceModel = model.toString().toStdString();
    }

    const QJsonValue headerValue = global.value(q("tavrix:header"));
    if (headerValue.isUndefined())
        return true;
    if (!headerValue.isObject())
        return refuse("global.tavrix:header", "is not an object");
    const QJsonObject fields = headerValue.toObject();
    RecordingHeader header;
    // The same limits as a text header's lines.
    struct Field {
        const char* name;
        double* value;
        bool positive;
    };
    double samplesPerSweep = 0.0;
    for (const Field& f : {Field{"center_frequency_hz", &header.centerFrequencyHz, true},
                           Field{"sweep_time_ms", &header.sweepTimeMs, true},
                           Field{"samples_per_sweep", &samplesPerSweep, true},
                           Field{"mode_value", &header.modeValue, false}}) {
        const QJsonValue v = fields.value(q(f.name));
        const double x = v.toDouble(std::nan(""));
        const bool valid = v.isDouble() && std::isfinite(x) && (f.positive ? x > 0.0 : x >= 0.0);
        if (!valid)
            return refuse(std::string("global.tavrix:header.") + f.name,
                          absentOr(v, f.positive ? "is not a positive number"
                                                 : "is not a number of at least 0"));
        *f.value = x;
    }
    if (samplesPerSweep != std::trunc(samplesPerSweep) || samplesPerSweep > INT32_MAX)
        return refuse("global.tavrix:header.samples_per_sweep", "is not a 32-bit integer");
    header.samplesPerSweep = static_cast<std::int32_t>(samplesPerSweep);
    header_ = header;
    return true;
}

bool SigmfSource::open(const std::string& path) {
    close();
    header_.reset();
    info_ = RecordingInfo{};
    total_ = done_ = 0;
    error_.clear();
    dataPath_ = sigmfDataPath(path);
    if (!readMetadata(sigmfMetaPath(path)))
        return false;

    errno = 0;
    data_ = std::fopen(dataPath_.c_str(), "rb");
    if (!data_) {
        error_ = "Cannot open " + quoted(dataPath_) + ": " + reason(errno);
        return false;
    }
    struct stat node {};
    if (::fstat(::fileno(data_), &node) != 0 || !S_ISREG(node.st_mode)) {
        error_ = dataPath_ + ": not a regular file";
        close();
        return false;
    }
    const auto size = static_cast<std::uint64_t>(node.st_size);
    if (size % kBytesPerSample != 0) {
        error_ = dataPath_ + ": " + std::to_string(size) +
                 " bytes are not a whole number of 4-byte cu16_le samples (" +
                 std::to_string(size % kBytesPerSample) + " bytes left over after sample " +
                 std::to_string(size / kBytesPerSample) + "; file cut short?)";
        close();
        return false;
    }
    total_ = size / kBytesPerSample;
    return true;
}

bool SigmfSource::seek(std::uint64_t index) {
    error_.clear();
    if (!data_) {
        errno = 0;
        data_ = std::fopen(dataPath_.c_str(), "rb");
        if (!data_) {
            error_ = "Cannot open " + quoted(dataPath_) + ": " + reason(errno);
            return false;
        }
    }
    const std::uint64_t to = std::min(index, total_);
    errno = 0;
    if (fseeko(data_, static_cast<off_t>(to * kBytesPerSample), SEEK_SET) != 0) {
        error_ = "Cannot go to sample " + std::to_string(to) + " of " + quoted(dataPath_) + ": " +
                 reason(errno);
        close();
        return false;
    }
    done_ = to;
    return true;
}

std::size_t SigmfSource::read(std::vector<std::complex<double>>& out, std::size_t maxSamples) {
    out.clear();
    if (!data_ || failed())
        return 0;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(maxSamples, total_ - done_));
    out.reserve(want);
    while (out.size() < want) {
        const std::size_t n = std::min(want - out.size(), kBufferSamples);
        bytes_.resize(n * kBytesPerSample);
        errno = 0;
        const std::size_t got = std::fread(bytes_.data(), 1, bytes_.size(), data_);
        if (got != bytes_.size()) {
            const std::string at = "sample " + std::to_string(done_ + got / kBytesPerSample);
            error_ = std::ferror(data_)
                         ? "Cannot read " + quoted(dataPath_) + " at " + at + ": " + reason(errno)
                         : dataPath_ + ": ends at " + at + ", before the " +
                               std::to_string(total_) + " samples it held when opened";
            close();
            return out.size();
        }
        for (std::size_t k = 0; k < n; ++k) {
            const unsigned char* b = bytes_.data() + k * kBytesPerSample;
            out.emplace_back(b[0] | b[1] << 8, b[2] | b[3] << 8);
        }
        done_ += n;
    }
    if (done_ == total_)
        close();
    return out.size();
}

} // namespace tavrix::record
