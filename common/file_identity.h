#pragma once

// Which file a path names, and where the files that guard a company file lie.

#include <filesystem>
#include <string_view>

namespace kv {

// Whether two paths name one file. This file system tells letter case and blanks apart, so names that differ
// only there are two files; a symbolic link and its target, or two spellings of one path, are one file.
// Existing files are compared by device and inode; when neither exists, by their resolved paths; an empty path
// names no file.
bool SameFile(std::string_view a, std::string_view b);

// A file that guards a company file (its one-run-at-a-time lock, its journal of what was posted into it): hidden
// beside the file its links lead to, named "." + the company file's name + suffix (the suffix keeps its own
// leading dot, as ".tessarine-lock"). Every path that reaches the company file (a link, "." or ".." steps, a bind
// mount of its folder) meets the same guard files, since they lie in the very folder that holds the file, and no
// process's environment plays a part. Not the inode: a program that saves the company file by writing a new one
// in its place must not lose its guards.
std::filesystem::path GuardFileOf(std::string_view company_file, std::string_view suffix);

}  // namespace kv
