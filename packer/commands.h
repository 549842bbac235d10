// The commands of `tarnwick`. Each takes the arguments after its name and
// returns the exit code; a CliError carries a message and its code out.
#pragma once

int CreateCommand(int argc, char** argv, int first);
int ListCommand(int argc, char** argv, int first);
int TestCommand(int argc, char** argv, int first);
int ExtractCommand(int argc, char** argv, int first);

extern const char kCreateHelp[];
extern const char kListHelp[];
extern const char kTestHelp[];
extern const char kExtractHelp[];
