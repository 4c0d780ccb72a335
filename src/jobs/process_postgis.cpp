#include "jobs/process_postgis.h"

#include "jobs/job_context.h"
#include "jobs/output_files.h"

#include "base/file_system.h"
#include "platform/run_and_wait.h"
#include "platform/settings_file.h"
#include "jobs/shapefile_set.h"

namespace gnis {
namespace fs = std::filesystem;

namespace {

constexpr const char* kStepSession = "trailcrafter-gnis-step"; // as kPutBack names it

// How every PostgreSQL tool is called: the password only ever in the
// environment, and a server that does not answer given up on.
RunOptions databaseEnvironment(const JobSettings& s, StatusReporter& reporter) {
    RunOptions options;
    options.cancelled = [&reporter] { return reporter.cancelRequested(); };
    if (!s.password.empty())
        options.environment["PGPASSWORD"] = s.password;
    options.environment["PGCONNECT_TIMEOUT"] = "20";
    options.environment["PGAPPNAME"] = kStepSession;
    return options;
}

std::vector<std::string> psqlArguments(const JobSettings& s, std::vector<std::string> tail) {
    // -X: no user startup file; -w: never wait for a password; stop at the first error.
    std::vector<std::string> args{"-X", "-w", "-q", "-v", "ON_ERROR_STOP=1"};
    if (!s.database.empty())
        args.insert(args.end(), {"-d", s.database});
    if (!s.host.empty())
        args.insert(args.end(), {"-h", s.host});
    if (!s.port.empty())
        args.insert(args.end(), {"-p", s.port});
    if (!s.user.empty())
        args.insert(args.end(), {"-U", s.user});
    args.insert(args.end(), tail.begin(), tail.end());
    return args;
}

// The table gnis as the job found it is kept as gnis_previous (its index
// renamed with it, or the processing script's would not be made anew) from the
// swap to the job's end: a cancel puts it back, a job that ends drops it.
constexpr const char* kSwap =
    "BEGIN; DROP TABLE IF EXISTS gnis_previous; ALTER TABLE IF EXISTS gnis RENAME TO gnis_previous; "
    "ALTER INDEX IF EXISTS gnis_geom_idx RENAME TO gnis_previous_geom_idx; ALTER TABLE gnis_load RENAME TO gnis; COMMIT;";
// The steps' own sessions are named, so that putting the table back can first
// stop what the server still works at for them: a killed client's query runs on.
constexpr const char* kPutBack =
    "DO $$ BEGIN PERFORM pg_cancel_backend(pid) FROM pg_stat_activity WHERE application_name = 'trailcrafter-gnis-step' "
    "AND usename = current_user AND pid <> pg_backend_pid(); END $$; "
    "BEGIN; DROP TABLE IF EXISTS gnis; ALTER TABLE IF EXISTS gnis_previous RENAME TO gnis; "
    "ALTER INDEX IF EXISTS gnis_previous_geom_idx RENAME TO gnis_geom_idx; COMMIT; SELECT 'put back';";
constexpr const char* kDropPrevious = "DROP TABLE IF EXISTS gnis_previous; SELECT 'dropped';";

// The loaded table through the processing script and back out as gnis.shp.
Outcome processAndExport(JobContext& job, const fs::path& psql, const fs::path& pgsql2shp, const fs::path& processing,
                         const RunOptions& db, const fs::path& scratch) {
    const JobSettings& s = job.settings;
    StatusReporter& reporter = job.reporter;
    const fs::path out = s.outputFolder;

    reporter.setStatusText("Processing Data");
    reporter.toolRunning("psql");
    const RunResult processed = RunAndWait(psql, psqlArguments(s, {"-f", processing.string()}), db);
    if (!processed.succeeded())
        return Outcome::failure(ToolFailure("psql", psql, processed));
    reporter.milestone("Data Processed");

    reporter.setStatusText("Creating New Shapefile");
    std::vector<std::string> exportArgs{"-k", "-f", (scratch / kShpFileName).string()};
    if (!s.host.empty())
        exportArgs.insert(exportArgs.end(), {"-h", s.host});
    if (!s.port.empty())
        exportArgs.insert(exportArgs.end(), {"-p", s.port});
    if (!s.user.empty())
        exportArgs.insert(exportArgs.end(), {"-u", s.user});
    exportArgs.insert(exportArgs.end(), {s.database, kTableName});
    reporter.toolRunning("pgsql2shp");
    const RunResult exported = RunAndWait(pgsql2shp, exportArgs, db);
    if (!exported.succeeded() || !FileExists(scratch / kShpFileName))
        return Outcome::failure(ToolFailure("pgsql2shp", pgsql2shp, exported));
    if (Outcome replaced = ReplaceShapefile(scratch, out, kShapefileName); !replaced)
        return replaced;
    reporter.milestone("Data Extracted");
    // The table's content, not the conversion's: the processing removed features.
    job.countsApply = false;
    if (job.made.empty()) {
        job.made = {out / kShpFileName};
        job.madeFrom = "processed";
    }
    return Outcome::success();
}

Outcome loadProcessExport(JobContext& job) {
    const JobSettings& s = job.settings;
    StatusReporter& reporter = job.reporter;
    const fs::path out = s.outputFolder;
    const fs::path shp = job.shapefile.empty() ? out / kShpFileName : job.shapefile;
    const RunOptions db = databaseEnvironment(s, reporter);

    reporter.setStatusText("Connecting To The Database");
    const std::string folder = s.postgisFolder.string();
    const fs::path shp2pgsql = FindTool(folder, "shp2pgsql"), psql = FindTool(folder, "psql"),
                   pgsql2shp = FindTool(folder, "pgsql2shp");
    for (const auto& [tool, path] : {std::pair{"shp2pgsql", &shp2pgsql}, std::pair{"psql", &psql},
                                     std::pair{"pgsql2shp", &pgsql2shp}}) {
        if (path->empty())
            return Outcome::failure(ToolNotFound(folder, tool));
    }
    if (!s.port.empty() && !ValidPort(s.port))
        return Outcome::failure("The port \"" + s.port + "\" is not a number from 1 to 65535");
    // A name that starts with "-" would be taken for an option by shp2pgsql and
    // pgsql2shp, which read the database name as a plain argument.
    for (const auto& [what, name] : {std::pair{"database name", &s.database}, std::pair{"host", &s.host},
                                     std::pair{"user name", &s.user}}) {
        if (!name->empty() && name->front() == '-')
            return Outcome::failure(std::string("The ") + what + " \"" + *name + "\" starts with \"-\", which the tools take for an option");
    }
    if (!FileExists(shp))
        return Outcome::failure("No shp file exists");
    const fs::path processing = s.processingScript.empty() ? ProcessingScriptPath() : s.processingScript;
    if (processing.empty() || !FileExists(processing))
        return Outcome::failure("The processing script gnis.sql is missing" +
                    (processing.empty() ? std::string() : " (" + processing.string() + ")"));
    // The export goes to a scratch folder of this run's own, removed with its
    // content at the end: a failed export must not cost the user the shapefile
    // they have. (The load streams from shp2pgsql to psql, so a gnis.sql of the
    // user's is never touched.)
    const fs::path scratch = job.scratch();
    if (scratch.empty())
        return Outcome::failure("Can't write in " + out.string());
    std::error_code ec;

    // The new features go into a table of their own, gnis_load, which takes the
    // place of gnis only once the whole load succeeded: a load that fails or is
    // cancelled (or a producer that fails after psql has committed) leaves the old
    // table as it was. A gnis_load left by such a load goes first, in the same
    // session as the load (each psql start costs a connection, and on Debian a
    // Perl wrapper).
    //
    // shp2pgsql streams straight into psql: no load script is written. -D: COPY
    // instead of one INSERT per feature; -s: the SRID at once, so the processing
    // script has no geometry to rewrite.
    // One run at a time on the table: a session of ours holds an advisory lock
    // from the load to the end of the export, so two runs on one database never
    // load into or export each other's table. The server lets go of it when
    // the session ends, however this program ends.
    HeldProcess session;
    RunOptions own = db;
    own.environment["PGAPPNAME"] = "trailcrafter-gnis-lock";
    session.start(psql, psqlArguments(s, {"-A", "-t"}), own);
    const std::optional<std::string> locked =
        session.ask("SELECT pg_try_advisory_lock(hashtext('trailcrafter-gnis table gnis'));", 60000);
    if (!locked)
        return Outcome::failure(reporter.cancelRequested() ? "cancelled" : ToolFailure("psql", psql, session.result()));
    if (*locked != "t")
        return Outcome::failure("another run is using the table gnis in the database " +
                                (s.database.empty() ? std::string("of the user") : s.database) +
                                "; try again when it has finished");

    reporter.setStatusText("Loading The Shapefile Into The Database");
    RunOptions load = db;
    load.standardErrorFile = ErrorLogPath();
    fs::create_directories(load.standardErrorFile.parent_path(), ec);
    reporter.toolRunning("shp2pgsql and psql");
    const std::vector<RunResult> loaded = RunPipeline(
        {{shp2pgsql, {"-s", "4326", "-c", "-D", shp.string(), "gnis_load"}}, {psql, psqlArguments(s, {"-c", "DROP TABLE IF EXISTS gnis_load", "-f", "-"})}}, load);
    // The program that failed first says why; the other was only stopped.
    if (!loaded[0].succeeded() && (!loaded[0].stoppedByOther || loaded[1].succeeded()))
        return Outcome::failure(ToolFailure("shp2pgsql", shp2pgsql, loaded[0]));
    if (!loaded[1].succeeded())
        return Outcome::failure(ToolFailure("psql", psql, loaded[1]));
    // The swap in the session of ours, past a cancel: it happened or it did not,
    // and a cancel is read only once it is known which.
    const std::optional<std::string> swapped = session.ask(std::string(kSwap) + " SELECT 'swapped';", 60000, false);
    if (!swapped || *swapped != "swapped")
        return Outcome::failure(ToolFailure("psql", psql, session.result()));
    reporter.milestone("Data Loaded Into Database");
    Outcome rest = reporter.cancelRequested() ? Outcome::failure("cancelled")
                                              : processAndExport(job, psql, pgsql2shp, processing, db, scratch);
    // Any failure after the swap puts the table the job found back; only a
    // finished job lets it go.
    if (!rest) {
        const std::optional<std::string> putBack = session.ask(kPutBack, 60000, false);
        if (!putBack || *putBack != "put back")
            job.notUndone = "The table gnis could not be put back as it was (" +
                            (putBack ? ToolFailure("psql", psql, session.result())
                                     : std::string("the database did not answer within a minute")) +
                            "); the one before is gnis_previous.";
    } else {
        (void)session.ask(kDropPrevious, 20000, false); // a leftover is dropped by the next load anyway
    }
    return rest;
}

} // namespace

Outcome ProcessGnisPostGIS(JobContext& job) {
    Outcome processed = loadProcessExport(job);
    // A failure (not a cancel) after the job made a new shapefile still gives
    // the user that one, unprocessed, as a shapefile job would have.
    if (!processed && !job.reporter.cancelRequested() && !job.shapefile.empty() &&
        FileExists(job.shapefile) && ReplaceShapefile(job.shapefile.parent_path(), job.settings.outputFolder, kShapefileName)) {
        // Said in a cancel's words too, should one come in the meantime.
        job.notUndone += std::string(job.notUndone.empty() ? "" : " ") + "The unprocessed " + kShpFileName +
                         " is in the folder.";
        return Outcome::failure(processed.error() + "; the unprocessed " + kShpFileName + " is in the folder");
    }
    return processed;
}

} // namespace gnis
