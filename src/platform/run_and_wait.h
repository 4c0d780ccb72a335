#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QProcess;

namespace gnis {

struct RunOptions {
    // Added to the inherited environment (a password travels here, never on a command line).
    std::map<std::string, std::string> environment;
    // When set, standard output goes straight into this file instead of being kept.
    std::filesystem::path standardOutputFile;
    // When set, error output goes into this file (and is still read back for messages).
    std::filesystem::path standardErrorFile;
    // Asked a few times a second; true ends the program.
    std::function<bool()> cancelled;
};

struct RunResult {
    bool started = false;   // false: the program could not be started at all
    bool crashed = false;
    bool cancelled = false; // ended on the caller's request
    bool stoppedByOther = false; // of a pipeline: ended because another program failed first
    int exitCode = -1;
    std::string output;     // standard output, unless it went to a file
    std::string errors;     // error output
    std::string startError; // why it could not be started

    bool succeeded() const { return started && !crashed && !cancelled && !stoppedByOther && exitCode == 0; }
    // The last non-empty line of the error output (else of the output): what a
    // failing tool most likely said about why.
    std::string lastErrorLine() const;
};

// Runs a program with an argument list (no shell: names with blanks or quotes
// stay one argument) and waits for its end in a local event loop, so windows
// keep repainting. Standard input is closed, so a tool that asks for input ends
// instead of waiting for ever. The child inherits the environment and the
// current folder. Needs a QCoreApplication.
RunResult RunAndWait(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {});

struct Command {
    std::filesystem::path program;
    std::vector<std::string> arguments;
};

// Runs programs as a pipeline, each one's output the next one's input, and
// waits for all of them; one result per program, in order. The options'
// standardErrorFile takes the first program's error output, standardOutputFile
// the last one's output. A program that cannot start, or a cancel, ends them all.
std::vector<RunResult> RunPipeline(const std::vector<Command>& commands, const RunOptions& options = {});

// A program kept running beside a job's steps for what it holds, such as a
// database session's lock: its standard input stays open for the lines it is
// asked. It ends with the object (its input closed, then killed if it lingers);
// the system ends it with this process however this one ends.
class HeldProcess {
public:
    HeldProcess();
    ~HeldProcess();
    HeldProcess(const HeldProcess&) = delete;
    HeldProcess& operator=(const HeldProcess&) = delete;
    // Starts the program; the options' environment and cancel apply.
    void start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               const RunOptions& options = {});
    // Writes a line to its input and waits for a line of its output (without
    // the line end); nothing when it ended, was cancelled or said nothing within
    // timeoutMs. What undoes a cancelled job asks past the cancel.
    std::optional<std::string> ask(const std::string& line, int timeoutMs, bool heedCancel = true);
    // What it said on its error output, or why it could not start: for messages.
    RunResult result() const;

private:
    std::unique_ptr<QProcess> process_;
    std::function<bool()> cancelled_;
    std::string errors_;
};

// The program "ogr2ogr" (with the platform's executable suffix) in folder when
// it is there, else on PATH; empty when neither has it.
std::filesystem::path FindTool(const std::string& folder, const std::string& tool);
// "TOOL not found in FOLDER or on PATH", for a tool FindTool did not find.
std::string ToolNotFound(const std::string& folder, const std::string& tool);
// "TOOL failed: " and why: the start error with the program's path, else the
// tool's own error line, else its exit status.
std::string ToolFailure(const std::string& tool, const std::filesystem::path& path, const RunResult& run);

} // namespace gnis
