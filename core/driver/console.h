// The console dialogue.
//
// Output goes to standard output only, as bytes: line ends are CR LF, BEL is
// byte 7, names and the archive's message are written as stored. Output is
// buffered and flushed at every line end and wherever the user must see a
// partial line before a wait or a long piece of work.
//
// Input is read from standard input. A line ends at CR (an LF right after
// it belongs to the line end) or at a lone LF, as a POSIX terminal or a
// pipe sends it. At end of input every read returns at once: an empty line,
// or kConsoleEndOfInput for a single character. Nobody waits on a closed
// input.
#pragma once

#include <stddef.h>

#include "core/driver/byte_string.h"

static const char kBell = 7;
static const int kConsoleEndOfInput = -1;

void ConsoleWrite(const void* bytes, size_t count);
void ConsoleWriteText(const char* text);  // NUL-terminated
void ConsoleFlush();
void ConsoleLineEnd();  // CR LF, then flush

// Reads one input line into `line`, without its line end.
void ConsoleReadLine(ByteString* line);
// Reads one input line and drops it (waiting for Enter).
void ConsoleDiscardLine();
// Reads the first character of an answer line and drops the rest of that
// line. An empty line gives its line end byte; end of input gives
// kConsoleEndOfInput.
int ConsoleReadAnswer();

// Drops buffered input and output: the console as at process start. For
// front ends that run more than one expansion in a process.
void ConsoleReset();

// Every way the process ends: writes out the buffered console output, then
// ends the process with the code.
[[noreturn]] void EndProcess(int exitCode);
