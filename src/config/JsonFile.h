// Reading, editing and writing the JSON configuration files with cJSON.
#pragma once

#include <cJSON.h>

#include <string>

// Largest configuration file read; anything bigger is not a configuration.
static const size_t JSON_FILE_MAX_BYTES = 16u * 1024u * 1024u;

// The parsed JSON of a whole file, or null. A UTF-8 byte-order mark is
// skipped; text after the JSON value other than blanks is an error, so a
// re-save can never drop part of a file silently. Free with cJSON_Delete.
// On null, *problem (when given) says why, to follow the file's name: "is
// missing", "is unreadable (Permission denied)" or "is not valid JSON
// (parse error at line 3, column 7)".
cJSON* LoadJsonFile(const char* path, std::string* problem = nullptr);

// Sets the key's number (integer and floating value), or adds a number item
// when the key is missing. An item of another type under the key is replaced.
void JsonSetNumberItem(cJSON* object, const char* key, int value);

// Sets the key's string to a copy of at most width characters of text, or
// adds a string item when the key is missing.
void JsonSetStringItem(cJSON* object, const char* key, const char* text, int width);

// The formatted text of a JSON value as cJSON prints it, except that
// non-integral numbers are written "%.12f". False when printing fails.
bool JsonPrintConfig(const cJSON* json, std::string* text);

// Writes the formatted JSON over the file at path, atomically (see
// AtomicFile.h). False when printing or writing fails.
bool JsonWriteFile(const char* path, const cJSON* json);

// Section helpers for readers: the object under key (case-sensitive), or null
// when the key is absent or not an object.
cJSON* JsonGetSection(const cJSON* json, const char* key);
