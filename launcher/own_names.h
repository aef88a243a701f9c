// Writing at a name in the game folder, never through a link planted there: anyone who may write
// into a shared game folder can put a link or junction at a name the launcher is about to write.
#pragma once

#include <cstdio>
#include <string>

#include "launcher/owned.h"

namespace orvantis {

// Removes the file or file link at path, never what a link points to; a folder, or a link to
// one, stays and is refused. True when nothing is left at the name (also when nothing was there).
bool ClearName(const std::wstring& path);

// A new file at path, after whatever file or link was at that name has been removed; tried again
// while another program holds the name. Empty when the name cannot be had.
OwnedHandle CreateFresh(const std::wstring& path, DWORD access, DWORD share);

// True when h, opened by path, is the file of that name itself rather than what a link at the
// name points to (a link in a folder above it counts as that folder). True when the platform
// cannot tell.
bool AtOwnName(HANDLE h, const std::wstring& path);

// The path of an open file or folder with every link resolved, in the extended form; empty when
// the platform cannot tell.
std::wstring FinalPathOf(HANDLE h);

// One of the launcher's own files as a stream in binary mode, truncated ("wb") or for appending
// ("ab"), created when missing; a link at its name is removed, never written through. wait: try
// again while another program holds it. Null when the file cannot be opened.
FILE* OpenOwnFile(const std::wstring& path, bool append, bool wait = true);

}  // namespace orvantis
