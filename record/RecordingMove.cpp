#include "record/RecordingMove.h"

#include "record/RecordingFile.h"
#include "record/Sigmf.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace tavrix::record {

namespace {

namespace fs = std::filesystem;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string reason(int errorNumber) {
    return errorNumber != 0 ? std::strerror(errorNumber) : "unknown error";
}

// Copies `from` into `to`, creating or truncating it; on failure says why in `error`.
bool copyInto(const std::string& from, const std::string& to, std::string& error) {
    errno = 0;
    File in(std::fopen(from.c_str(), "rb"));
    if (!in) {
        error = "Cannot read \"" + from + "\": " + reason(errno);
        return false;
    }
    errno = 0;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) {
        error = "Cannot create \"" + to + "\": " + reason(errno);
        return false;
    }
    std::vector<char> chunk(1 << 20);
    int failure = 0;
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), in.get());
        if (n > 0 && std::fwrite(chunk.data(), 1, n, out) != n) {
            failure = errno ? errno : EIO;
            break;
        }
        if (n < chunk.size()) {
            if (std::ferror(in.get()))
                failure = errno ? errno : EIO;
            break;
        }
    }
    errno = 0;
    if (std::fclose(out) != 0 && failure == 0)
        failure = errno ? errno : EIO;
    if (failure != 0) {
        error = "Cannot write \"" + to + "\": " + reason(failure);
        return false;
    }
    return true;
}

} // namespace

bool moveRecording(const std::string& from, const std::string& to, std::string& error) {
    std::error_code ec;
    const fs::file_status target = fs::symlink_status(to, ec);
    const bool replaceable = !fs::exists(target) || fs::is_regular_file(target);
    if (replaceable) {
        fs::rename(from, to, ec);
        if (!ec)
            return true;
        if (ec != std::errc::cross_device_link) {
            error = "Cannot move \"" + from + "\" to \"" + to + "\": " + ec.message();
            return false;
        }
    }
    if (!copyInto(from, to, error)) {
        // A partial copy would pass for a shorter recording; links and devices stay.
        if (replaceable)
            fs::remove(to, ec);
        return false;
    }
    fs::remove(from, ec);
    return true;
}

std::vector<std::string> recordingFiles(const std::string& path) {
    if (formatOf(path) == FileFormat::Sigmf)
        return {sigmfDataPath(path), sigmfMetaPath(path)};
    return {path};
}

bool moveRecordingFiles(const std::string& from, const std::string& to, std::string& error) {
    if (formatOf(from) != formatOf(to)) {
        error =
            "Cannot move \"" + from + "\" to \"" + to + "\": the names are of different formats";
        return false;
    }
    if (formatOf(from) == FileFormat::Text)
        return moveRecording(from, to, error);

    const std::string fromData = sigmfDataPath(from), toData = sigmfDataPath(to);
    const std::string fromMeta = sigmfMetaPath(from), toMeta = sigmfMetaPath(to);
    // The metadata waits beside its new name under a name of its own, so that a failure to
    // place the samples leaves both recordings whole; renaming it within its folder then does
    // not fail in practice.
    const std::string staged = toMeta + ".tavrix-new";
    std::error_code ec;
    std::string why;
    if (!copyInto(fromMeta, staged, why)) {
        fs::remove(staged, ec);
        error = "Cannot move \"" + fromMeta + "\" to \"" + toMeta + "\": " + why;
        return false;
    }
    if (!moveRecording(fromData, toData, error)) {
        fs::remove(staged, ec);
        return false;
    }
    if (!moveRecording(staged, toMeta, error)) {
        fs::remove(staged, ec);
        error += "; the samples are now in \"" + toData + "\", their metadata still in \"" +
                 fromMeta + "\"";
        return false;
    }
    fs::remove(fromMeta, ec);
    return true;
}

} // namespace tavrix::record
