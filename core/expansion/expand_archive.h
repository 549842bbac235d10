// ExpandArchive: the loop over the entry records of the block stream.
#pragma once

// Expands (or, where the user declines to overwrite, skips) every entry
// into `targetFolder` (empty, or ending with a backslash), then closes the
// archive. Every failure ends the process inside; it never returns early.
void ExpandArchive(const char* targetFolder);
