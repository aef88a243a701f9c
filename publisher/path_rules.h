// Which relative names can be published: what the launcher accepts and writes where it is told.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvantis {

// Longest canonical path the launcher takes for a file, in UTF-16 units: the game folder, a
// backslash and the relative path (its ".part" file is not counted).
constexpr size_t kLauncherPathUnits = 519;
// Longest relative path of a release, in UTF-16 units: it leaves players 318 for the game folder.
constexpr size_t kMaxPathUnits = 200;
// Longest single name, in UTF-16 units. Windows file systems store 255, and the launcher writes
// every file first as name + ".part", which must fit too.
constexpr size_t kMaxNameUnits = 250;

// The longest game folder (in UTF-16 units, without a trailing backslash) that still takes a
// relative path of pathUnits.
constexpr size_t FolderRoom(size_t pathUnits) { return kLauncherPathUnits - 1 - pathUnits; }

// "Longest path: ..." for an operator: the longest of paths, in UTF-16 units, and the longest game
// folder a player may install into for it. Empty for no paths.
std::string LongestPathText(const std::vector<std::string>& paths);

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
