#include "run_and_wait.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace gnis {

std::string RunResult::lastErrorLine() const {
    // A PostgreSQL tool's own verdict ("ERROR:  ...", "FATAL:  ...") says more
    // than the hints and context lines printed after it.
    std::string last, verdict;
    for (const std::string* text : {&output, &errors}) {
        std::size_t start = 0;
        while (start < text->size()) {
            std::size_t end = text->find('\n', start);
            if (end == std::string::npos)
                end = text->size();
            std::string line = text->substr(start, end - start);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
                line.pop_back();
            if (!line.empty()) {
                last = line;
                for (const char* mark : {"ERROR:", "FATAL:"}) {
                    if (const auto at = line.find(mark); at != std::string::npos)
                        verdict = line.substr(at);
                }
            }
            start = end + 1;
        }
        if (text == &output && !errors.empty())
            last.clear(); // the error output, when there is one, has the last word
    }
    return verdict.empty() ? last : verdict;
}

RunResult RunAndWait(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const RunOptions& options) {
    QProcess process;
    process.setProgram(QString::fromStdString(program.string()));
    QStringList args;
    for (const auto& a : arguments)
        args << QString::fromStdString(a);
    process.setArguments(args);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : options.environment)
        env.insert(QString::fromStdString(key), QString::fromStdString(value));
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!options.standardOutputFile.empty())
        process.setStandardOutputFile(QString::fromStdString(options.standardOutputFile.string()));
    if (!options.standardErrorFile.empty())
        process.setStandardErrorFile(QString::fromStdString(options.standardErrorFile.string()));

    RunResult result;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    // Output is drained as it comes so a talkative tool never blocks on a full pipe.
    QByteArray out, err;
    const bool keepOutput = options.standardOutputFile.empty();
    const bool keepErrors = options.standardErrorFile.empty();
    if (keepOutput)
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] { out += process.readAllStandardOutput(); });
    if (keepErrors)
        QObject::connect(&process, &QProcess::readyReadStandardError, &loop, [&] { err += process.readAllStandardError(); });
    QTimer cancelCheck;
    if (options.cancelled) {
        QObject::connect(&cancelCheck, &QTimer::timeout, &loop, [&] {
            if (!result.cancelled && options.cancelled()) {
                result.cancelled = true;
                process.kill();
            }
        });
        cancelCheck.start(100);
    }
    process.start();
    // Input reaches the windows while the tool runs: a disabled window drops it,
    // so nothing is left queued to act after the stage.
    if (process.state() != QProcess::NotRunning || process.error() != QProcess::FailedToStart)
        loop.exec();
    cancelCheck.stop();

    if (process.error() == QProcess::FailedToStart) {
        result.startError = process.errorString().toStdString();
        return result;
    }
    if (keepOutput)
        out += process.readAllStandardOutput();
    if (keepErrors)
        err += process.readAllStandardError();
    result.started = true;
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.output = out.toStdString();
    result.errors = err.toStdString();
    if (!options.standardErrorFile.empty()) {
        QFile log(QString::fromStdString(options.standardErrorFile.string()));
        if (log.open(QIODevice::ReadOnly)) {
            // The tail is enough to say what went wrong.
            if (log.size() > 65536)
                log.seek(log.size() - 65536);
            result.errors = log.readAll().toStdString();
        }
    }
    return result;
}

std::filesystem::path ToolPath(const std::string& folder, const std::string& tool) {
#if defined(_WIN32)
    const std::string name = tool + ".exe";
#else
    const std::string& name = tool;
#endif
    if (folder.empty()) {
        const QString found = QStandardPaths::findExecutable(QString::fromStdString(name));
        return found.isEmpty() ? std::filesystem::path(name) : std::filesystem::path(found.toStdString());
    }
    return std::filesystem::path(folder) / name;
}

} // namespace gnis
