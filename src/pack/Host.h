// What kestrune-pack needs of the system it runs on, for Linux and for Windows.  Paths are
// UTF-8 everywhere; on Windows they are opened by their UTF-16 names, so that names outside
// the ANSI code page work.
#pragma once

#include <stdint.h>

#include <string>

namespace kpack {

// True when the path names a regular file.
bool IsFile(const std::string& path);
// The whole file; throws PackError naming what it is when it is missing, unreadable or
// larger than limit.
std::string ReadFile(const std::string& path, const char* what, uint64_t limit = UINT64_MAX);
// Written to a temporary name and renamed: a refused or failed build leaves no output file.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
// The folder of this executable (UTF-8, without a trailing separator), or empty.
std::string SelfFolder();
// The platform's separator between folder and name.
char PathSeparator();
bool StderrIsTerminal();
// Lets the console show the UTF-8 that the tool prints (Windows); nothing elsewhere.
void PrepareConsole();

}  // namespace kpack
