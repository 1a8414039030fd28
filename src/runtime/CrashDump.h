// The crash-dump writer: on a fatal signal it leaves
// "<exe dir>/dump/<time>_<exe name>_core.dmp" holding the signal, the fault
// address, the thread and a backtrace, then lets the process end.
//
// The fault may have come from inside malloc, stdio or the time-zone code
// with their locks held, so the writer calls only async-signal-safe
// functions: everything else (the dump's folder and name, the backtrace's
// unwinder, the local time's offset from UTC) is made ready beforehand.
#pragma once

#include "platform/CrashHandler.h"
#include "platform/LocalTime.h"

#include <cstddef>
#include <string>

// Works out the dump's place, loads the unwinder, takes the UTC offset and
// installs CrashDumpFilter for the fatal signals. True when installed with a
// known place for the dump.
bool CrashDump_Install();

// Takes the local time's offset from UTC again, so a dump after a change of
// daylight-saving time is still named by the local time. Called at install
// and by the caster's timer: the handler cannot read the time-zone rules.
void CrashDump_RefreshUtcOffset();

// The fatal-signal filter; returns 1 so the process goes on to end.
// Async-signal-safe.
int CrashDumpFilter(const PlatformCrashInfo* info);

// The executable's directory without the trailing '/'.
std::string GetExeDir();
// The executable's file name without directory and extension.
std::string GetExeBaseName();
// Local time as "%d%2d%2d_%02d%02d%02d": month and day padded with blanks.
// Made the way the handler makes it, from the clock and the kept offset.
std::string GetDumpTimeText();

// The pieces above for a given path or time, for tests.
std::string CrashDump_BaseNameOf(const char* path);
std::string CrashDump_TimeTextOf(const PlatformLocalTime* t);

// Writes the dump file at path. False when the file cannot be created.
// Async-signal-safe once CrashDump_Install has loaded the unwinder.
bool WriteMiniDump(const char* path, const PlatformCrashInfo* info);
