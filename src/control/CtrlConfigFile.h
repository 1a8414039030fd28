// What the two configuration writers of the control centre share: the path
// of "VorlaneConfig.json" and the lock that makes each write-then-apply one
// step, so two connections changing the configuration never interleave.
#pragma once

#include <cstddef>
#include <mutex>

// The executable's directory followed by "VorlaneConfig.json". False, with
// the error line "RequestProcess_ServiceConfig: GetExeDirPathInWin - failed",
// when the directory cannot be found (or the path does not fit).
bool CtrlConfig_FilePath(char* path, size_t size);

// Held around every write of the file and the apply that follows it.
// Readers of the caster's settings take their published copy instead.
std::mutex& CtrlConfig_Mutex();
