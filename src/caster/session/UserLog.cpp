#include "caster/session/UserLog.h"

#include "platform/FileSystem.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"

#include <cstdarg>
#include <cstring>

namespace {

bool Format(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

bool Format(std::string* out, const char* format, ...)
{
    char buffer[LOG_TO_FILE_PATH_SIZE];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(buffer, sizeof(buffer), format, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(buffer)) return false;
    out->assign(buffer, static_cast<size_t>(n));
    return true;
}

std::string WithSlash(const char* dir)
{
    std::string root = dir ? dir : "";
    if (!root.empty() && root.back() != '/') root += '/';
    return root;
}

}  // namespace

std::string UserLog_SafeName(const char* userName)
{
    std::string name = userName ? userName : "";
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) c = '_';
    }
    if (name.empty()) return "_";
    if (name[0] == '.') name[0] = '_';
    return name;
}

LogToFile::LogToFile() : LogToFile(nullptr)
{
    std::string dir;
    if (GetFileFullPath("", &dir)) rootDir_ = dir;
}

LogToFile::LogToFile(const char* rootDir)
    : userDate_(), mainDate_(), userFile_(nullptr), newUserFile_(true), newMainFile_(true),
      rootDir_(WithSlash(rootDir)), mainFile_(nullptr)
{
}

LogToFile::~LogToFile()
{
    if (userFile_) fclose(userFile_);
    if (mainFile_) fclose(mainFile_);
}

bool LogToFile::GetExeDirPathInWin(std::string* dir)
{
    char path[EXE_DIR_PATH_SIZE];
    if (!::GetExeDirPathInWin(path)) return false;
    *dir = path;
    return true;
}

bool LogToFile::GetFileFullPath(const char* name, std::string* path)
{
    char full[EXE_FILE_PATH_SIZE];
    if (!ExeDir_FindFile(name ? name : "", full, sizeof(full), "LogToFile::GetFileFullPath")) return false;
    *path = full;
    return true;
}

bool LogToFile::MakeDirs(const char* path)
{
    if (!path || !*path) return false;
    std::string text(path);
    for (size_t at = text.find('/', 1); at != std::string::npos; at = text.find('/', at + 1)) {
        std::string prefix = text.substr(0, at);
        if (!Platform_PathExists(prefix.c_str()) && !Platform_MakeDir(prefix.c_str())) return false;
    }
    if (text.back() != '/' && !Platform_PathExists(path) && !Platform_MakeDir(path)) return false;
    return true;
}

bool LogToFile::SameDay(const PlatformLocalTime& a, const PlatformLocalTime& b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

bool LogToFile::OpenMainFile(const PlatformLocalTime& date, bool create, FILE** out)
{
    *out = nullptr;
    if (create) {
        std::string dir, name;
        if (!Format(&dir, "%sUserLog/%04d/%02d%02d/", rootDir_.c_str(), date.year, date.month, date.day) ||
            !MakeDirs(dir.c_str()) ||
            !Format(&name, "%sUserLog_%04d%02d%02d_%02d%02d%02d.dat", dir.c_str(), date.year, date.month, date.day,
                    date.hour, date.minute, date.second)) {
            return false;
        }
        mainFileName_ = name;
    }
    if (mainFileName_.empty()) return false;
    *out = fopen(mainFileName_.c_str(), "a");
    return *out != nullptr;
}

bool LogToFile::OpenUserFile(const PlatformLocalTime& date, bool create, FILE** out)
{
    *out = nullptr;
    if (create) {
        std::string safe = UserLog_SafeName(userName_.c_str());
        std::string dir, name;
        if (!Format(&dir, "%sUserLog/%04d/%02d%02d/%s/", rootDir_.c_str(), date.year, date.month, date.day,
                    safe.c_str()) ||
            !MakeDirs(dir.c_str()) ||
            !Format(&name, "%s%s_%04d%02d%02d_%02d%02d%02d.dat", dir.c_str(), safe.c_str(), date.year, date.month,
                    date.day, date.hour, date.minute, date.second)) {
            return false;
        }
        userFileName_ = name;
    }
    if (userFileName_.empty()) return false;
    *out = fopen(userFileName_.c_str(), "a");
    return *out != nullptr;
}

bool LogToFile::Write(const char* text, int mode, const char* userName)
{
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    return Write(text, mode, userName, now);
}

bool LogToFile::Write(const char* text, int mode, const char* userName, const PlatformLocalTime& now)
{
    if (mode != LOG_TO_FILE_GENERAL && mode != LOG_TO_FILE_USER) return false;
    if (!text) text = "";
    ScopedLock guard(lock_);
    if (mode == LOG_TO_FILE_GENERAL) {
        if (mainFile_) return false;
        bool fresh = newMainFile_ || !SameDay(mainDate_, now);
        // A file that could not be made is tried again at the next line.
        if (!OpenMainFile(now, fresh, &mainFile_)) return false;
        mainDate_ = now;
        newMainFile_ = false;
        fprintf(mainFile_, "%02d:%02d:%02d.%03d %s\n", now.hour, now.minute, now.second, now.millisecond, text);
        fclose(mainFile_);
        mainFile_ = nullptr;
        return true;
    }

    userName_ = userName ? userName : "";
    if (userFile_) return false;
    bool fresh = newUserFile_ || !SameDay(userDate_, now);
    if (!OpenUserFile(now, fresh, &userFile_)) return false;
    userDate_ = now;
    newUserFile_ = false;
    fprintf(userFile_, "[%02d:%02d:%02d] %s\n", now.hour, now.minute, now.second, text);
    fclose(userFile_);
    userFile_ = nullptr;
    return true;
}

