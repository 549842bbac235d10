// MakeFolders: every folder along a folder path, outermost first.
//
// Each backslash (at the start of a character) ends a folder prefix that is
// tested and, when missing, created. Skipped: the empty prefix before a
// leading backslash (the root of the current drive), a drive such as "C:",
// and the server part of a network path "\\server\share\...".
#pragma once

// Returns only when every prefix names an existing folder; otherwise
// "Cannot make folder : " prefix BEL, and exit code 2 at once.
void MakeFolders(const char* folderPath);
