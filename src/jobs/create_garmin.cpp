#include "jobs/create_garmin.h"

#include "jobs/create_gpx.h"
#include "jobs/job_context.h"
#include "jobs/output_files.h"
#include "base/file_system.h"
#include "platform/run_and_wait.h"
#include "jobs/shapefile_set.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace gnis {
namespace fs = std::filesystem;

namespace {

// mkgmap's verdict on a map it could not make: its first SEVERE line.
std::string mkgmapFailure(const fs::path& mkgmap, const RunResult& run) {
    for (const std::string* text : {&run.errors, &run.output}) {
        if (const auto at = text->find("SEVERE"); at != std::string::npos)
            return "mkgmap failed: " + text->substr(at, text->find('\n', at) - at);
    }
    return ToolFailure("mkgmap", mkgmap, run);
}

// mkgmap refuses a description of more than 50 bytes (16 states make more):
// a longer name is cut at a character's start and ends in "…"; the whole one
// goes into the copyright message.
std::string mapDescription(const std::string& name) {
    constexpr std::size_t kMost = 50;
    if (name.size() <= kMost)
        return name;
    const std::string ellipsis = "\xE2\x80\xA6";
    std::size_t cut = kMost - ellipsis.size();
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    while (cut > 0 && name[cut - 1] == ' ')
        --cut;
    return name.substr(0, cut) + ellipsis;
}

// The file's identity: its size and a hash of its bytes; "" for no plain file.
// Not the inode or the time: a Garmin card is FAT, whose inode numbers change
// with every mount and whose times are coarse.
std::string identity(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec)))
        return {};
    std::ifstream in(file, std::ios::binary);
    std::uint64_t hash = 14695981039346656037ull, size = 0; // FNV-1a
    std::vector<char> buffer(1 << 16);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        const auto n = static_cast<std::size_t>(in.gcount());
        for (std::size_t i = 0; i < n; ++i) {
            hash ^= static_cast<unsigned char>(buffer[i]);
            hash *= 1099511628211ull;
        }
        size += n;
    }
    if (in.bad())
        return {};
    std::ostringstream id;
    id << size << ' ' << std::hex << hash;
    return id.str();
}

// True when gmapsupp.img is free to write: not there, or the map this program made last.
// gmapsupp.img is the name every Garmin map ships under, so one of the user's
// own must never be taken for ours: the marker beside it names the map we made.
bool mayReplace(const fs::path& folder) {
    const fs::path map = folder / kGarminFileName;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(map, ec)))
        return true;
    const std::string id = identity(map);
    if (id.empty() || !FileExists(folder / kGarminMarkerName))
        return false;
    std::ifstream marker(folder / kGarminMarkerName, std::ios::binary);
    std::string line(128, '\0'); // a marker of ours is a line of a few dozen bytes
    marker.read(line.data(), static_cast<std::streamsize>(line.size()));
    line.resize(static_cast<std::size_t>(marker.gcount()));
    return line == id + "\n";
}

} // namespace

namespace {

Outcome checkTarget(const JobSettings& settings) {
    if (settings.replaceGarmin || mayReplace(settings.outputFolder))
        return Outcome::success();
    return Outcome::failure((settings.outputFolder / kGarminFileName).string() +
                            " is a map this program did not make, so it stays as it is; move it away first "
                            "(gnis-convert: --replace)");
}

} // namespace

Outcome CheckGarminTarget(JobContext& job) {
    if (Outcome free = checkTarget(job.settings); !free)
        return free;
    return CheckInputIsNotOutput(job.settings, job.settings.outputFolder / kMpFileName);
}

namespace {

// gnis.mp of the scratch folder into gmapsupp.img there, by mkgmap.
Outcome compile(const JobSettings& settings, StatusReporter& reporter, const fs::path& mp, const fs::path& scratch) {
    reporter.setStatusText("Compiling Garmin Map");
    const std::string folder = settings.mkgmapFolder.string();
    const fs::path mkgmap = FindTool(folder, "mkgmap");
    if (mkgmap.empty())
        return Outcome::failure(ToolNotFound(folder, "mkgmap"));
    const std::string name = GarminMapName(settings);
    const std::uint32_t id = GarminMapId(settings);
    RunOptions options;
    options.cancelled = [&reporter] { return reporter.cancelRequested(); };
    reporter.toolRunning("mkgmap");
    const RunResult run = RunAndWait(mkgmap,
                                     {"--output-dir=" + scratch.string(), "--gmapsupp",
                                      // Labels as UTF-8, in mixed case: names keep their letters.
                                      "--unicode", "--lower-case",
                                      // A family of its own per state set: several regions load side by side.
                                      "--family-id=" + std::to_string(1000 + id % 60000), "--family-name=" + name,
                                      "--series-name=" + name, "--description=" + mapDescription(name),
                                      "--copyright-message=" + name, mp.string()},
                                     options);
    if (!run.started)
        return Outcome::failure(ToolFailure("mkgmap", mkgmap, run));
    const std::string said = run.output + run.errors;
    if (!run.succeeded() || said.find("Number of MapFailedExceptions: 0") == std::string::npos ||
        said.find("Number of ExitExceptions: 0") == std::string::npos || !FileExists(scratch / kGarminFileName))
        return Outcome::failure(mkgmapFailure(mkgmap, run));
    return Outcome::success();
}

} // namespace

Outcome CompileGarminMap(JobContext& job) {
    // gnis.mp and the map are made in the scratch folder (mkgmap writes several
    // files there); only a finished map and its gnis.mp take the old ones' places,
    // so a failed or cancelled job leaves the folder as it was.
    const JobSettings& settings = job.settings;
    const fs::path& mp = job.waypoints;
    const fs::path scratch = mp.parent_path();
    if (Outcome map = compile(settings, job.reporter, mp, scratch); !map)
        return map;
    // Asked again: the run may have taken long, and a map of the user's may have come meanwhile.
    if (Outcome free = checkTarget(settings); !free)
        return free;
    const fs::path target = settings.outputFolder / kGarminFileName;
    std::error_code ec;
    if (!MoveWithoutReplacing(scratch / kGarminFileName, target))
        fs::rename(scratch / kGarminFileName, target, ec);
    if (ec)
        return Outcome::failure("Can't write " + target.string() + ": " + ec.message());
    TextFileWriter marker;
    Outcome marked = marker.open(settings.outputFolder / kGarminMarkerName, TextFileWriter::Durability::Replaced);
    if (marked) {
        marker.write(identity(target) + "\n");
        marked = marker.commit();
    }
    if (!marked)
        job.stats.warning += std::string(job.stats.warning.empty() ? "" : " ") + "The marker beside " + kGarminFileName +
                             " could not be written, so the next run will take the map for someone else's.";
    fs::rename(mp, settings.outputFolder / kMpFileName, ec);
    if (ec)
        return Outcome::failure("The map was made, but " + (settings.outputFolder / kMpFileName).string() +
                                " could not be written: " + ec.message());
    job.made = {target, settings.outputFolder / kMpFileName};
    job.madeFrom = "map " + std::to_string(GarminMapId(settings)) + " \"" + GarminMapName(settings) + "\" made from ";
    return Outcome::success();
}

} // namespace gnis
