#include "platform/run_and_wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace gnis {

namespace {

#if defined(SIGPIPE)
constexpr int kBrokenPipeSignal = SIGPIPE;
#else
constexpr int kBrokenPipeSignal = -1;
#endif

std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (!line.empty())
            lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool indented(const std::string& line) { return line[0] == ' ' || line[0] == '\t'; }

// GDAL's own error line: "ERROR 1: ...".
bool gdalError(const std::string& line) {
    if (line.rfind("ERROR ", 0) != 0)
        return false;
    std::size_t i = 6;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9')
        ++i;
    return i > 6 && i < line.size() && line[i] == ':';
}

std::string trimmed(const std::string& line) {
    const std::size_t start = line.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : line.substr(start);
}

} // namespace

std::string RunResult::lastErrorLine() const {
    // The error output, when there is one, has the word; else the output.
    const std::vector<std::string> lines = nonEmptyLines(errors.find_first_not_of(" \t\r\n") != std::string::npos ? errors : output);
    for (const std::string& line : lines) {
        if (gdalError(line))
            return line;
    }
    // A PostgreSQL tool's verdict ("FATAL:  ...", "ERROR:  ...") says more than
    // the context printed around it; a hint may follow it.
    std::size_t at = lines.size();
    std::size_t from = 0;
    for (std::size_t i = 0; i < lines.size() && at == lines.size(); ++i) {
        for (const char* mark : {"FATAL:", "ERROR:"}) {
            if (const auto found = lines[i].find(mark); found != std::string::npos && at == lines.size()) {
                at = i;
                from = found;
            }
        }
    }
    if (at == lines.size()) {
        // Else the last line that is neither indented nor one of GDAL's list of
        // drivers that could not open a file.
        for (std::size_t i = lines.size(); i-- > 0;) {
            if (!indented(lines[i]) && lines[i] != "FAILURE:") {
                at = i;
                break;
            }
        }
        if (at == lines.size())
            return lines.empty() ? std::string() : trimmed(lines.back());
        // "psql: error: ..." says the program's name once more.
        if (const auto mark = lines[at].find(": error: "); mark != std::string::npos && mark < 20)
            from = mark + 9;
    }
    std::string verdict = lines[at].substr(from);
    if (at + 1 < lines.size() && (indented(lines[at + 1]) || lines[at + 1].rfind("HINT:", 0) == 0) &&
        trimmed(lines[at + 1]).rfind("-> `", 0) != 0)
        verdict += "; " + trimmed(lines[at + 1]);
    return verdict;
}

namespace {

// Every tool runs in a process group of its own, so ending it ends whatever it
// started too (a shell wrapper's java, a script's children); on Linux the
// system ends it when this process dies, however it dies.
void prepareChild(QProcess& p) {
#if defined(Q_OS_UNIX)
    p.setChildProcessModifier([] {
        ::setpgid(0, 0);
#if defined(__linux__)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    });
#else
    (void)p;
#endif
}

void endTool(QProcess& p) {
#if defined(Q_OS_UNIX)
    if (const qint64 pid = p.processId(); pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
#endif
    p.kill();
}

// What a tool said, kept to its last part: enough to say what went wrong, and
// bounded whatever the tool prints.
void keepTail(QByteArray& kept, const QByteArray& more) {
    constexpr qsizetype kKept = 1 << 20;
    kept += more;
    if (kept.size() > kKept)
        kept.remove(0, kept.size() - kKept);
}

} // namespace

std::vector<RunResult> RunPipeline(const std::vector<Command>& commands, const RunOptions& options) {
    const std::size_t n = commands.size();
    std::vector<std::unique_ptr<QProcess>> processes;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : options.environment)
        env.insert(QString::fromStdString(key), QString::fromStdString(value));
    for (const Command& command : commands) {
        auto process = std::make_unique<QProcess>();
        process->setProgram(QString::fromStdString(command.program.string()));
        QStringList args;
        for (const auto& a : command.arguments)
            args << QString::fromStdString(a);
        process->setArguments(args);
        process->setProcessEnvironment(env);
        prepareChild(*process);
        if (!processes.empty())
            processes.back()->setStandardOutputProcess(process.get());
        processes.push_back(std::move(process));
    }
    std::vector<RunResult> results(n);
    if (n == 0)
        return results;
    processes.front()->setStandardInputFile(QProcess::nullDevice());
    if (!options.standardOutputFile.empty())
        processes.back()->setStandardOutputFile(QString::fromStdString(options.standardOutputFile.string()));
    if (!options.standardErrorFile.empty())
        processes.front()->setStandardErrorFile(QString::fromStdString(options.standardErrorFile.string()));

    QEventLoop loop;
    std::size_t running = 0;
    std::vector<QByteArray> out(n), err(n);
    auto ended = [&] {
        if (--running == 0)
            loop.quit();
    };
    // The first program to fail ends the others, as a shell's pipefail would
    // report it: a consumer must not take a producer's cut-off output for all
    // of it (psql would commit a half load), and a producer writing into a
    // consumer that gave up is not the one to blame.
    std::vector<bool> stopped(n, false);
    auto stopOthers = [&](std::size_t k) {
        for (std::size_t j = 0; j < n; ++j) {
            if (j != k && processes[j]->state() != QProcess::NotRunning) {
                stopped[j] = true;
                endTool(*processes[j]);
            }
        }
    };
    for (std::size_t k = 0; k < n; ++k) {
        QProcess& p = *processes[k];
        QObject::connect(&p, &QProcess::finished, &loop, [&, k](int code, QProcess::ExitStatus status) {
            // A producer ended by a broken pipe lost its reader: that one ends by
            // itself and tells why, so it is not cut short here.
            const bool brokenPipe = status == QProcess::CrashExit && k + 1 < n && code == kBrokenPipeSignal;
            if (!stopped[k] && !brokenPipe && (code != 0 || status != QProcess::NormalExit))
                stopOthers(k);
            ended();
        });
        QObject::connect(&p, &QProcess::errorOccurred, &loop, [&, k](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart)
                return;
            // One program missing ends the others, which would wait for it.
            stopOthers(k);
            ended();
        });
        // Output is drained as it comes, so a talkative tool never blocks on a full pipe.
        if (k + 1 == n && options.standardOutputFile.empty())
            QObject::connect(&p, &QProcess::readyReadStandardOutput, &loop, [&, k] { keepTail(out[k], processes[k]->readAllStandardOutput()); });
        if (k > 0 || options.standardErrorFile.empty())
            QObject::connect(&p, &QProcess::readyReadStandardError, &loop, [&, k] { keepTail(err[k], processes[k]->readAllStandardError()); });
    }
    bool cancelled = false;
    QTimer cancelCheck;
    if (options.cancelled) {
        QObject::connect(&cancelCheck, &QTimer::timeout, &loop, [&] {
            if (!cancelled && options.cancelled()) {
                cancelled = true;
                for (auto& p : processes)
                    endTool(*p);
            }
        });
        cancelCheck.start(100);
    }
    running = n;
    for (auto& p : processes)
        p->start();
    // A program that failed to start before the later ones were started ends them too.
    for (std::size_t k = 0; k < n; ++k) {
        if (processes[k]->error() == QProcess::FailedToStart)
            stopOthers(k);
    }
    // Input reaches the windows while the tools run: a disabled window drops it,
    // so nothing is left queued to act after the stage.
    if (std::any_of(processes.begin(), processes.end(), [](const auto& p) { return p->state() != QProcess::NotRunning; }))
        loop.exec();
    cancelCheck.stop();

    for (std::size_t k = 0; k < n; ++k) {
        QProcess& p = *processes[k];
        RunResult& r = results[k];
        r.cancelled = cancelled;
        r.stoppedByOther = stopped[k] && !cancelled;
        if (p.error() == QProcess::FailedToStart) {
            r.startError = p.errorString().toStdString();
            continue;
        }
        if (k + 1 == n && options.standardOutputFile.empty())
            keepTail(out[k], p.readAllStandardOutput());
        if (k > 0 || options.standardErrorFile.empty())
            keepTail(err[k], p.readAllStandardError());
        r.started = true;
        r.crashed = p.exitStatus() == QProcess::CrashExit;
        r.exitCode = p.exitCode();
        r.output = out[k].toStdString();
        r.errors = err[k].toStdString();
    }
    // A producer killed by a broken pipe while a consumer failed on
    // its own was ended by that failure: the consumer's error is the one to tell.
    for (std::size_t k = 0; k + 1 < n; ++k) {
        if (!results[k].crashed || results[k].exitCode != kBrokenPipeSignal)
            continue;
        for (std::size_t j = k + 1; j < n; ++j) {
            if (results[j].started && !results[j].succeeded() && !results[j].stoppedByOther && !results[j].cancelled)
                results[k].stoppedByOther = true;
        }
    }
    if (!options.standardErrorFile.empty() && results.front().started) {
        QFile log(QString::fromStdString(options.standardErrorFile.string()));
        if (log.open(QIODevice::ReadOnly)) {
            if (log.size() > 65536)
                log.seek(log.size() - 65536);
            results.front().errors = log.readAll().toStdString();
        }
    }
    return results;
}

RunResult RunAndWait(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const RunOptions& options) {
    return RunPipeline({Command{program, arguments}}, options).front();
}

HeldProcess::HeldProcess() = default;

HeldProcess::~HeldProcess() {
    if (!process_ || process_->state() == QProcess::NotRunning)
        return;
    process_->closeWriteChannel(); // psql ends at the end of its input, and lets go of its locks
    if (!process_->waitForFinished(2000)) {
        endTool(*process_);
        process_->waitForFinished(2000);
    }
}

void HeldProcess::start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                        const RunOptions& options) {
    process_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : options.environment)
        env.insert(QString::fromStdString(key), QString::fromStdString(value));
    process_->setProcessEnvironment(env);
    prepareChild(*process_);
    QStringList args;
    for (const auto& a : arguments)
        args << QString::fromStdString(a);
    cancelled_ = options.cancelled;
    process_->start(QString::fromStdString(program.string()), args);
}

std::optional<std::string> HeldProcess::ask(const std::string& line, int timeoutMs, bool heedCancel) {
    if (!process_ || !process_->waitForStarted(timeoutMs))
        return std::nullopt;
    process_->write(QByteArray::fromStdString(line + "\n"));
    QEventLoop loop;
    QTimer tick;
    QObject::connect(process_.get(), &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    QObject::connect(process_.get(), &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(100);
    QElapsedTimer clock;
    clock.start();
    while (!process_->canReadLine() && process_->state() == QProcess::Running && clock.elapsed() < timeoutMs &&
           !(heedCancel && cancelled_ && cancelled_()))
        loop.exec();
    errors_ += process_->readAllStandardError().left(65536).toStdString();
    if (!process_->canReadLine())
        return std::nullopt;
    std::string answer = process_->readLine(4096).toStdString();
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    return answer;
}

RunResult HeldProcess::result() const {
    RunResult r;
    r.started = process_ && process_->error() != QProcess::FailedToStart;
    if (!r.started)
        r.startError = process_ ? process_->errorString().toStdString() : "not started";
    r.exitCode = process_ && process_->state() == QProcess::NotRunning ? process_->exitCode() : -1;
    r.errors = errors_;
    return r;
}

std::filesystem::path FindTool(const std::string& folder, const std::string& tool) {
#if defined(_WIN32)
    const QString name = QString::fromStdString(tool + ".exe");
#else
    const QString name = QString::fromStdString(tool);
#endif
    // The chosen folder first: Debian keeps psql in /usr/lib/postgresql/N/bin
    // as well, but shp2pgsql and pgsql2shp only in /usr/bin.
    if (!folder.empty()) {
        const QFileInfo there(QDir(QString::fromStdString(folder)).filePath(name));
        if (there.isFile() && there.isExecutable())
            return there.absoluteFilePath().toStdString();
    }
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? std::filesystem::path() : std::filesystem::path(found.toStdString());
}

std::string ToolFailure(const std::string& tool, const std::filesystem::path& path, const RunResult& run) {
    if (!run.started)
        return tool + " failed: " + run.startError + " (" + path.string() + ")";
    const std::string line = run.lastErrorLine();
    return tool + " failed: " + (line.empty() ? "exit status " + std::to_string(run.exitCode) : line);
}

std::string ToolNotFound(const std::string& folder, const std::string& tool) {
    return tool + " not found " + (folder.empty() ? std::string() : "in " + folder + " or ") + "on PATH";
}

} // namespace gnis
