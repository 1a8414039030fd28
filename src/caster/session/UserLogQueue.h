// The user log tree's own thread: rover login and the rover handler queue
// their lines here and go on; the thread makes the folders, opens, writes
// and closes the files. A disk that is slow or stuck never holds a login, a
// GGA sentence, a registry lock or the event loop.
//
// The thread owns the general writer and one per-user writer for each user
// name that has GGA lines; UserLogQueue_Release frees a user's writer once
// the last rover of that name has left, so the set follows the rovers that
// are logged in, not every name ever seen. Lines wait in a queue of at most
// USER_LOG_QUEUE_CAP bytes; past that they are dropped and counted in the
// daily log.
#pragma once

#include <cstddef>
#include <cstdint>

static const size_t USER_LOG_QUEUE_CAP = 8u * 1024u * 1024u;

// Queues one line for the general file (LOG_TO_FILE_GENERAL) or the user's
// own file (LOG_TO_FILE_USER), stamped with the present local time. Starts
// the thread at the first call.
void UserLogQueue_Post(int mode, const char* userName, const char* text);
// Queues the end of the user's per-user writer (after the lines before it).
void UserLogQueue_Release(const char* userName);
// Waits until everything queued before the call is done; timeoutMs >= 0
// bounds the wait. False when it gave up; *linesLeft (may be null) gets how
// many of the lines queued before the call were not written by then.
bool UserLogQueue_Flush(int timeoutMs, uint64_t* linesLeft = nullptr);
// The folder the tree is rooted in (default: the executable's directory);
// only before the first post, for tests.
void UserLogQueue_SetRoot(const char* dir);
