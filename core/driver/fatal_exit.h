// The fatal exits. Failures are neither thrown nor returned: the code that
// detects one calls an exit here, which never returns.
//
// Exit codes: 0 a finished run; 1 no valid archive or a wrong password
// three times; 2 every fatal exit and a folder that cannot be made.
#pragma once

// Closes the archive; closes and deletes a partly written output file;
// "Press Enter key." BEL; waits for a line; exit code 2.
[[noreturn]] void FatalExit();

// "File read error.", then FatalExit: the archive cannot be opened, moved
// in or read, the stream is read past its end, or it cannot be closed.
[[noreturn]] void ReadErrorExit();

// "File write error.", then FatalExit: an output file cannot be created,
// written, time-stamped or closed.
[[noreturn]] void WriteErrorExit();

// "This file is broken.", then FatalExit: the one way to say that the data
// inside the archive are damaged or outside the format (a block that fails
// its CRC, a match reaching before the window, an unsafe or impossible
// entry record).
[[noreturn]] void BrokenDataExit();
