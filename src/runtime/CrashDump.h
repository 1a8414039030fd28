// The crash-dump writer: on a fatal signal it leaves
// "<exe dir>/dump/<time>_<exe name>_core.dmp" holding the signal, the fault
// address, the thread and a backtrace, then lets the process end.
#pragma once

#include "platform/CrashHandler.h"
#include "platform/LocalTime.h"

#include <cstddef>
#include <string>

// Installs CrashDumpFilter for the fatal signals. True when installed.
bool CrashDump_Install();

// The fatal-signal filter; returns 1 so the process goes on to end.
int CrashDumpFilter(const PlatformCrashInfo* info);

// The executable's directory without the trailing '/'.
std::string GetExeDir();
// The executable's file name without directory and extension.
std::string GetExeBaseName();
// Local time as "%d%2d%2d_%02d%02d%02d": month and day padded with blanks.
std::string GetDumpTimeText();

// The pieces above for a given path or time, for tests.
std::string CrashDump_BaseNameOf(const char* path);
std::string CrashDump_TimeTextOf(const PlatformLocalTime* t);

// Writes the dump file at path. False when the file cannot be created.
bool WriteMiniDump(const char* path, const PlatformCrashInfo* info);
