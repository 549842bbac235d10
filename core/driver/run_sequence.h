// The run sequence: the program's whole control flow.
//
//   no arguments (or anything but exactly "/e" and a path):
//       expand the archive appended to the program's own executable into
//       the executable's folder;
//   "/e" path:
//       expand the archive at the end of that file into its folder.
//
// Then start the archive's run command, if any, and end with exit code 0.
// Every failure ends the process inside the code that detects it.
#pragma once

[[noreturn]] void RunSequence();
