// The process-wide daily log: one file per local date, one line per message.
// Any thread may write; a line is written whole.
//
// A message is always one line: its CR, LF, tab and other control characters
// are written as escapes ("\r", "\n", "\t", "\x1b"; runtime/LogText.h), so
// no text a peer chose can forge a line, and one LF at its end (many formats
// end in "\n") is simply where the line ends. Every other byte, UTF-8
// included, is written as given.
//
// Once Log_StartWriter has run, a line is formatted (time, thread, level) by
// its caller and handed to a writer thread that alone touches the file: no
// caller ever waits on the disk, so a slow disk cannot stall the event loop
// or a thread that holds a registry lock. Lines wait in a queue of at most
// LOG_QUEUE_CAP bytes; past that they are dropped and counted, and the count
// is written once the writer catches up. Without the writer (tests, tools)
// each line is written by its caller.
#pragma once

#include "platform/LocalTime.h"

enum LogLevel { LOG_LEVEL_DEBUG = 0, LOG_LEVEL_INFO = 1, LOG_LEVEL_WARN = 2, LOG_LEVEL_ERR = 3 };

// Size of the message buffer: longer messages are cut to 1023 characters
// (before their control characters are escaped).
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

// One line at level; a null message writes an empty one.
void Log_Write(int level, const char* message);

// Most bytes of lines waiting for the writer thread.
static const size_t LOG_QUEUE_CAP = 16u * 1024u * 1024u;

// Starts the writer thread (once; later calls do nothing).
void Log_StartWriter();
// Waits until every line written before the call is in the file and flushed;
// with timeoutMs >= 0 waits at most that long. False when it gave up.
bool Log_Flush(int timeoutMs = -1);

// The day check of every write; switches files when the date has changed.
// 0, or -1 when the new file cannot be opened. Call with the log lock held
// (Log_Write does).
int Log_RollDay(const PlatformLocalTime* now);
