#include "control/CtrlConfigFile.h"

#include "config/ConfigPath.h"
#include "config/VorlaneConfig.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"

#include <cstring>

bool CtrlConfig_FilePath(char* path, size_t size)
{
    char dir[EXE_DIR_PATH_SIZE];
    memset(dir, 0, sizeof(dir));
    if (!GetExeDirPathInWin(dir) || !ConfigPath_Join(dir, VORLANE_CONFIG_FILE, path, size)) {
        Log_Error("RequestProcess_ServiceConfig: GetExeDirPathInWin - failed");
        return false;
    }
    return true;
}

std::mutex& CtrlConfig_Mutex()
{
    static std::mutex mutex;
    return mutex;
}
