#include "jobs/create_gpx.h"

#include "gazetteer/clean_text.h"
#include "base/file_system.h"
#include "formats/csv_format.h"
#include "formats/gpx_format.h"
#include "formats/polish_map_format.h"
#include "gazetteer/states.h"
#include "gazetteer/text_lines.h"
#include "jobs/download_gnis_zip.h"
#include "jobs/extract_gnis_zip.h"
#include "jobs/job_context.h"
#include "jobs/output_files.h"
#include "jobs/what_changed.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

namespace gnis {
namespace fs = std::filesystem;

namespace {

class FileSource : public ByteSource {
public:
    explicit FileSource(std::FILE* f) : file_(f) {}
    std::ptrdiff_t read(char* buffer, std::size_t size) override {
        const std::size_t n = std::fread(buffer, 1, size, file_);
        if (n == 0 && std::ferror(file_)) {
            error_ = errno != 0 ? errno : EIO;
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

// Runs on the reading thread: blank lines and the records of classes that never
// go on the map stop there, counted, so the converting thread sees the rest only.
class ClassGate : public LineFilter {
public:
    explicit ClassGate(const ClassTable* classes) : probe_(nullptr, nullptr, classes) {}
    bool keep(const TextLineReader::Line& line) override {
        if (line.tooLong)
            return true;
        if (line.text.find_first_not_of(" \t") == std::string_view::npos)
            return false; // blank lines carry nothing
        if (!haveHeader_) {
            haveHeader_ = true;
            headerOk_ = probe_.setHeader(line.text).ok();
            if (headerOk_ && !probe_.sawHeader())
                return probe_.admit(line.text, stats); // no header: the first line is a record
            return true;
        }
        return !headerOk_ || probe_.admit(line.text, stats);
    }
    GpxStats stats; // read once the reading thread is done

private:
    WaypointConverter probe_;
    bool haveHeader_ = false;
    bool headerOk_ = false;
};

// The file of waypoints while it is written: the writer's head when opened,
// the waypoints of any number of gazetteer texts, its end when finished. It is
// written under a temporary name, so a failure leaves any older file as it was.
class GpxOutput {
public:
    GpxOutput(WaypointWriter& writer, const ClassTable* classes, const Area& area)
        : format_(writer), classes_(classes), area_(area) {}
    Outcome open(const fs::path& output) {
        // The file is made again by the next run, so it is not worth a disk sync.
        if (Outcome opened = writer_.open(output, TextFileWriter::Durability::Replaced); !opened)
            return opened;
        writer_.write(format_.head());
        return Outcome::success();
    }

    // Streams one gazetteer text into the file. `what` names the text in
    // messages; readError says why the source failed.
    Outcome convert(ByteSource& source, std::int64_t total, const std::string& what,
                        const std::function<std::string()>& readError, StatusReporter& reporter, GpxStats& stats) {
        const std::int64_t recordsBefore = stats.records;
        ClassGate gate(classes_);
        ReadAheadLineReader lines(source, &gate);
        WaypointConverter converter(&ids_, &format_, classes_, &area_);
        const std::int64_t malformedBefore = stats.malformed;
        const std::size_t reasonsBefore = stats.firstMalformed.size();
        bool haveHeader = false;
        std::string block;
        block.reserve(1 << 16);
        auto lastReport = std::chrono::steady_clock::now();
        TextLineReader::Line line;
        for (std::uint32_t handedOut = 0; lines.next(line); ++handedOut) {
            // Progress and the Cancel request a few times a second, not per line.
            if ((handedOut & 0xFF) == 0) {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastReport >= std::chrono::milliseconds(50)) {
                    lastReport = now;
                    reporter.progress(lines.bytesRead(), total);
                    if (reporter.cancelRequested())
                        return Outcome::failure("cancelled");
                }
            }
            if (line.tooLong) {
                ++stats.records;
                stats.noteMalformed(line.number, "the line is longer than 1 MiB");
                continue;
            }
            if (!haveHeader) { // the gate has dropped the blank lines already
                haveHeader = true;
                if (Outcome header = converter.setHeader(line.text); !header)
                    return Outcome::failure("Can't convert " + what + ": " + header.error());
                if (converter.sawHeader())
                    continue;
                stats.warning += std::string(stats.warning.empty() ? "" : " ") + what +
                                 " has no header line; its first line was read as a record.";
            }
            converter.convert(line.text, line.number, block, stats);
            if (!stats.fatal.empty())
                return Outcome::failure("Can't convert " + what + ": " + stats.fatal);
            if (block.size() >= (1 << 16)) {
                if (Outcome room = grow(block.size(), lines.bytesRead(), stats.records, what); !room)
                    return room;
                writer_.write(block);
                block.clear();
            }
        }
        if (lines.failed()) {
            const std::string error = lines.error().empty() ? readError() : lines.error();
            return Outcome::failure(error.empty() ? "Can't read " + what : error);
        }
        stats.add(gate.stats);
        // A text that yields nothing is not a gazetteer: an empty download, or the wrong file.
        if (stats.records == recordsBefore)
            return Outcome::failure("no records in " + what);
        if (stats.malformed - malformedBefore == stats.records - recordsBefore) {
            const auto& kept = stats.firstMalformed; // this text's first reason, when one was kept
            return Outcome::failure("every record of " + what + " is malformed" +
                                    (kept.size() > reasonsBefore ? " (line " + std::to_string(kept[reasonsBefore].line) +
                                                                       ": " + kept[reasonsBefore].reason + ")"
                                                                 : std::string()));
        }
        if (Outcome room = grow(block.size(), lines.bytesRead(), stats.records, what); !room)
            return room;
        writer_.write(block);
        readBefore_ += lines.bytesRead();
        reporter.progress(total, total);
        return Outcome::success();
    }

    Outcome finish() {
        writer_.write(format_.tail());
        return writer_.commit();
    }

private:
    // Counts what goes into the file against what was read: a waypoint is never
    // many times its record, so a file growing far past the texts is refused
    // before it fills the disk (real gazetteers give less than they take).
    static constexpr std::int64_t kGrowth = 4;
    static constexpr std::int64_t kGrowthPerRecord = 192; // a waypoint's own tags, for texts of very short records
    static constexpr std::int64_t kGrowthFloor = std::int64_t(1) << 20;
    Outcome grow(std::size_t bytes, std::int64_t readNow, std::int64_t records, const std::string& what) {
        written_ += static_cast<std::int64_t>(bytes);
        const std::int64_t allowed = kGrowthFloor + kGrowth * (readBefore_ + readNow) + kGrowthPerRecord * records;
        if (written_ <= allowed)
            return Outcome::success();
        return Outcome::failure("Can't convert " + what + ": the output would grow past " + std::to_string(allowed) +
                                " bytes, many times the text it is made from; the text is not a gazetteer");
    }

    WaypointWriter& format_;
    const ClassTable* classes_;
    const Area& area_;
    std::int64_t written_ = 0;    // waypoint bytes so far
    std::int64_t readBefore_ = 0; // bytes of the texts converted before this one
    TextFileWriter writer_;
    FeatureIdSet ids_; // shared by every text of the run
};

// Streams a text file of the output folder or of the user into the GPX.
Outcome convertFile(const fs::path& input, GpxOutput& gpx, StatusReporter& reporter, GpxStats& stats) {
    std::FILE* in = std::fopen(input.string().c_str(), "rb");
    if (!in)
        return Outcome::failure("Can't read " + input.string() + ": " + ErrorText(errno));
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{in};
    std::error_code ec;
    const auto total = static_cast<std::int64_t>(fs::file_size(input, ec));
    FileSource source(in);
    return gpx.convert(source, total, input.string(),
                       [&] { return "Can't read " + input.string() + ": " + ErrorText(source.error()); }, reporter,
                       stats);
}

// One state: its text fetched (or taken from the user's archive) and streamed
// into the file. The download is removed whatever happens; a failure to remove
// it goes to cleanupError.
Outcome convertState(const JobSettings& settings, int state, GpxOutput& gpx, const std::string& creating,
                     StatusReporter& reporter, GpxStats& stats, std::string& cleanupError) {
    fs::path archive = settings.inputArchive;
    DownloadedGazetteer got;
    struct Remover {
        const DownloadedGazetteer& download;
        std::string& failure;
        ~Remover() {
            if (!download.ours || download.file.empty() || !FileExists(download.file))
                return;
            if (Outcome removed = DeleteFile(download.file, false); !removed && failure.empty())
                failure = removed.error();
        }
    } remover{got, cleanupError};
    std::string from; // where a downloaded text came from, for messages
    auto saying = [&from](const Outcome& o) { return o ? o : Outcome::failure(o.error() + from); };
    if (archive.empty()) {
        if (Outcome fetched = DownloadGnisZip(settings, state, reporter, got); !fetched)
            return fetched;
        if (!got.warning.empty())
            stats.warning += (stats.warning.empty() ? "" : " ") + got.warning;
        if (!got.note.empty())
            stats.notes += (stats.notes.empty() ? "" : "; ") + got.note;
        if (!got.zipped) {
            reporter.setStatusText(creating);
            from = " (from " + got.url + ")";
            return saying(convertFile(got.file, gpx, reporter, stats));
        }
        archive = got.file;
        from = got.cached                 ? " (the cached copy of " + got.url + ")"
               : got.downloadError.empty() ? " (from " + got.url + ")"
                                           : "; it is the older gnis.zip, used because the download failed: " + got.downloadError;
    }
    reporter.setStatusText("Extracting GNIS Zip File");
    ZipTextSource text;
    const bool downloaded = settings.inputArchive.empty() && got.ours;
    const std::string shown = downloaded ? "downloaded archive" : got.cached ? "cached archive" : "archive " + archive.string();
    if (Outcome opened = text.open(archive, shown, state, settings.source); !opened)
        return saying(opened);
    reporter.setStatusText(creating);
    return saying(gpx.convert(text, static_cast<std::int64_t>(text.size()), text.memberName(),
                              [&] { return text.error(); }, reporter, stats));
}

} // namespace

Outcome CheckInputIsNotOutput(const JobSettings& settings, const fs::path& output) {
    // Converting gnis.gpx into itself would replace the user's file with an empty one.
    std::error_code ec;
    if (!settings.inputText.empty() &&
        (fs::equivalent(settings.inputText, output, ec) ||
         fs::weakly_canonical(settings.inputText, ec) == fs::weakly_canonical(output, ec)))
        return Outcome::failure("The input " + settings.inputText.string() + " is the output " +
                                output.filename().string() + "; choose another folder");
    return Outcome::success();
}

namespace {

Outcome writeWaypoints(const JobSettings& settings, WaypointWriter& format, const ClassTable* classes,
                       const std::string& creating, const fs::path& output, StatusReporter& reporter, GpxStats& stats) {
    auto fail = [](const std::string& error) { return Outcome::failure(error); };

    const bool usersText = !settings.inputText.empty();
    if (!usersText) {
        if (settings.states.empty())
            return fail("No state selected");
        for (const int state : settings.states) {
            if (state < 0 || state >= static_cast<int>(kStateCount))
                return fail("No state selected");
            // Said before anything is downloaded: a long run must not fail at its last state.
            if (settings.inputArchive.empty() && LocateGazetteer(settings.source, "", state).url.empty())
                return fail("The " + std::string(GnisSourceName(settings.source)) + " gazetteer has no file for " +
                            std::string(stateNames[static_cast<std::size_t>(state)]) +
                            "; the current and 2021 ones have");
        }
    }

    if (Outcome apart = CheckInputIsNotOutput(settings, output); !apart)
        return apart;
    GpxOutput gpx(format, classes, settings.area);
    if (Outcome opened = gpx.open(output); !opened)
        return opened;
    const std::string fileName = output.filename().string();
    std::string cleanupError;
    if (usersText) {
        reporter.setStatusText(creating);
        if (Outcome converted = convertFile(settings.inputText, gpx, reporter, stats); !converted)
            return converted;
    }
    const bool several = settings.states.size() > 1;
    for (std::size_t i = 0; !usersText && i < settings.states.size(); ++i) {
        const int state = settings.states[i];
        const std::string name(stateNames[static_cast<std::size_t>(state)]);
        if (several)
            reporter.setStatusText(name + " (" + std::to_string(i + 1) + " of " +
                                   std::to_string(settings.states.size()) + ")");
        if (Outcome converted = convertState(settings, state, gpx, creating, reporter, stats, cleanupError); !converted) {
            const std::string& error = converted.error();
            return fail(several && error.rfind("Download failed for ", 0) != 0 ? name + ": " + error : error);
        }
    }
    // An area that keeps nothing is a mistake (a county spelt otherwise), not an empty map.
    const Area& area = settings.area;
    if (!area.empty() && stats.waypoints == 0 && stats.outside > 0)
        return fail("The area (" + area.description() + ") keeps nothing: all " + GroupedNumber(stats.outside) +
                    " features with a position lie outside it" +
                    (area.hasCounties() ? "; the gazetteer names counties as \"Middlesex\", with a state code "
                                          "where names repeat (\"Bristol RI\")"
                                        : std::string()));
    for (std::size_t i = 0; i < area.countyCount() && i < 64; ++i) {
        if (!(stats.countiesMatched & (std::uint64_t(1) << i)))
            stats.warning += std::string(stats.warning.empty() ? "" : " ") + "No feature lies in the county " +
                             area.countyName(i) + ".";
    }
    if (Outcome finished = gpx.finish(); !finished)
        return finished;
    if (!cleanupError.empty())
        return fail(fileName + " was written, but " + cleanupError);
    return Outcome::success();
}

} // namespace

Outcome ConvertWaypoints(JobContext& job, WaypointFormat format, Destination destination) {
    const char* name = format == WaypointFormat::Gpx ? kGpxFileName : format == WaypointFormat::Csv ? kCsvFileName : kMpFileName;
    fs::path output = job.settings.outputFolder / name;
    if (destination == Destination::Scratch) {
        // The user's own text is never the product's name either.
        if (Outcome apart = CheckInputIsNotOutput(job.settings, output); !apart)
            return apart;
        const fs::path scratch = job.scratch();
        if (scratch.empty())
            return Outcome::failure("Can't write in " + job.settings.outputFolder.string());
        output = scratch / name;
    }
    // The map maker's own class table, read whole before anything is fetched or written.
    ClassTable classes;
    if (!job.settings.classTable.empty()) {
        if (Outcome loaded = classes.load(job.settings.classTable); !loaded)
            return loaded;
    }
    job.stats = GpxStats{};
    job.stats.areaApplied = !job.settings.area.empty();
    job.converted = true;
    std::unique_ptr<WaypointWriter> writer;
    if (format == WaypointFormat::Gpx) {
        // Bound for the shapefile, values are cut where a dBase field ends, before the converter cuts inside a letter.
        writer = std::make_unique<GpxWriter>(localTimeStamp(), destination == Destination::Scratch ? kDbfFieldBytes : 0);
    } else if (format == WaypointFormat::Csv) {
        writer = std::make_unique<CsvWriter>();
    } else {
        writer = std::make_unique<PolishMapWriter>(localTimeStamp(), GarminMapId(job.settings), GarminMapName(job.settings));
    }
    const std::string creating = format == WaypointFormat::Gpx   ? "Creating GNIS GPX File"
                                 : format == WaypointFormat::Csv ? "Creating GNIS CSV File"
                                                                 : "Creating GNIS MP File";
    const ClassTable* table = job.settings.classTable.empty() ? nullptr : &classes;
    // With the cache, what is written is recorded too, to say later what changed.
    std::unique_ptr<WaypointWriter> recording;
    if (!job.settings.cacheFolder.empty()) {
        job.record = std::make_unique<FeatureRecord>();
        recording = std::make_unique<RecordingWriter>(*writer, *job.record);
    }
    if (Outcome made = writeWaypoints(job.settings, recording ? *recording : *writer, table, creating, output,
                                      job.reporter, job.stats);
        !made)
        return made;
    job.waypoints = output;
    if (destination == Destination::OutputFolder)
        job.made = {output};
    return Outcome::success();
}

std::string GarminMapName(const JobSettings& settings) {
    // Appended piece by piece: GCC 12 at -O3 takes " " + a temporary for an overlapping copy.
    std::string name = "GNIS";
    for (const int state : settings.states) {
        if (state >= 0 && state < static_cast<int>(kStateCount)) {
            name += ' ';
            name += stateCodes[static_cast<std::size_t>(state)];
        }
    }
    if (settings.states.empty() && !settings.inputText.empty()) {
        name += ' ';
        AppendCleanLabel(name, settings.inputText.stem().string()); // a file name may hold a line break
    }
    // The area names the map with the states it was cut from: Bristol of
    // Massachusetts is another map than Bristol of Rhode Island.
    if (!settings.area.empty()) {
        name += ' ';
        AppendCleanLabel(name, settings.area.mapName());
    }
    return name;
}

std::uint32_t GarminMapId(const JobSettings& settings) {
    // FNV-1a of the name: the same states give the same ID on every run and
    // machine, other states another one, so maps of several regions sit side by
    // side.
    std::uint32_t hash = 2166136261u;
    for (const char c : GarminMapName(settings)) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return 63240000u + hash % 30000000u; // eight digits
}

} // namespace gnis
