// What the commands of `tarnwick` share: exit codes, errors, option
// parsing helpers, terminal input, and the hand-over of the console to
// the extractor's core.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Exit codes. 1 and 2 are the extractor's own and come from the core for
// list, test and extract; 3 and 4 are the packer's.
enum ExitCode {
    kExitOk = 0,
    kExitNoArchive = 1,    // not an archive, its frame is broken, or the password is wrong or missing
    kExitFatal = 2,        // read or write error, damaged data, a folder that cannot be made
    kExitUsage = 3,        // the command line is wrong
    kExitRefused = 4,      // create: an input cannot be stored or the output cannot be written;
                           // extract: a file exists and no overwrite policy was given
};

// Ends a command with a message on standard error and an exit code.
struct CliError : std::runtime_error {
    CliError(int code, const std::string& message) : std::runtime_error(message), exitCode(code) {}
    int exitCode;
};

[[noreturn]] void UsageError(const std::string& message);

// Walks argv; "--name=value" and "--name value" both work for options
// with a value.
class ArgumentCursor {
public:
    ArgumentCursor(int argc, char** argv, int first) : argc_(argc), argv_(argv), index_(first) {}
    bool Done() const { return index_ >= argc_; }
    const std::string& Current();  // the argument under the cursor (after Next())
    // Takes the next argument. Returns false at the end.
    bool Next();
    // For the option just taken: its value, from "=value" or the next argument.
    std::string Value();
    // The option's name without "=value".
    std::string Name() const;
    bool IsOption() const;  // starts with '-' and is not "-" alone (after "--": false)

private:
    int argc_;
    char** argv_;
    int index_;
    std::string current_;
    bool optionsEnded_ = false;
    bool isOption_ = false;
};

std::string ReadWholeFile(const std::string& path);  // throws CliError (kExitRefused) when it cannot

// A password typed at the terminal without echo (/dev/tty). nullopt when
// standard input is not a terminal.
std::optional<std::string> ReadPasswordFromTerminal(const char* prompt);

// The first line of a password file, without its line end.
std::string PasswordFromFile(const std::string& path);

// The core writes its messages to standard output; the packer keeps
// standard output for its own results. Moves the core's output to
// standard error and returns a stream on the real standard output.
FILE* HandConsoleToCore();
