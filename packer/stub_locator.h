// The extractor programs an archive can be appended to.
//
// An installed tarnwick finds them beside itself (cmake --install puts
// them there): tarnwick-sfx (this system's), tarnwick-sfx-win32.exe and
// tarnwick-sfx-win64.exe. A tarnwick in its build tree falls back on the
// programs of the build it was made with.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

enum class StubKind { kWin32, kWin64, kNative, kNone };

std::optional<StubKind> ParseStubKind(const std::string& text);  // win32, win64, native, none

// Where the extractor of the kind is; "" when there is none.
std::string LocateStub(StubKind kind);

// The program's bytes. Throws CliError (kExitRefused) when it is not
// available, saying how to get it.
std::vector<uint8_t> LoadStub(StubKind kind);
std::vector<uint8_t> LoadStubFile(const std::string& path);
