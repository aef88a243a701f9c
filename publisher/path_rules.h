// Which relative names can be published: what the launcher accepts and writes where it is told.
#pragma once

#include <cstddef>
#include <string>

namespace orvantis {

// Longest relative path, in UTF-16 units. The launcher's canonical path must stay under 520
// units with ".part" appended, so this leaves about 310 for the folder the game is installed in.
constexpr size_t kMaxPathUnits = 200;
// Longest single name, in UTF-16 units. Windows file systems store 255, but the launcher
// writes every file first as name + ".part", which must fit too.
constexpr size_t kMaxNameUnits = 250;

// Why the relative path (UTF-8, '/' separators) cannot be published; empty when it can.
std::string PathProblem(const std::string& path);

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF); units = UTF-16 length.
bool Utf8Units(const std::string& text, size_t& units);

// The path with letters folded the way Windows compares names (ASCII, Latin, Greek, Cyrillic).
std::string FoldCase(const std::string& path);

// Why the launcher's own files are left out of a release; nullptr for a game file.
const char* LeftOutReason(const std::string& path);

// The path with invalid UTF-8 and control bytes shown as \xNN, safe to print.
std::string Printable(const std::string& path);

}  // namespace orvantis
