// platform.h on Win32: each function is the Win32 call the archive format's
// behaviour is defined by, with the same arguments.
//
// The extractor is appended to every archive, so this file keeps it small:
// it uses no C runtime stdio and no C++ runtime. Memory comes from the
// process heap, the console is reached through the standard handles with
// ReadFile/WriteFile (bytes pass unchanged, CR LF included), and the command
// line is split here by the program's own rule rather than by the runtime.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include "platform/platform.h"

namespace {

HANDLE AsHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

FileHandle FromHandle(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

void* HeapBytes(size_t count) { return HeapAlloc(GetProcessHeap(), 0, count); }

void FreeHeapBytes(void* bytes) { HeapFree(GetProcessHeap(), 0, bytes); }

FILETIME ToFiletime(const FileTime& time) {
    FILETIME result;
    result.dwLowDateTime = time.lowDateTime;
    result.dwHighDateTime = time.highDateTime;
    return result;
}

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

// The command line split into arguments, argument 0 (the program) first.
// Split once, on first use; the strings live until the process ends.
bool gArgumentsSplit = false;
int gArgumentTotal = 0;      // argument 0 included
char** gArguments = nullptr;

// Arguments are separated by blanks (any byte up to 32); a stretch in double
// quotes may contain blanks, and the quotes themselves are dropped. There is
// no escape character: a backslash is an ordinary byte. A trail byte of a
// double-byte character is never a blank or a quote, so the bytes can be
// scanned one at a time.
void SplitCommandLine() {
    if (gArgumentsSplit) return;
    gArgumentsSplit = true;

    const unsigned char* line = reinterpret_cast<const unsigned char*>(GetCommandLineA());
    if (line == nullptr) return;
    size_t length = 0;
    while (line[length] != 0) ++length;

    // Every argument ends at a blank or at the end of the line, and its text
    // is never longer than its stretch of the line: length + 1 bytes hold all
    // of them with their NULs. Two bytes of line per argument at least,
    // except for the last one.
    char* text = static_cast<char*>(HeapBytes(length + 1));
    char** arguments = static_cast<char**>(HeapBytes((length / 2 + 2) * sizeof(char*)));
    if (text == nullptr || arguments == nullptr) return;

    const unsigned char* p = line;
    char* out = text;
    int count = 0;
    for (;;) {
        while (*p != 0 && *p <= 32) ++p;
        if (*p == 0) break;
        arguments[count++] = out;
        bool quoted = false;
        while (*p != 0 && (quoted || *p > 32)) {
            if (*p == '"') {
                quoted = !quoted;
            } else {
                *out++ = static_cast<char>(*p);
            }
            ++p;
        }
        *out++ = 0;
    }
    gArguments = arguments;
    gArgumentTotal = count;
}

// The module's path, asked once; nullptr when the system cannot give it.
bool gModulePathAsked = false;
char* gModulePath = nullptr;

}  // namespace

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

FileHandle PlatformOpenForRead(const char* path) {
    return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle PlatformCreateForWrite(const char* path) {
    return FromHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool PlatformRead(FileHandle handle, void* buffer, uint32_t count, uint32_t* transferred) {
    DWORD done = 0;
    BOOL ok = ReadFile(AsHandle(handle), buffer, count, &done, nullptr);
    *transferred = done;
    return ok != FALSE;
}

bool PlatformWrite(FileHandle handle, const void* buffer, uint32_t count, uint32_t* transferred) {
    DWORD done = 0;
    BOOL ok = WriteFile(AsHandle(handle), buffer, count, &done, nullptr);
    *transferred = done;
    return ok != FALSE;
}

int64_t PlatformFileSize(FileHandle handle) {
    DWORD high = 0;
    DWORD low = GetFileSize(AsHandle(handle), &high);
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

// SetFilePointer returns the low half of the new position; all 32 bits set
// is also a valid low half, so only GetLastError tells a failure apart.
bool PlatformSeek(FileHandle handle, int64_t position) {
    LONG high = static_cast<LONG>(position >> 32);
    SetLastError(0);
    DWORD low = SetFilePointer(AsHandle(handle), static_cast<LONG>(static_cast<uint32_t>(position)),
                               &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != 0);
}

int64_t PlatformTell(FileHandle handle) {
    LONG high = 0;
    SetLastError(0);
    DWORD low = SetFilePointer(AsHandle(handle), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != 0) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
}

bool PlatformClose(FileHandle handle) { return CloseHandle(AsHandle(handle)) != FALSE; }

bool PlatformSetFileTimes(FileHandle handle, const FileTime* creationTime,
                          const FileTime* lastAccessTime, const FileTime* lastWriteTime) {
    FILETIME creation, access, write;
    if (creationTime != nullptr) creation = ToFiletime(*creationTime);
    if (lastAccessTime != nullptr) access = ToFiletime(*lastAccessTime);
    if (lastWriteTime != nullptr) write = ToFiletime(*lastWriteTime);
    return SetFileTime(AsHandle(handle), creationTime != nullptr ? &creation : nullptr,
                       lastAccessTime != nullptr ? &access : nullptr,
                       lastWriteTime != nullptr ? &write : nullptr) != FALSE;
}

bool PlatformDeleteFile(const char* path) { return DeleteFileA(path) != FALSE; }

// ---------------------------------------------------------------------------
// Names in the file system
// ---------------------------------------------------------------------------

bool PlatformFindFile(const char* path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

uint32_t PlatformFileAttributes(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES ? kPlatformNoAttributes : attributes;
}

bool PlatformCreateFolder(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

const char* PlatformCharNext(const char* p) { return CharNextA(p); }

// ---------------------------------------------------------------------------
// Process
// ---------------------------------------------------------------------------

// A DLL that the system or the shell loads on demand (ShellExecuteA loads
// several) is looked for in the system folder only, never in the folder of
// the program: a downloaded setup.exe often sits next to files a stranger
// put there. Done before anything else. SetDefaultDllDirectories is looked
// up rather than imported, so that a system without it still starts the
// program.
namespace {
void RestrictDllSearchToSystemFolder() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) return;
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
}  // namespace

void PlatformStart(int, char**) {
    RestrictDllSearchToSystemFolder();
    SplitCommandLine();
}

int PlatformArgumentCount() {
    SplitCommandLine();
    return gArgumentTotal > 0 ? gArgumentTotal - 1 : 0;
}

const char* PlatformArgument(int index) {
    SplitCommandLine();
    if (index < 1 || index >= gArgumentTotal) return nullptr;
    return gArguments[index];
}

// GetModuleFileNameA reports a truncated path by filling the whole buffer, so
// the buffer grows until the path and its NUL fit.
const char* PlatformModulePath() {
    if (gModulePathAsked) return gModulePath;
    gModulePathAsked = true;
    for (DWORD size = MAX_PATH; size <= 0x100000; size *= 2) {
        char* buffer = static_cast<char*>(HeapBytes(size));
        if (buffer == nullptr) return nullptr;
        DWORD length = GetModuleFileNameA(nullptr, buffer, size);
        if (length == 0) {
            FreeHeapBytes(buffer);
            return nullptr;
        }
        if (length < size) {
            gModulePath = buffer;
            return gModulePath;
        }
        FreeHeapBytes(buffer);
    }
    return nullptr;
}

void PlatformImportPath(char*) {}

uintptr_t PlatformShellStart(const char* file) {
    return reinterpret_cast<uintptr_t>(ShellExecuteA(nullptr, nullptr, file, nullptr, nullptr, 1));
}

void PlatformExit(int exitCode) {
    ExitProcess(static_cast<UINT>(exitCode));
}

// ---------------------------------------------------------------------------
// Console
// ---------------------------------------------------------------------------

void PlatformConsoleWrite(const void* bytes, size_t count) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == INVALID_HANDLE_VALUE || output == nullptr) return;
    const char* p = static_cast<const char*>(bytes);
    while (count > 0) {
        DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(output, p, chunk, &written, nullptr) || written == 0) return;
        p += written;
        count -= written;
    }
}

size_t PlatformConsoleRead(void* buffer, size_t capacity) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || input == nullptr || capacity == 0) return 0;
    DWORD chunk = capacity > 0x40000000u ? 0x40000000u : static_cast<DWORD>(capacity);
    DWORD read = 0;
    if (!ReadFile(input, buffer, chunk, &read, nullptr)) return 0;
    return read;
}
