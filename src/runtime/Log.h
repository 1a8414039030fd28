// The process-wide daily log: one file per local date, one line per message.
// Any thread may write; a line is written whole.
#pragma once

#include "platform/LocalTime.h"

enum LogLevel { LOG_LEVEL_DEBUG = 0, LOG_LEVEL_INFO = 1, LOG_LEVEL_WARN = 2, LOG_LEVEL_ERR = 3 };

// Size of the message buffer: longer messages are cut to 1023 characters.
static const int LOG_MESSAGE_SIZE = 1024;
// Once the file holds this many bytes, writing starts over at its beginning.
static const long LOG_FILE_CAP = 104857600L;

// Opens "<prefix>_YYYY-MM-DD.log". 0 on success; -1 when the prefix is longer
// than 255 characters or the file cannot be opened.
int Log_Init(const char* prefix);

void Log_Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log_Info(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log_Warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log_Error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// For states that must not happen: logs at error level, then aborts.
[[noreturn]] void Log_Fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

void Log_Write(int level, const char* message);

// The day check of every write; switches files when the date has changed.
// 0, or -1 when the new file cannot be opened. Call with the log lock held
// (Log_Write does).
int Log_RollDay(const PlatformLocalTime* now);
