#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

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

// The program "ogr2ogr" (with the platform's executable suffix) in folder when
// it is there, else on PATH; empty when neither has it.
std::filesystem::path FindTool(const std::string& folder, const std::string& tool);
// "TOOL not found in FOLDER or on PATH", for a tool FindTool did not find.
std::string ToolNotFound(const std::string& folder, const std::string& tool);
// "TOOL failed: " and why: the start error with the program's path, else the
// tool's own error line, else its exit status.
std::string ToolFailure(const std::string& tool, const std::filesystem::path& path, const RunResult& run);

} // namespace gnis
