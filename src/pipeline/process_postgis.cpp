#include "process_postgis.h"

#include "file_system.h"
#include "run_and_wait.h"
#include "settings_file.h"
#include "shapefile_set.h"

namespace gnis {
namespace fs = std::filesystem;

namespace {

// How every PostgreSQL tool is called: the password only ever in the
// environment, and a server that does not answer given up on.
RunOptions databaseEnvironment(const JobSettings& s, StatusReporter& reporter) {
    RunOptions options;
    options.cancelled = [&reporter] { return reporter.cancelRequested(); };
    if (!s.password.empty())
        options.environment["PGPASSWORD"] = s.password;
    options.environment["PGCONNECT_TIMEOUT"] = "20";
    return options;
}

std::vector<std::string> psqlArguments(const JobSettings& s, std::vector<std::string> tail) {
    // -X: no user startup file; -w: never wait for a password; stop at the first error.
    std::vector<std::string> args{"-X", "-w", "-q", "-v", "ON_ERROR_STOP=1"};
    if (!s.database.empty())
        args.insert(args.end(), {"-d", s.database});
    if (!s.host.empty())
        args.insert(args.end(), {"-h", s.host});
    if (!s.user.empty())
        args.insert(args.end(), {"-U", s.user});
    args.insert(args.end(), tail.begin(), tail.end());
    return args;
}

std::string failure(const std::string& tool, const fs::path& path, const RunResult& run) {
    if (!run.started)
        return tool + " failed: " + run.startError + " (" + path.string() + ")";
    const std::string line = run.lastErrorLine();
    return tool + " failed: " +
           (line.empty() ? "exit status " + std::to_string(run.exitCode) : line);
}

} // namespace

Outcome ProcessGnisPostGIS(const JobSettings& s, StatusReporter& reporter) {
    const fs::path out = s.outputFolder;
    const fs::path shp = out / "gnis.shp";
    const std::string folder = s.postgisFolder.string();
    const fs::path shp2pgsql = ToolPath(folder, "shp2pgsql");
    const fs::path psql = ToolPath(folder, "psql");
    const fs::path pgsql2shp = ToolPath(folder, "pgsql2shp");
    const RunOptions db = databaseEnvironment(s, reporter);
    auto fail = [](const std::string& message) { return Outcome::failure(message); };

    reporter.setStatusText("Creating GNIS SQL File");
    // A name that starts with "-" would be taken for an option by shp2pgsql and
    // pgsql2shp, which read the database name as a plain argument.
    for (const auto& [what, name] : {std::pair{"database name", &s.database}, std::pair{"host", &s.host},
                                     std::pair{"user name", &s.user}}) {
        if (!name->empty() && name->front() == '-')
            return fail(std::string("The ") + what + " \"" + *name + "\" starts with \"-\", which the tools take for an option");
    }
    if (!FileExists(shp))
        return fail("No shp file exists");
    const fs::path processing = s.processingScript.empty() ? ProcessingScriptPath() : s.processingScript;
    if (processing.empty() || !FileExists(processing))
        return fail("The processing script gnis.sql is missing" +
                    (processing.empty() ? std::string() : " (" + processing.string() + ")"));
    // The load script and the export go to a scratch folder of this run's own,
    // removed with its content at the end: a gnis.sql of the user's, or a link
    // by that name, is never written or removed, and a failed export must not
    // cost the user the shapefile they have.
    ScratchFolder scratch(out);
    if (!scratch.ok())
        return fail("Can't write in " + out.string());
    const fs::path loadScript = scratch.path() / "gnis.sql";
    std::error_code ec;

    // -d replaces the table, but its DropGeometryColumn fails when there is no
    // table yet; a first load into a fresh database creates it instead.
    const RunResult exists = RunAndWait(psql, psqlArguments(s, {"-A", "-t", "-c", "SELECT to_regclass('gnis') IS NOT NULL"}), db);
    if (!exists.succeeded())
        return fail(failure("psql", psql, exists));
    const bool tableExists = exists.output.find('t') != std::string::npos;

    RunOptions toFile = db;
    toFile.environment.clear();
    toFile.standardOutputFile = loadScript;
    toFile.standardErrorFile = ErrorLogPath();
    fs::create_directories(toFile.standardErrorFile.parent_path(), ec);
    // -D: COPY instead of one INSERT per feature, five times faster to load.
    const RunResult converted =
        RunAndWait(shp2pgsql, {tableExists ? "-d" : "-c", "-D", shp.string(), "gnis", s.database}, toFile);
    if (!converted.succeeded() || !FileExists(loadScript) || fs::file_size(loadScript, ec) == 0)
        return fail(failure("shp2pgsql", shp2pgsql, converted));
    reporter.setStatusBarText("SQL File Created");

    reporter.setStatusText("Loading SQL Data Into Database");
    const RunResult loaded = RunAndWait(psql, psqlArguments(s, {"-f", loadScript.string()}), db);
    if (!loaded.succeeded())
        return fail(failure("psql", psql, loaded));
    reporter.setStatusBarText("Data Loaded Into Database");

    reporter.setStatusText("Removing SQL File");
    if (Outcome removed = DeleteFile(loadScript, false); !removed)
        return fail(removed.error());

    reporter.setStatusText("Processing Data");
    const RunResult processed = RunAndWait(psql, psqlArguments(s, {"-f", processing.string()}), db);
    if (!processed.succeeded())
        return fail(failure("psql", psql, processed));
    reporter.setStatusBarText("Data Processed");

    reporter.setStatusText("Creating New Shapefile");
    std::vector<std::string> exportArgs{"-k", "-f", (scratch.path() / "gnis.shp").string()};
    if (!s.host.empty())
        exportArgs.insert(exportArgs.end(), {"-h", s.host});
    if (!s.user.empty())
        exportArgs.insert(exportArgs.end(), {"-u", s.user});
    exportArgs.insert(exportArgs.end(), {s.database, "gnis"});
    const RunResult exported = RunAndWait(pgsql2shp, exportArgs, db);
    if (!exported.succeeded() || !FileExists(scratch.path() / "gnis.shp"))
        return fail(failure("pgsql2shp", pgsql2shp, exported));
    if (Outcome replaced = ReplaceShapefile(scratch.path(), out, "gnis"); !replaced)
        return fail(replaced.error());
    reporter.setStatusBarText("Data Extracted");
    return Outcome::success();
}

} // namespace gnis
