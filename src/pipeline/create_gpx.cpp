#include "create_gpx.h"

#include "download_gnis_zip.h"
#include "extract_gnis_zip.h"
#include "file_system.h"
#include "states.h"
#include "text_lines.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace gnis {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCreator = "Trailcrafter https://trailcrafter.example.org/gnis";

class FileSource : public ByteSource {
public:
    explicit FileSource(std::FILE* f) : file_(f) {}
    std::ptrdiff_t read(char* buffer, std::size_t size) override {
        const std::size_t n = std::fread(buffer, 1, size, file_);
        if (n == 0 && std::ferror(file_)) {
            error_ = errno;
            return -1;
        }
        return static_cast<std::ptrdiff_t>(n);
    }
    int error() const { return error_; }

private:
    std::FILE* file_;
    int error_ = 0;
};

std::string localTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

// Reads the gazetteer text and writes gnis.gpx through a temporary file, so a
// failure leaves any older gnis.gpx as it was. Returns an error message or "".
std::string convertText(const fs::path& input, const fs::path& output, StatusReporter& reporter,
                        GpxStats& stats) {
    std::FILE* in = std::fopen(input.string().c_str(), "rb");
    if (!in)
        return "Can't read " + input.string() + ": " + ErrorText(errno);
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{in};
    std::error_code ec;
    const auto total = static_cast<std::int64_t>(fs::file_size(input, ec));

    TextFileWriter writer;
    // The GPX is made again by the next run, so it is not worth a disk sync.
    if (Outcome opened = writer.open(output, TextFileWriter::Durability::Replaced); !opened)
        return opened.error();

    writer.writeLine(R"(<?xml version="1.0" encoding="UTF-8"?>)");
    writer.writeLine(std::string(R"(<gpx version="1.0" creator=")") + kCreator + "\"");
    writer.writeLine(R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns="http://www.topografix.com/GPX/1/0" xsi:schemaLocation="http://www.topografix.com/GPX/1/0 http://www.topografix.com/GPX/1/0/gpx.xsd">)");
    writer.writeLine("<time>" + localTimeStamp() + "</time>");

    FileSource source(in);
    TextLineReader lines(source);
    WaypointConverter converter;
    bool haveHeader = false;
    std::string block;
    block.reserve(1 << 16);
    auto lastYield = std::chrono::steady_clock::now();
    TextLineReader::Line line;
    while (lines.next(line)) {
        if ((line.number & 0xFFF) == 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastYield >= std::chrono::milliseconds(50)) {
                lastYield = now;
                reporter.progress(lines.bytesRead(), total);
                reporter.yield();
            }
        }
        if (line.tooLong) {
            ++stats.records;
            stats.noteMalformed(line.number, "the line is longer than 1 MiB");
            continue;
        }
        if (line.text.find_first_not_of(" \t") == std::string_view::npos)
            continue; // blank lines carry nothing
        if (!haveHeader) {
            haveHeader = true;
            std::string error;
            if (!converter.setHeader(line.text, error))
                return "Can't convert " + input.string() + ": " + error;
            continue;
        }
        converter.convert(line.text, line.number, block, stats);
        if (block.size() >= (1 << 16)) {
            writer.write(block);
            block.clear();
        }
    }
    if (lines.failed())
        return "Can't read " + input.string() + ": " + ErrorText(source.error());
    writer.write(block);
    writer.writeLine("</gpx>");
    if (Outcome committed = writer.commit(); !committed)
        return committed.error();
    reporter.progress(total, total);
    return {};
}

} // namespace

std::string StateTextFileName(int stateIndex) {
    if (stateIndex < 0 || stateIndex >= static_cast<int>(kStateCount))
        return {};
    return std::string(stateCodes[static_cast<std::size_t>(stateIndex)]) + "_Features_20090401.txt";
}

bool CreateGnisGpx(const JobSettings& settings, StatusReporter& reporter, GpxStats* statsOut) {
    GpxStats localStats;
    GpxStats& stats = statsOut ? *statsOut : localStats;
    stats = GpxStats{};

    const bool usersText = !settings.inputText.empty();
    const std::string stateFile = StateTextFileName(settings.stateIndex);
    if (!usersText && stateFile.empty()) {
        reporter.setStatusBarText("GNIS ERROR: No state selected");
        return false;
    }
    const fs::path folder = settings.outputFolder;
    const fs::path input = usersText ? settings.inputText : folder / stateFile;
    const fs::path leftoverZip = folder / kZipFileName;

    // The state's text and the archive are leftovers whatever happens; what the
    // user handed in is never removed.
    auto cleanUp = [&]() -> std::string {
        if (usersText)
            return {};
        std::string failure;
        for (const fs::path& leftover : {input, leftoverZip}) {
            std::error_code ec;
            if (!FileExists(leftover) || (!settings.inputArchive.empty() && fs::equivalent(leftover, settings.inputArchive, ec)))
                continue;
            if (Outcome removed = DeleteFile(leftover, false); !removed && failure.empty())
                failure = removed.error();
        }
        return failure;
    };

    std::string memberError;
    if (!usersText) {
        const bool unpacked = settings.inputArchive.empty()
                                  ? DownloadGnisZip(settings, reporter, &stats.warning, &memberError)
                                  : ExtractGnisZip(settings.inputArchive, folder, reporter, &memberError);
        if (!unpacked) {
            cleanUp();
            return false;
        }
    }

    reporter.setStatusText("Creating GNIS GPX File");
    std::string error;
    if (!FileExists(input))
        error = memberError.empty() ? "No GNIS text file exists" : memberError;
    else
        error = convertText(input, folder / kGpxFileName, reporter, stats);

    const std::string cleanupError = cleanUp();
    if (!error.empty()) {
        reporter.setStatusBarText("GNIS ERROR: " + error);
        return false;
    }
    if (!cleanupError.empty()) {
        reporter.setStatusBarText("GNIS ERROR: gnis.gpx was written, but " + cleanupError);
        return false;
    }
    return true;
}

} // namespace gnis
