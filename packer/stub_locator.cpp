#include "packer/stub_locator.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "packer/cli_support.h"

#ifndef TARNWICK_BUILD_NATIVE_SFX
#define TARNWICK_BUILD_NATIVE_SFX ""
#endif
#ifndef TARNWICK_BUILD_WIN32_SFX
#define TARNWICK_BUILD_WIN32_SFX ""
#endif
#ifndef TARNWICK_BUILD_WIN64_SFX
#define TARNWICK_BUILD_WIN64_SFX ""
#endif

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string OwnFolder() {
    char buffer[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return "";
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

const char* InstalledName(StubKind kind) {
    switch (kind) {
        case StubKind::kWin32: return "tarnwick-sfx-win32.exe";
        case StubKind::kWin64: return "tarnwick-sfx-win64.exe";
        default: return "tarnwick-sfx";
    }
}

const char* BuildPath(StubKind kind) {
    switch (kind) {
        case StubKind::kWin32: return TARNWICK_BUILD_WIN32_SFX;
        case StubKind::kWin64: return TARNWICK_BUILD_WIN64_SFX;
        default: return TARNWICK_BUILD_NATIVE_SFX;
    }
}

}  // namespace

std::optional<StubKind> ParseStubKind(const std::string& text) {
    if (text == "win32") return StubKind::kWin32;
    if (text == "win64") return StubKind::kWin64;
    if (text == "native") return StubKind::kNative;
    if (text == "none") return StubKind::kNone;
    return std::nullopt;
}

std::string LocateStub(StubKind kind) {
    if (kind == StubKind::kNone) return "";
    std::string beside = OwnFolder() + InstalledName(kind);
    if (IsRegularFile(beside)) return beside;
    if (IsRegularFile(BuildPath(kind))) return BuildPath(kind);
    return "";
}

std::vector<uint8_t> LoadStubFile(const std::string& path) {
    std::string bytes = ReadWholeFile(path);
    if (bytes.empty()) throw CliError(kExitRefused, "the extractor \"" + path + "\" is empty");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<uint8_t> LoadStub(StubKind kind) {
    if (kind == StubKind::kNone) return {};
    std::string path = LocateStub(kind);
    if (path.empty()) {
        std::string which = kind == StubKind::kWin32 ? "win32" : kind == StubKind::kWin64 ? "win64" : "native";
        std::string hint = kind == StubKind::kNative
                               ? "build the target tarnwick-sfx"
                               : "build it with the MinGW-w64 cross build and configure tarnwick with -DTARNWICK_" +
                                     std::string(kind == StubKind::kWin32 ? "WIN32" : "WIN64") + "_SFX=PATH";
        throw CliError(kExitRefused, "--stub " + which + ": the " + which + " extractor is not available (no " +
                                         InstalledName(kind) + " beside tarnwick; " + hint +
                                         "), or give one with --stub-file");
    }
    return LoadStubFile(path);
}
