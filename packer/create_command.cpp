// tarnwick create: packs files and folders into a self-extracting program
// or a bare archive.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "packer/archive_builder.h"
#include "packer/cli_support.h"
#include "packer/codepage.h"
#include "packer/commands.h"
#include "packer/file_order.h"
#include "packer/file_tree.h"
#include "packer/progress.h"
#include "packer/stub_locator.h"

const char kCreateHelp[] =
    "usage: tarnwick create -o OUT [options] PATH...\n"
    "\n"
    "Packs files and folders (recursively) into a self-extracting program, or\n"
    "with --stub none into a bare archive for \"tarnwick-sfx /e\".\n"
    "\n"
    "  -o, --output OUT      the file to write (replaced at the end; nothing is\n"
    "                        written when the run fails)\n"
    "  -1 .. -9              compression level: 1 fastest, 9 smallest (default 6)\n"
    "  --stub KIND           the extractor to put in front: win32 (default), win64,\n"
    "                        native (this system's) or none\n"
    "  --stub-file FILE      any other extractor program\n"
    "  --message TEXT        text shown before the expansion (line breaks become CR LF)\n"
    "  --message-file FILE   the message from a file\n"
    "  --run COMMAND         started by the extractor when it has finished\n"
    "  --password            ask for a password on the terminal (twice, no echo)\n"
    "  --password-file FILE  the password is the file's first line\n"
    "  --codepage CP         code page of names and texts: 1252 (default), 932, utf8\n"
    "  -q, --quiet           no progress bar and no summary\n"
    "  -h, --help            this text\n"
    "\n"
    "A folder PATH gives its entries its own name (docs -> docs\\a.txt); a PATH\n"
    "ending in \"/\" or \".\" puts its contents at the top. Time stamps come from\n"
    "the file system.\n";

namespace {

// The temporary output, removed when the run stops early.
std::string gTemporary;

void RemoveTemporary(int signal) {
    if (!gTemporary.empty()) unlink(gTemporary.c_str());
    _exit(128 + signal);
}

// Line breaks as the extractor prints them: CR LF.
std::string WithCrLf(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string InCodePage(const std::string& text, CodePage codePage, const char* what) {
    if (text.find('\0') != std::string::npos) throw CliError(kExitRefused, std::string(what) + " holds a NUL byte");
    std::optional<std::string> converted = FromUtf8(text, codePage);
    if (!converted) {
        throw CliError(kExitRefused, std::string(what) + " does not fit code page " + CodePageName(codePage) +
                                         " (or is not UTF-8)");
    }
    return *converted;
}

}  // namespace

int CreateCommand(int argc, char** argv, int first) {
    std::string output;
    int level = 6;
    std::optional<StubKind> stubKind;
    std::string stubFile;
    std::optional<std::string> message, messageFile, run, passwordFile;
    bool askPassword = false, quiet = false;
    CodePage codePage = CodePage::kWindows1252;
    std::vector<std::string> paths;

    ArgumentCursor args(argc, argv, first);
    while (args.Next()) {
        if (!args.IsOption()) {
            paths.push_back(args.Current());
            continue;
        }
        std::string name = args.Name();
        if (name == "-h" || name == "--help") {
            fputs(kCreateHelp, stdout);
            return kExitOk;
        } else if (name == "-o" || name == "--output") {
            output = args.Value();
        } else if (name.size() == 2 && name[1] >= '1' && name[1] <= '9') {
            level = name[1] - '0';
        } else if (name == "--stub") {
            std::string kind = args.Value();
            stubKind = ParseStubKind(kind);
            if (!stubKind) UsageError("--stub takes win32, win64, native or none, not \"" + kind + "\"");
        } else if (name == "--stub-file") {
            stubFile = args.Value();
        } else if (name == "--message") {
            message = args.Value();
        } else if (name == "--message-file") {
            messageFile = args.Value();
        } else if (name == "--run") {
            run = args.Value();
        } else if (name == "--password") {
            askPassword = true;
        } else if (name == "--password-file") {
            passwordFile = args.Value();
        } else if (name == "--codepage") {
            std::string cp = args.Value();
            std::optional<CodePage> parsed = ParseCodePage(cp);
            if (!parsed) UsageError("--codepage takes 1252, 932 or utf8, not \"" + cp + "\"");
            codePage = *parsed;
        } else if (name == "-q" || name == "--quiet") {
            quiet = true;
        } else {
            UsageError("create: unknown option " + args.Current());
        }
    }
    if (output.empty()) UsageError("create needs -o OUT");
    if (paths.empty()) UsageError("create needs at least one PATH");
    if (stubKind && !stubFile.empty()) UsageError("--stub and --stub-file exclude each other");
    if (message && messageFile) UsageError("--message and --message-file exclude each other");
    if (askPassword && passwordFile) UsageError("--password and --password-file exclude each other");

    BuildSettings settings;
    settings.level = level;
    ArchiveOptions& archive = settings.archive;
    if (messageFile) message = ReadWholeFile(*messageFile);
    if (message) archive.message = InCodePage(WithCrLf(*message), codePage, "the message");
    if (run) archive.runCommand = InCodePage(*run, codePage, "the run command");
    if (passwordFile) {
        archive.password = InCodePage(PasswordFromFile(*passwordFile), codePage, "the password");
    } else if (askPassword) {
        std::optional<std::string> first = ReadPasswordFromTerminal("Password: ");
        if (!first) throw CliError(kExitUsage, "--password needs a terminal; use --password-file");
        std::optional<std::string> second = ReadPasswordFromTerminal("Password again: ");
        if (!second || *second != *first) throw CliError(kExitRefused, "the two passwords differ");
        archive.password = InCodePage(*first, codePage, "the password");
    }
    StubKind kind = stubKind.value_or(StubKind::kWin32);
    archive.leading = stubFile.empty() ? LoadStub(kind) : LoadStubFile(stubFile);

    std::vector<InputEntry> entries;
    try {
        entries = CollectInputs(paths, codePage, output);
    } catch (const InputError& e) {
        throw CliError(kExitRefused, e.what());
    }
    if (entries.empty()) throw CliError(kExitRefused, "nothing to store");
    OrderForCompression(entries);

    // Written under a temporary name beside the output and renamed at the
    // end, so that a failed run leaves nothing half-written.
    std::string pattern = output + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    int fd = mkstemp(name.data());
    if (fd < 0) throw CliError(kExitRefused, "cannot create \"" + output + "\": " + strerror(errno));
    gTemporary = name.data();
    signal(SIGINT, RemoveTemporary);
    signal(SIGTERM, RemoveTemporary);
    signal(SIGHUP, RemoveTemporary);
    FILE* file = fdopen(fd, "wb");
    std::vector<char> buffer(1 << 20);
    setvbuf(file, buffer.data(), _IOFBF, buffer.size());

    Progress progress(!quiet, "create");
    BuildResult result;
    try {
        result = WriteArchiveFile(file, entries, settings, [&](const BuildProgress& p) {
            progress.Update(p.files, p.totalFiles, p.bytes,
                            p.totalBytes ? static_cast<double>(p.bytes) / p.totalBytes : 1.0);
        });
        if (fflush(file) != 0 || ferror(file)) throw std::runtime_error("cannot write \"" + output + "\"");
    } catch (const std::exception& e) {
        progress.Finish();
        fclose(file);
        unlink(gTemporary.c_str());
        throw CliError(kExitRefused, e.what());
    }
    progress.Finish();
    bool executable = !archive.leading.empty();
    fchmod(fd, executable ? 0755 : 0644);
    if (fclose(file) != 0 || rename(gTemporary.c_str(), output.c_str()) != 0) {
        unlink(gTemporary.c_str());
        throw CliError(kExitRefused, "cannot write \"" + output + "\": " + strerror(errno));
    }
    gTemporary.clear();
    if (!quiet) {
        uint64_t archiveBytes = result.fileBytes - archive.leading.size();
        fprintf(stdout, "%s: %zu entries, %llu bytes in, %llu bytes of archive (%.1f%%)\n", output.c_str(),
                entries.size(), (unsigned long long)result.inputBytes, (unsigned long long)archiveBytes,
                result.inputBytes ? 100.0 * archiveBytes / result.inputBytes : 0.0);
    }
    return kExitOk;
}
