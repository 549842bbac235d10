// tarnwick: makes self-extracting archives, and lists, tests and expands
// them.
#include <stdio.h>
#include <string.h>

#include <string>

#include "core/driver/archive_session.h"
#include "packer/cli_support.h"
#include "packer/commands.h"
#include "platform/platform.h"

namespace {

const char kHelp[] =
    "usage: tarnwick COMMAND [options] ...\n"
    "\n"
    "  create -o OUT [options] PATH...   make a self-extracting archive\n"
    "  list ARCHIVE                      show its entries (--json for scripts)\n"
    "  test ARCHIVE                      decode every entry, write nothing\n"
    "  extract ARCHIVE [-C DIR]          expand it without questions\n"
    "\n"
    "tarnwick COMMAND --help tells the options of each command.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  not an archive, a broken archive frame, or a wrong or missing password\n"
    "  2  damaged data, a read or write error, a folder that cannot be made\n"
    "  3  a wrong command line\n"
    "  4  create: an input that cannot be stored or an output that cannot be\n"
    "     written; extract: a file exists and neither --overwrite nor\n"
    "     --skip-existing was given\n";

}  // namespace

int main(int argc, char** argv) {
    PlatformStart(argc, argv);
    ResetArchiveSession();
    if (argc < 2) {
        fputs(kHelp, stderr);
        return kExitUsage;
    }
    std::string command = argv[1];
    try {
        if (command == "create") return CreateCommand(argc, argv, 2);
        if (command == "list") return ListCommand(argc, argv, 2);
        if (command == "test") return TestCommand(argc, argv, 2);
        if (command == "extract") return ExtractCommand(argc, argv, 2);
        if (command == "-h" || command == "--help" || command == "help") {
            const char* text = kHelp;
            if (argc > 2) {
                std::string topic = argv[2];
                text = topic == "create" ? kCreateHelp : topic == "list" ? kListHelp : topic == "test" ? kTestHelp
                       : topic == "extract" ? kExtractHelp : kHelp;
            }
            fputs(text, stdout);
            return kExitOk;
        }
        if (command == "--version") {
            printf("tarnwick 2.11\n");
            return kExitOk;
        }
        UsageError("unknown command \"" + command + "\"");
    } catch (const CliError& e) {
        fflush(stdout);
        fprintf(stderr, "tarnwick: %s\n", e.what());
        return e.exitCode;
    } catch (const std::exception& e) {
        fflush(stdout);
        fprintf(stderr, "tarnwick: %s\n", e.what());
        return kExitFatal;
    }
}
