#include "control/CtrlConfigFile.h"

#include "config/VorlaneConfig.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"


bool CtrlConfig_FilePath(char* path, size_t size)
{
    if (ExeDir_FilePath(VORLANE_CONFIG_FILE, path, size) != EXE_FILE_PATH_OK) {
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
