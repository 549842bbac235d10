// Running programs from end-to-end tests: the native extractor directly, the
// Windows extractor under wine64, and tools such as objdump.
//
// A program runs with pipes for its standard input, output and error, in a
// process group of its own, so that a timeout ends it together with whatever
// it started. Standard input is written in full while the output is read,
// then closed, so the program sees end of input after the given bytes.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int exitCode;     // exit status; minus the signal number when killed by one
    bool timedOut;    // the run was ended after timeoutSeconds
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
};

// Runs argv[0] (searched on PATH when it has no '/') with the arguments
// argv[1..], in the folder cwd (the current folder when empty), with the
// environment of this process plus extraEnv ("NAME=value", replacing a
// variable of the same name). A program that cannot be started gives exit
// code 127 and a message on err.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& stdinBytes,
                     const std::string& cwd, const std::vector<std::string>& extraEnv,
                     int timeoutSeconds);

// The extractor builds an end-to-end test can run.
enum SfxKind {
    kNativeSfx,  // this build's tarnwick-sfx
    kWin64Sfx,   // the x86_64 Windows build, run under wine64
};

struct SfxOptions {
    // The program to run: empty for the built extractor of the kind, or a
    // copy of it with an archive appended (a self-extracting archive).
    std::string program;
    // kWin64Sfx only: the locale wine takes its ANSI code page from, for
    // example "ja_JP.UTF-8" for code page 932 (compiled once with localedef
    // into the tests' folder, from the locales package). Empty: the usual
    // code page.
    std::string locale;
    std::vector<std::string> extraEnv;
    int timeoutSeconds = 120;
};

// Runs the extractor of the given kind with the arguments args (argument 0
// is added). Under wine, paths in args are Windows paths (see ToWinePath);
// wine quotes an argument that holds blanks, so avoid arguments that hold
// both blanks and a double quote or end in a backslash. Runs under wine use
// a prefix of their own under the test folder, created on first use.
RunResult RunSfx(SfxKind kind, const std::vector<std::string>& args, const std::string& stdinBytes,
                 const std::string& cwd, const SfxOptions& options = SfxOptions());

// Path of the built extractor of the kind ("" when none was given).
std::string SfxPath(SfxKind kind);

// True when the x86_64 Windows extractor was given to this build, exists,
// and wine64 is there to run it. Tests of kWin64Sfx skip otherwise.
bool HaveWin64Sfx();

// Makes sure the wine prefix of the tests exists. The first start of wine
// creates it, which takes a while; a lock file keeps parallel test
// processes from creating it twice. Called by RunSfx.
void EnsureWinePrefix();

// Whole files as bytes. A file that cannot be written fails the current
// test; `executable` gives the new file mode 0755 (a native self-extracting
// archive made by appending to a copy of the extractor).
std::string ReadFileBytes(const std::string& path);  // "" when it cannot be read
void WriteFileBytes(const std::string& path, const std::string& bytes, bool executable = false);

// A new, empty folder under the tests' scratch folder whose name starts with
// `name`; unique across runs and parallel test processes.
std::string MakeTempDir(const std::string& name);

// The path wine shows a Unix path as: drive Z: is the Unix root, and every
// '/' becomes '\'. A relative path stays relative.
std::string ToWinePath(const std::string& unixPath);
