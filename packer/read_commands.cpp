// tarnwick list, test and extract: the extractor's own reader of records,
// history table and decoder (core/expansion), driven without its dialogue.
//
// The core reports every failure itself: it prints the extractor's message
// and ends the process with the extractor's exit code. Its console is
// moved to standard error first, so that standard output carries only the
// results of list.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "core/container/crc16.h"
#include "core/container/open_archive.h"
#include "core/driver/archive_session.h"
#include "core/driver/console.h"
#include "core/driver/directory_of.h"
#include "core/driver/fatal_exit.h"
#include "core/expansion/entry_record.h"
#include "core/expansion/expand_archive.h"
#include "core/expansion/make_folders.h"
#include "packer/cli_support.h"
#include "packer/codepage.h"
#include "packer/commands.h"
#include "packer/progress.h"
#include "platform/platform.h"

const char kListHelp[] =
    "usage: tarnwick list [options] ARCHIVE\n"
    "\n"
    "Lists the entries of an archive (a self-extracting program or a bare\n"
    "archive): size, last write time (UTC) and name; folders end in \"\\\".\n"
    "\n"
    "  --json                one JSON document: message, run command, and every\n"
    "                        entry with its three time stamps\n"
    "  --password-file FILE  the password of a protected archive (first line);\n"
    "                        without it the password is asked on the terminal\n"
    "  --codepage CP         code page the names are stored in: 1252 (default), 932, utf8\n"
    "  -h, --help            this text\n";

const char kTestHelp[] =
    "usage: tarnwick test [options] ARCHIVE\n"
    "\n"
    "Reads every block and decodes every entry without writing anything.\n"
    "Exit code 0 when the archive is sound; otherwise the extractor's message\n"
    "on standard error and its exit code (1: no valid archive or wrong\n"
    "password, 2: damaged data or read error).\n"
    "\n"
    "  --password-file FILE  the password of a protected archive (first line)\n"
    "  -q, --quiet           no progress bar and no summary\n"
    "  -h, --help            this text\n";

const char kExtractHelp[] =
    "usage: tarnwick extract [options] ARCHIVE\n"
    "\n"
    "Expands every entry, without questions, under the same safety rules as\n"
    "the extractor (names stay inside the target folder).\n"
    "\n"
    "  -C DIR                expand into DIR (default: the current folder)\n"
    "  --overwrite           replace files that exist\n"
    "  --skip-existing       keep files that exist (their entries are passed over)\n"
    "                        without either, an existing file stops the run\n"
    "  --password-file FILE  the password of a protected archive (first line)\n"
    "  --codepage CP         code page the names are stored in: 1252 (default), 932, utf8\n"
    "  -v, --verbose         name every file on standard output\n"
    "  -q, --quiet           no progress bar\n"
    "  -h, --help            this text\n";

namespace {

enum class Mode { kList, kTest, kExtract };
enum class Existing { kStop, kOverwrite, kSkip };

struct ReadOptions {
    std::string archive;
    std::optional<std::string> passwordFile;
    CodePage codePage = CodePage::kWindows1252;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    std::string target;
    Existing existing = Existing::kStop;
};

ReadOptions ParseReadOptions(Mode mode, int argc, char** argv, int first, bool* help) {
    ReadOptions o;
    ArgumentCursor args(argc, argv, first);
    const char* command = mode == Mode::kList ? "list" : mode == Mode::kTest ? "test" : "extract";
    bool sawOverwrite = false, sawSkip = false;
    while (args.Next()) {
        if (!args.IsOption()) {
            if (!o.archive.empty()) UsageError(std::string(command) + " takes one ARCHIVE");
            o.archive = args.Current();
            continue;
        }
        std::string name = args.Name();
        if (name == "-h" || name == "--help") {
            *help = true;
            return o;
        } else if (name == "--password-file") {
            o.passwordFile = args.Value();
        } else if (name == "--codepage" && mode != Mode::kTest) {
            std::string cp = args.Value();
            std::optional<CodePage> parsed = ParseCodePage(cp);
            if (!parsed) UsageError("--codepage takes 1252, 932 or utf8, not \"" + cp + "\"");
            o.codePage = *parsed;
        } else if (name == "--json" && mode == Mode::kList) {
            o.json = true;
        } else if ((name == "-q" || name == "--quiet") && mode != Mode::kList) {
            o.quiet = true;
        } else if ((name == "-v" || name == "--verbose") && mode == Mode::kExtract) {
            o.verbose = true;
        } else if (name == "-C" && mode == Mode::kExtract) {
            o.target = args.Value();
        } else if (name == "--overwrite" && mode == Mode::kExtract) {
            sawOverwrite = true;
            o.existing = Existing::kOverwrite;
        } else if (name == "--skip-existing" && mode == Mode::kExtract) {
            sawSkip = true;
            o.existing = Existing::kSkip;
        } else {
            UsageError(std::string(command) + ": unknown option " + args.Current());
        }
    }
    if (sawOverwrite && sawSkip) UsageError("--overwrite and --skip-existing exclude each other");
    if (o.archive.empty()) UsageError(std::string(command) + " needs an ARCHIVE");
    return o;
}

// Opens the archive through the core, unattended, and settles the
// password. Every failure ends the process with the extractor's message.
void OpenThroughCore(const ReadOptions& o) {
    ResetArchiveSession();
    ConsoleReset();
    gSession.unattended = true;
    ByteStringAssign(&gSession.archivePath, o.archive.data(), o.archive.size());
    OpenArchiveFile();
    if (!gSession.passwordFlag) return;

    std::optional<std::string> password;
    if (o.passwordFile) {
        password = PasswordFromFile(*o.passwordFile);
    } else {
        password = ReadPasswordFromTerminal("Password: ");
        if (!password) {
            fprintf(stderr, "tarnwick: the archive is protected: give --password-file\n");
            EndProcess(kExitNoArchive);
        }
    }
    std::optional<std::string> converted = FromUtf8(*password, o.codePage);
    if (!converted) converted = password;  // taken as bytes
    ByteStringAssign(&gSession.password, converted->data(), converted->size());
    if (Crc16Of(reinterpret_cast<const uint8_t*>(converted->data()), converted->size()) != gSession.passwordCheck) {
        fprintf(stderr, "tarnwick: wrong password\n");
        EndProcess(kExitNoArchive);
    }
}

double StreamFraction() {
    return gSession.archiveLength > 0 ? static_cast<double>(gSession.streamPosition) / gSession.archiveLength : -1;
}

uint64_t FileTimeValue(const FileTime& t) { return static_cast<uint64_t>(t.highDateTime) << 32 | t.lowDateTime; }

// "2024-01-01 12:00:00" (UTC); with `iso` "2024-01-01T12:00:00.1234567Z".
std::string FormatFileTime(const FileTime& t, bool iso) {
    uint64_t ticks = FileTimeValue(t);
    const int64_t kSecondsFrom1601To1970 = 11644473600;
    time_t seconds = static_cast<time_t>(static_cast<int64_t>(ticks / 10000000) - kSecondsFrom1601To1970);
    struct tm tm;
    gmtime_r(&seconds, &tm);
    char text[64];
    strftime(text, sizeof text, iso ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &tm);
    std::string out = text;
    if (iso) {
        char fraction[16];
        snprintf(fraction, sizeof fraction, ".%07llu", static_cast<unsigned long long>(ticks % 10000000));
        out += fraction;
        out += 'Z';
    }
    return out;
}

// The stored bytes as UTF-8 for showing; bytes without a character in the
// code page become U+FFFD.
std::string Shown(const std::string& bytes, CodePage codePage) {
    if (std::optional<std::string> text = ToUtf8(bytes, codePage)) return *text;
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) out += static_cast<char>(c);
        else out += "\xEF\xBF\xBD";
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string RecordName(const ExpansionState* state) {
    const ByteString& name = state->record.name;
    return std::string(name.bytes ? name.bytes : "", name.length);
}

}  // namespace

int ListCommand(int argc, char** argv, int first) {
    bool help = false;
    ReadOptions o = ParseReadOptions(Mode::kList, argc, argv, first, &help);
    if (help) {
        fputs(kListHelp, stdout);
        return kExitOk;
    }
    FILE* out = HandConsoleToCore();
    OpenThroughCore(o);
    // Lines are written out at once: the core may end the process at any
    // record of a damaged archive, and what was listed up to then stays.
    if (o.json) {
        fprintf(out, "{\"message\": %s, \"runCommand\": %s, \"protected\": %s, \"entries\": [",
                JsonString(Shown(ByteStringText(&gSession.message), o.codePage)).c_str(),
                JsonString(Shown(ByteStringText(&gSession.runCommand), o.codePage)).c_str(),
                gSession.passwordFlag ? "true" : "false");
    } else {
        if (gSession.runCommand.length) fprintf(out, "run command: %s\n", Shown(ByteStringText(&gSession.runCommand), o.codePage).c_str());
        if (gSession.passwordFlag) fprintf(out, "protected\n");
    }
    fflush(out);
    uint64_t files = 0, folders = 0, bytes = 0;
    ExpansionState* state = BeginExpansion();
    bool firstEntry = true;
    while (ReadNextEntry(state, "")) {
        const EntryRecord& r = state->record;
        std::string name = Shown(RecordName(state), o.codePage);
        if (r.isFolder) name.pop_back();  // "docs\." is shown as "docs\"
        if (o.json) {
            fprintf(out, "%s\n  {\"name\": %s, \"type\": \"%s\"", firstEntry ? "" : ",", JsonString(name).c_str(),
                    r.isFolder ? "folder" : "file");
            if (!r.isFolder) {
                fprintf(out,
                        ", \"size\": %lld, \"creationTime\": \"%s\", \"lastAccessTime\": \"%s\", "
                        "\"lastWriteTime\": \"%s\", \"backReference\": %u, \"prefixLength\": %d",
                        (long long)r.entrySize, FormatFileTime(r.creationTime, true).c_str(),
                        FormatFileTime(r.lastAccessTime, true).c_str(), FormatFileTime(r.lastWriteTime, true).c_str(),
                        r.backReference, r.prefixLength);
            }
            fputs("}", out);
        } else if (r.isFolder) {
            fprintf(out, "%12s  %19s  %s\n", "-", "", name.c_str());
        } else {
            fprintf(out, "%12lld  %s  %s\n", (long long)r.entrySize, FormatFileTime(r.lastWriteTime, false).c_str(),
                    name.c_str());
        }
        fflush(out);
        firstEntry = false;
        if (r.isFolder) {
            ++folders;
        } else {
            ++files;
            bytes += static_cast<uint64_t>(r.entrySize);
            DecodeFileEntry(state, true);
        }
    }
    EndExpansion(state);
    if (o.json) fputs("\n]}\n", out);
    else fprintf(out, "%llu files, %llu folders, %llu bytes\n", (unsigned long long)files, (unsigned long long)folders, (unsigned long long)bytes);
    fclose(out);
    return kExitOk;
}

int TestCommand(int argc, char** argv, int first) {
    bool help = false;
    ReadOptions o = ParseReadOptions(Mode::kTest, argc, argv, first, &help);
    if (help) {
        fputs(kTestHelp, stdout);
        return kExitOk;
    }
    FILE* out = HandConsoleToCore();
    OpenThroughCore(o);
    Progress progress(!o.quiet, "test");
    uint64_t files = 0, folders = 0, bytes = 0;
    ExpansionState* state = BeginExpansion();
    while (ReadNextEntry(state, "")) {
        if (state->record.isFolder) {
            ++folders;
            continue;
        }
        DecodeFileEntry(state, true);
        ++files;
        bytes += static_cast<uint64_t>(state->record.entrySize);
        progress.Update(files, 0, bytes, StreamFraction());
    }
    EndExpansion(state);
    progress.Finish();
    if (!o.quiet) {
        fprintf(out, "%s: OK, %llu files, %llu folders, %llu bytes\n", o.archive.c_str(), (unsigned long long)files,
                (unsigned long long)folders, (unsigned long long)bytes);
    }
    fclose(out);
    return kExitOk;
}

int ExtractCommand(int argc, char** argv, int first) {
    bool help = false;
    ReadOptions o = ParseReadOptions(Mode::kExtract, argc, argv, first, &help);
    if (help) {
        fputs(kExtractHelp, stdout);
        return kExitOk;
    }
    // The target folder in the core's form: backslashes, ending in one.
    std::string target = o.target;
    if (!target.empty() && target.back() != '/') target += '/';
    for (char& c : target)
        if (c == '/') c = '\\';

    FILE* out = HandConsoleToCore();
    OpenThroughCore(o);
    Progress progress(!o.quiet, "extract");
    uint64_t files = 0, bytes = 0;
    ByteString folder = {};
    ExpansionState* state = BeginExpansion();
    while (ReadNextEntry(state, target.c_str())) {
        // Names are made in UTF-8; the core has checked the stored name, and
        // the converted one must pass the same test.
        std::optional<std::string> name = ToUtf8(RecordName(state), o.codePage);
        if (!name) {
            progress.Finish();
            fprintf(stderr, "tarnwick: the name \"%s\" is not in code page %s (see --codepage)\n",
                    Shown(RecordName(state), o.codePage).c_str(), CodePageName(o.codePage));
            EndProcess(kExitRefused);
        }
        if (!EntryNameIsSafe(name->c_str())) BrokenDataExit();
        std::string fullName = target + *name;
        ByteStringAssign(&gSession.outputName, fullName.data(), fullName.size());
        if (state->record.isFolder) {
            MakeFolders(FolderEntryPath(state));
            continue;
        }
        bool skip = false;
        if (PlatformFindFile(fullName.c_str())) {
            if (o.existing == Existing::kStop) {
                progress.Finish();
                fprintf(stderr, "tarnwick: %s exists (use --overwrite or --skip-existing)\n", fullName.c_str());
                EndProcess(kExitRefused);
            }
            skip = o.existing == Existing::kSkip;
        }
        if (!skip) {
            DirectoryOf(fullName.c_str(), &folder);
            MakeFolders(ByteStringText(&folder));
            gSession.outputHandle = PlatformCreateForWrite(fullName.c_str());
            if (gSession.outputHandle == kInvalidFileHandle) WriteErrorExit();
        }
        DecodeFileEntry(state, skip);
        if (!skip) FinishFileEntry(state);
        if (o.verbose) {
            std::string shown = fullName;
            for (char& c : shown)
                if (c == '\\') c = '/';
            fprintf(out, "%s%s\n", skip ? "skipped " : "", shown.c_str());
            fflush(out);
        }
        ++files;
        bytes += static_cast<uint64_t>(state->record.entrySize);
        progress.Update(files, 0, bytes, StreamFraction());
    }
    EndExpansion(state);
    ByteStringFree(&folder);
    progress.Finish();
    fclose(out);
    return kExitOk;
}
