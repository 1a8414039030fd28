// The user log tree beside the executable:
//   UserLog/YYYY/MMDD/UserLog_YYYYMMDD_hhmmss.dat         one line per rover login
//   UserLog/YYYY/MMDD/<user>/<user>_YYYYMMDD_hhmmss.dat   a user's GGA sentences
// A file is started at the first line of a run and at the first line of each
// new day, named by that moment; each line is appended with the file opened
// and closed around it.
//
// The caster itself writes through UserLogQueue (a thread of its own), never
// from a thread that serves connections.
//
// A user name is the rover's own text: in a path it is made safe first
// (UserLog_SafeName), so no name can climb out of the tree or make hidden
// files. The lines keep the name as it was sent.
#pragma once

#include "platform/LocalTime.h"
#include "runtime/Lock.h"

#include <cstdio>
#include <string>

// Where LogToFile::Write puts a line.
enum {
    LOG_TO_FILE_USER = 0,     // the per-user file of the given user
    LOG_TO_FILE_GENERAL = 1,  // the general file of the day
};

static const size_t LOG_TO_FILE_PATH_SIZE = 4096;

class LogToFile {
public:
    // Takes the executable's directory as its root.
    LogToFile();
    // Takes rootDir (with or without a trailing '/') as its root; for tests.
    explicit LogToFile(const char* rootDir);
    ~LogToFile();
    LogToFile(const LogToFile&) = delete;
    LogToFile& operator=(const LogToFile&) = delete;

    // Appends one line; any mode but the two above does nothing. False when
    // nothing was written (the folder or the file could not be made).
    // Calls on one writer are serialized.
    bool Write(const char* text, int mode, const char* userName);
    // The same at the local time *at (the moment the line was made).
    bool Write(const char* text, int mode, const char* userName, const PlatformLocalTime& at);

    // Creates every missing folder of path, level by level; false when one
    // cannot be made.
    static bool MakeDirs(const char* path);
    // The executable's directory with its trailing '/'.
    static bool GetExeDirPathInWin(std::string* dir);
    // The executable's directory followed by name.
    static bool GetFileFullPath(const char* name, std::string* path);

    // The file a writer last made or opened ("" before the first).
    std::string MainFileName() const { return mainFileName_; }
    std::string UserFileName() const { return userFileName_; }

private:
    bool OpenUserFile(const PlatformLocalTime& date, bool create, FILE** out);
    bool OpenMainFile(const PlatformLocalTime& date, bool create, FILE** out);
    static bool SameDay(const PlatformLocalTime& a, const PlatformLocalTime& b);

    PlatformLocalTime userDate_;
    PlatformLocalTime mainDate_;
    FILE* userFile_;
    bool newUserFile_;
    bool newMainFile_;
    std::string userName_;
    std::string userFileName_;
    std::string rootDir_;
    std::string mainFileName_;
    FILE* mainFile_;
    Lock lock_;
};

// The user name as one safe path component: '/', '\\' and control characters
// become '_', a leading '.' becomes '_', and an empty name is "_".
std::string UserLog_SafeName(const char* userName);

