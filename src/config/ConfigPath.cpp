#include "config/ConfigPath.h"

#include "runtime/ExeDir.h"
#include "runtime/Log.h"


bool Ntrip::GetFileFullPath(const char* name, char* path, size_t size)
{
    int result = ExeDir_FilePath(name, path, size);
    if (result == EXE_FILE_PATH_NO_DIR) {
        Log_Error("%s:GetExeDirPathInWin: failed", "Ntrip::GetFileFullPath");
    } else if (result != EXE_FILE_PATH_OK) {
        Log_Error("%s:path too long for %s", "Ntrip::GetFileFullPath", name ? name : "(null)");
    }
    return result == EXE_FILE_PATH_OK;
}
