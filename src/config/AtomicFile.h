// Whole-file replacement that never leaves a half-written file behind: the
// text goes to a temporary file in the same folder, is flushed to disk, and
// only then renamed over the old file. A crash or a full disk leaves either
// the old file or the new one, whole.
#pragma once

#include <cstddef>

// Replaces the file at path with the len bytes of data. The new file keeps
// the old file's permissions (0644 for a new one). False, with an error log
// line and errno saying why, when any step fails; the old file is then
// untouched.
bool AtomicFile_Write(const char* path, const char* data, size_t len);

// Reads a whole file into a newly malloc'ed, NUL-terminated buffer (the
// caller frees it). Files over maxBytes are refused. Null when the file cannot
// be opened, read or is too large, with errno saying why (EFBIG: too large);
// *len gets the byte count.
char* AtomicFile_ReadAll(const char* path, size_t maxBytes, size_t* len);
