// The one interface between the extractor's core and the operating system.
//
// Everything the core needs of the system goes through these free functions;
// nothing under core/ includes a system header. There are two
// implementations of this header:
//
//   platform/win32/  calls the Win32 functions the format's reference
//                    behaviour is defined in terms of (CreateFileA, ReadFile,
//                    SetFilePointer, FindFirstFileA, CharNextA, ShellExecuteA,
//                    ...) with the same arguments.
//   platform/posix/  our own stand-in for Linux. Paths arrive from the core
//                    with backslashes as separators and are mapped to '/'
//                    at the file-system boundary.
//
// Paths and names are NUL-terminated byte strings in the system's ANSI code
// page (UTF-8 on POSIX). Every function reports failure in its result; none
// of them prints anything or ends the process, except PlatformExit.
#pragma once

#include <stddef.h>
#include <stdint.h>

// A system file handle. kInvalidFileHandle (all bits set) is "none", the
// value Win32 uses for INVALID_HANDLE_VALUE.
typedef intptr_t FileHandle;
static const FileHandle kInvalidFileHandle = (FileHandle)-1;

// A Win32 FILETIME: 100-nanosecond intervals since 1601-01-01 UTC, as the
// archive stores it (low half first).
struct FileTime {
    uint32_t lowDateTime;
    uint32_t highDateTime;
};

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// Opens an existing file for reading; others may read it too
// (GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL).
FileHandle PlatformOpenForRead(const char* path);

// Creates or truncates a file for writing, unshared
// (GENERIC_WRITE, share 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL).
FileHandle PlatformCreateForWrite(const char* path);

// One system read / write. *transferred receives the byte count moved.
bool PlatformRead(FileHandle handle, void* buffer, uint32_t count, uint32_t* transferred);
bool PlatformWrite(FileHandle handle, const void* buffer, uint32_t count, uint32_t* transferred);

// The file's current size; what it yields when the system cannot report it
// is whatever the system gives (the core does not test it).
int64_t PlatformFileSize(FileHandle handle);

// Moves the file pointer to an absolute position. False when the system
// refuses, as it does for a negative position.
bool PlatformSeek(FileHandle handle, int64_t position);

// The current file position, or -1 when the system reports failure.
int64_t PlatformTell(FileHandle handle);

bool PlatformClose(FileHandle handle);

// Sets the three time stamps of an open file. On POSIX the creation time
// cannot be set and is ignored; the other two are set to the precision the
// file system has.
bool PlatformSetFileTimes(FileHandle handle, const FileTime* creationTime,
                          const FileTime* lastAccessTime, const FileTime* lastWriteTime);

bool PlatformDeleteFile(const char* path);

// ---------------------------------------------------------------------------
// Names in the file system
// ---------------------------------------------------------------------------

// True when FindFirstFileA finds anything under this name (file or folder).
bool PlatformFindFile(const char* path);

// GetFileAttributesA: the attribute bits, or kPlatformNoAttributes when the
// name does not exist or cannot be queried.
static const uint32_t kPlatformNoAttributes = 0xFFFFFFFFu;
static const uint32_t kPlatformAttributeDirectory = 0x10u;
uint32_t PlatformFileAttributes(const char* path);

// CreateDirectoryA without security attributes.
bool PlatformCreateFolder(const char* path);

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

// CharNextA: the start of the character after the one at p; p itself at the
// terminating NUL. Multi-byte aware in the system's code page (UTF-8 on
// POSIX, where an invalid byte is one character).
const char* PlatformCharNext(const char* p);

// ---------------------------------------------------------------------------
// Process
// ---------------------------------------------------------------------------

// Called by the program first, with main's arguments, before any other
// function here. POSIX keeps argc/argv as the command line and sets up the
// process (a closed standard output must not kill it); Win32 ignores both and
// splits GetCommandLineA itself.
void PlatformStart(int argc, char** argv);

// The command-line arguments, argument 0 (the program) not counted.
int PlatformArgumentCount();
const char* PlatformArgument(int index);  // 1-based, 1 .. PlatformArgumentCount()

// Full path of the running executable as the system reports it for the
// module, NUL-terminated, written into a buffer of PlatformModulePath's own;
// with backslashes as separators (POSIX maps '/' to '\').
// Returns nullptr when it cannot be had.
const char* PlatformModulePath();

// Converts a path typed on the command line into the core's form in place:
// on Win32 nothing changes; on POSIX '/' becomes '\', so that the folder of
// "/data/pack.bin" is "\data\".
void PlatformImportPath(char* path);

// Starts `file` with the shell's default action, without waiting.
// Returns a value greater than 32 on success (the ShellExecuteA convention).
uintptr_t PlatformShellStart(const char* file);

// Ends the process with the exit code. The caller flushes the console first.
[[noreturn]] void PlatformExit(int exitCode);

// ---------------------------------------------------------------------------
// Console (standard input and output, in binary: bytes pass unchanged)
// ---------------------------------------------------------------------------

// Writes all bytes to standard output; failures are ignored.
void PlatformConsoleWrite(const void* bytes, size_t count);

// Reads up to `capacity` bytes from standard input. Returns the number read,
// 0 at end of input or on failure (both are end of input to the caller).
size_t PlatformConsoleRead(void* buffer, size_t capacity);
