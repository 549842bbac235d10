#include "tests/support/run_program.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include <gtest/gtest.h>

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// argv[0] as execve wants it: a name without '/' is looked up on PATH.
std::string ResolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = directories.find(':', start);
        std::string directory = directories.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        if (end == std::string::npos) return name;
        start = end + 1;
    }
}

// This process's environment with extraEnv laid over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extraEnv) {
    std::vector<std::string> merged;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        bool replaced = false;
        for (const std::string& extra : extraEnv) replaced = replaced || nameOf(extra) == nameOf(text);
        if (!replaced) merged.push_back(text);
    }
    for (const std::string& extra : extraEnv) merged.push_back(extra);
    return merged;
}

std::vector<char*> PointerArray(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

double Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void CloseIfOpen(int* descriptor) {
    if (*descriptor >= 0) close(*descriptor);
    *descriptor = -1;
}

// Reads what the pipe holds now into sink; closes it at end of file.
void DrainPipe(int* descriptor, std::string* sink) {
    char buffer[65536];
    while (*descriptor >= 0) {
        ssize_t got = read(*descriptor, buffer, sizeof(buffer));
        if (got > 0) {
            sink->append(buffer, static_cast<size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            if (got == 0 || errno != EAGAIN) CloseIfOpen(descriptor);
            return;
        }
    }
}

void MakeFolderPath(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0777);
        if (slash == std::string::npos) return;
    }
}

std::string TestTmp() { return TARNWICK_TEST_TMP; }

std::string WinePrefix() { return TestTmp() + "/wineprefix"; }

// The environment of every wine run: the tests' own prefix, no debug
// chatter, and no offer to install the .NET and HTML engines (a dialog
// nobody would answer).
// Wine takes the ANSI code page from LC_ALL, but reads the command line and
// the names in the file system in the C library's locale, which must exist
// for that: a locale such as ja_JP.UTF-8 is compiled once into the tests'
// folder and found through LOCPATH. Returns that folder ("" after a failure).
std::string CompiledLocaleFolder(const std::string& locale) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    std::string root = TestTmp() + "/locale-" + locale;
    struct stat st;
    if (stat((root + "/" + locale + "/LC_CTYPE").c_str(), &st) == 0) return root;
    size_t dot = locale.find('.');
    std::string name = locale.substr(0, dot), charset = dot == std::string::npos ? "UTF-8" : locale.substr(dot + 1);
    // Made aside and renamed into place, so that parallel test processes
    // never see half a locale; the loser of the race drops its copy.
    std::string scratch = MakeTempDir("locale");
    RunResult made = RunProgram({"localedef", "-i", name, "-f", charset, scratch + "/" + locale}, "", "", {}, 300);
    if (stat((scratch + "/" + locale + "/LC_CTYPE").c_str(), &st) != 0) {
        ADD_FAILURE() << "localedef could not make " << locale << " (the locales package has its sources): "
                      << made.err;
        return "";
    }
    if (rename(scratch.c_str(), root.c_str()) != 0) std::filesystem::remove_all(scratch);
    return root;
}

std::vector<std::string> WineEnvironment(const std::string& locale) {
    std::vector<std::string> env = {"WINEPREFIX=" + WinePrefix(), "WINEDEBUG=-all",
                                    "WINEDLLOVERRIDES=mscoree,mshtml="};
    if (!locale.empty()) {
        env.push_back("LANG=" + locale);
        env.push_back("LC_ALL=" + locale);
        std::string folder = CompiledLocaleFolder(locale);
        if (!folder.empty()) env.push_back("LOCPATH=" + folder);
    }
    return env;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& stdinBytes,
                     const std::string& cwd, const std::vector<std::string>& extraEnv,
                     int timeoutSeconds) {
    // A program that ends before reading all its input must not end us.
    static const bool kSigpipeIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)kSigpipeIgnored;

    RunResult result{-1, false, "", ""};
    if (argv.empty()) {
        result.exitCode = 127;
        result.err = "RunProgram: no program given\n";
        return result;
    }

    // Everything the child needs is prepared before fork: after it, the
    // child calls only what is safe between fork and exec.
    std::string program = ResolveProgram(argv[0]);
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = MergedEnvironment(extraEnv);
    std::vector<char*> argumentPointers = PointerArray(arguments);
    std::vector<char*> environmentPointers = PointerArray(environment);
    std::string execFailure = "RunProgram: cannot start " + program + "\n";
    std::string chdirFailure = "RunProgram: cannot enter " + cwd + "\n";

    int input[2], output[2], error[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 || pipe2(error, O_CLOEXEC) != 0) {
        result.exitCode = 127;
        result.err = "RunProgram: pipe failed\n";
        return result;
    }

    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        struct sigaction defaultAction;
        memset(&defaultAction, 0, sizeof(defaultAction));
        defaultAction.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &defaultAction, nullptr);
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(error[1], STDERR_FILENO);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            ssize_t ignored = write(STDERR_FILENO, chdirFailure.data(), chdirFailure.size());
            (void)ignored;
            _exit(127);
        }
        execve(program.c_str(), argumentPointers.data(), environmentPointers.data());
        ssize_t ignored = write(STDERR_FILENO, execFailure.data(), execFailure.size());
        (void)ignored;
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    close(error[1]);
    if (child < 0) {
        close(input[1]);
        close(output[0]);
        close(error[0]);
        result.exitCode = 127;
        result.err = "RunProgram: fork failed\n";
        return result;
    }
    setpgid(child, child);  // also here, so that a kill cannot come before the child's own call

    int toChild = input[1], fromOut = output[0], fromErr = error[0];
    for (int descriptor : {toChild, fromOut, fromErr}) {
        fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    }
    size_t written = 0;
    if (stdinBytes.empty()) CloseIfOpen(&toChild);

    const double deadline = Now() + timeoutSeconds;
    int status = 0;
    for (;;) {
        // Once the program has ended, what it wrote is in the pipes; a
        // process it started may hold them open for longer, so the run ends
        // here rather than at end of file.
        if (waitpid(child, &status, WNOHANG) == child) break;
        if (Now() >= deadline) {
            result.timedOut = true;
            kill(-child, SIGKILL);
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        pollfd watched[3];
        nfds_t count = 0;
        if (toChild >= 0) watched[count++] = {toChild, POLLOUT, 0};
        if (fromOut >= 0) watched[count++] = {fromOut, POLLIN, 0};
        if (fromErr >= 0) watched[count++] = {fromErr, POLLIN, 0};
        if (count == 0) {
            usleep(2000);
            continue;
        }
        if (poll(watched, count, 10) <= 0) continue;
        for (nfds_t i = 0; i < count; ++i) {
            if (watched[i].revents == 0) continue;
            if (watched[i].fd == toChild) {
                ssize_t moved = write(toChild, stdinBytes.data() + written, stdinBytes.size() - written);
                if (moved > 0) written += static_cast<size_t>(moved);
                if ((moved < 0 && errno != EAGAIN && errno != EINTR) || written == stdinBytes.size()) {
                    CloseIfOpen(&toChild);
                }
            } else if (watched[i].fd == fromOut) {
                DrainPipe(&fromOut, &result.out);
            } else {
                DrainPipe(&fromErr, &result.err);
            }
        }
    }
    DrainPipe(&fromOut, &result.out);
    DrainPipe(&fromErr, &result.err);
    CloseIfOpen(&toChild);
    CloseIfOpen(&fromOut);
    CloseIfOpen(&fromErr);

    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitCode = -WTERMSIG(status);
    }
    return result;
}

std::string SfxPath(SfxKind kind) {
    return kind == kWin64Sfx ? std::string(TARNWICK_WIN64_SFX) : std::string(TARNWICK_NATIVE_SFX);
}

bool HaveWin64Sfx() {
    std::string path = TARNWICK_WIN64_SFX;
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           IsExecutableFile(TARNWICK_WINE);
}

void EnsureWinePrefix() {
    static bool ready = false;
    if (ready) return;
    MakeFolderPath(TestTmp());
    std::string marker = WinePrefix() + "/.tarnwick-ready";
    int lock = open((TestTmp() + "/wineprefix.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock >= 0) {
        while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    struct stat info;
    if (stat(marker.c_str(), &info) != 0) {
        RunResult boot = RunProgram({TARNWICK_WINE, "wineboot", "-i"}, "", TestTmp(), WineEnvironment(""), 600);
        if (boot.exitCode == 0 && !boot.timedOut) {
            WriteFileBytes(marker, "");
        } else {
            ADD_FAILURE() << "wineboot failed (exit code " << boot.exitCode << "): " << boot.err;
        }
    }
    if (lock >= 0) close(lock);  // releases the lock
    ready = true;
}

RunResult RunSfx(SfxKind kind, const std::vector<std::string>& args, const std::string& stdinBytes,
                 const std::string& cwd, const SfxOptions& options) {
    std::string program = options.program.empty() ? SfxPath(kind) : options.program;
    std::vector<std::string> argv;
    std::vector<std::string> env;
    if (kind == kWin64Sfx) {
        EnsureWinePrefix();
        argv = {TARNWICK_WINE, program};
        env = WineEnvironment(options.locale);
    } else {
        argv = {program};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    env.insert(env.end(), options.extraEnv.begin(), options.extraEnv.end());
    return RunProgram(argv, stdinBytes, cwd, env, options.timeoutSeconds);
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.append(buffer, got);
    fclose(file);
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes, bool executable) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot create " << path << ": " << strerror(errno);
        return;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = fclose(file) == 0 && ok;
    if (!ok) ADD_FAILURE() << "cannot write " << path;
    if (executable && chmod(path.c_str(), 0755) != 0) ADD_FAILURE() << "cannot chmod " << path;
}

std::string MakeTempDir(const std::string& name) {
    MakeFolderPath(TestTmp());
    std::string safeName;
    for (char c : name) safeName += (isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') ? c : '_';
    std::string pattern = TestTmp() + "/" + safeName + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a folder like " << pattern << ": " << strerror(errno);
    }
    return pattern;
}

std::string ToWinePath(const std::string& unixPath) {
    std::string path = unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return !unixPath.empty() && unixPath[0] == '/' ? "Z:" + path : path;
}
