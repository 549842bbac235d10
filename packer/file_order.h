// The order of the entries in an archive. A file's compressed data may
// copy from the first bytes of an earlier file (the preload, and a prefix
// taken over whole), so files that look alike should sit together: files
// are ordered by extension, then by their own name, then by their folder.
// Empty folders follow the files. The order depends on the names alone, so
// the same inputs always give the same archive.
#pragma once

#include <string>
#include <vector>

#include "packer/file_tree.h"

// The sort key's extension: the lower-case text after the last '.' of the
// last name component ("" without one, and for names such as ".profile").
std::string ExtensionOf(const std::string& name);

void OrderForCompression(std::vector<InputEntry>& entries);
