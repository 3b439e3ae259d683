#pragma once

#include <string_view>

namespace kv {

// Whether two paths name one file. This file system tells letter case and blanks apart, so names that differ
// only there are two files; a symbolic link and its target, or two spellings of one path, are one file.
// Existing files are compared by device and inode; when neither exists, by their resolved paths; an empty path
// names no file.
bool SameFile(std::string_view a, std::string_view b);

}  // namespace kv
