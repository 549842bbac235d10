#include "packer/cli_support.h"

#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

void UsageError(const std::string& message) { throw CliError(kExitUsage, message + " (see --help)"); }

const std::string& ArgumentCursor::Current() { return current_; }

bool ArgumentCursor::Next() {
    if (index_ >= argc_) return false;
    current_ = argv_[index_++];
    isOption_ = false;
    if (!optionsEnded_ && current_ == "--") {
        optionsEnded_ = true;
        return Next();
    }
    isOption_ = !optionsEnded_ && current_.size() > 1 && current_[0] == '-';
    return true;
}

bool ArgumentCursor::IsOption() const { return isOption_; }

std::string ArgumentCursor::Name() const {
    size_t eq = current_.find('=');
    if (current_.rfind("--", 0) == 0 && eq != std::string::npos) return current_.substr(0, eq);
    return current_;
}

std::string ArgumentCursor::Value() {
    size_t eq = current_.find('=');
    if (current_.rfind("--", 0) == 0 && eq != std::string::npos) return current_.substr(eq + 1);
    std::string name = current_;
    if (index_ >= argc_) UsageError(name + " needs a value");
    return argv_[index_++];
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CliError(kExitRefused, "cannot read \"" + path + "\"");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw CliError(kExitRefused, "cannot read \"" + path + "\"");
    return text.str();
}

std::optional<std::string> ReadPasswordFromTerminal(const char* prompt) {
    // Only for someone at the terminal: a script that feeds standard input
    // is not asked (and a test run is not stopped by a prompt it cannot see).
    if (!isatty(STDIN_FILENO)) return std::nullopt;
    int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct termios saved;
    bool isTerminal = tcgetattr(fd, &saved) == 0;
    if (!isTerminal) {
        close(fd);
        return std::nullopt;
    }
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(fd, TCSAFLUSH, &quiet);
    if (write(fd, prompt, strlen(prompt)) < 0) {
        // Nothing to do: the prompt is a courtesy.
    }
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n' && c != '\r') line += c;
    tcsetattr(fd, TCSAFLUSH, &saved);
    close(fd);
    return line;
}

std::string PasswordFromFile(const std::string& path) {
    std::string text = ReadWholeFile(path);
    size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

FILE* HandConsoleToCore() {
    fflush(stdout);
    int own = dup(STDOUT_FILENO);
    if (own < 0) throw CliError(kExitFatal, "cannot duplicate standard output");
    fcntl(own, F_SETFD, FD_CLOEXEC);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    FILE* out = fdopen(own, "w");
    if (!out) throw CliError(kExitFatal, "cannot open standard output");
    return out;
}
