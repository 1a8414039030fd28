#include "config/ConfigPath.h"

#include "runtime/ExeDir.h"

bool Ntrip::GetFileFullPath(const char* name, char* path, size_t size)
{
    return ExeDir_FindFile(name, path, size, "Ntrip::GetFileFullPath");
}
