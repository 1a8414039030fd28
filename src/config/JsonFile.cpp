#include "config/JsonFile.h"

#include "config/AtomicFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool IsNonIntegral(double value)
{
    return std::isfinite(value) && value != std::floor(value);
}

// cJSON prints doubles with its own shortest form; the configuration files
// carry non-integral numbers as "%.12f". Each such number is swapped for a raw
// item holding that text, which cJSON prints verbatim.
bool FormatNumbers(cJSON* parent)
{
    for (cJSON* item = parent->child; item != nullptr;) {
        cJSON* next = item->next;
        if (cJSON_IsNumber(item) && IsNonIntegral(item->valuedouble)) {
            char text[64];
            snprintf(text, sizeof(text), "%.12f", item->valuedouble);
            cJSON* raw = cJSON_CreateRaw(text);
            if (!raw) return false;
            if (item->string) {
                size_t n = strlen(item->string);
                raw->string = static_cast<char*>(cJSON_malloc(n + 1));
                if (!raw->string) {
                    cJSON_Delete(raw);
                    return false;
                }
                memcpy(raw->string, item->string, n + 1);
            }
            cJSON_ReplaceItemViaPointer(parent, item, raw);
        } else if (cJSON_IsObject(item) || cJSON_IsArray(item)) {
            if (!FormatNumbers(item)) return false;
        }
        item = next;
    }
    return true;
}

// Where the parse stopped, as a person counts it: lines and columns from 1,
// the column in bytes after a byte-order mark. The text there is not shown:
// the line may hold a secret (the inspector's salt), and this goes to the
// console, which the journal keeps.
std::string ParseProblem(const char* start, const char* at, bool isNul)
{
    if (!at || at < start) at = start;
    int line = 1;
    const char* lineStart = start;
    for (const char* p = start; p < at; ++p) {
        if (*p == '\n') {
            ++line;
            lineStart = p + 1;
        }
    }
    char where[96];
    snprintf(where, sizeof(where), "line %d, column %ld", line, static_cast<long>(at - lineStart) + 1);
    if (isNul) return std::string("is not valid JSON (a NUL byte at ") + where + ")";
    std::string out = std::string("is not valid JSON (parse error at ") + where;
    if (*at == '\0') out += ", at the end of the text";
    return out + ")";
}

void PutItem(cJSON* object, const char* key, cJSON* item)
{
    if (!item) return;
    if (cJSON_GetObjectItemCaseSensitive(object, key)) {
        cJSON_ReplaceItemInObjectCaseSensitive(object, key, item);
    } else {
        cJSON_AddItemToObject(object, key, item);
    }
}

}  // namespace

cJSON* LoadJsonFile(const char* path, std::string* problem)
{
    std::string ignored;
    if (!problem) problem = &ignored;
    problem->clear();
    if (!path) {
        *problem = "has no name";
        return nullptr;
    }
    size_t len = 0;
    char* text = AtomicFile_ReadAll(path, JSON_FILE_MAX_BYTES, &len);
    if (!text) {
        *problem = errno == ENOENT ? std::string("is missing") : std::string("is unreadable (") + strerror(errno) + ")";
        return nullptr;
    }
    if (len < 1) {
        free(text);
        *problem = "is not valid JSON (the file is empty)";
        return nullptr;
    }
    // A NUL inside the text would end the parse early and hide the rest.
    const char* nul = static_cast<const char*>(memchr(text, '\0', len));
    const char* start = text;
    if (len >= 3 && memcmp(start, "\xEF\xBB\xBF", 3) == 0) start += 3;

    const char* stop = nullptr;
    cJSON* json = nul ? nullptr : cJSON_ParseWithOpts(start, &stop, 1);
    if (!json) *problem = ParseProblem(start, nul ? nul : stop, nul != nullptr);
    free(text);
    return json;
}

void JsonSetNumberItem(cJSON* object, const char* key, int value)
{
    if (!object || !key) return;
    cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
    if (item && cJSON_IsNumber(item)) {
        cJSON_SetNumberValue(item, value);
        return;
    }
    PutItem(object, key, cJSON_CreateNumber(value));
}

void JsonSetStringItem(cJSON* object, const char* key, const char* text, int width)
{
    if (!object || !key) return;
    if (!text) text = "";
    size_t n = strlen(text);
    if (width < 0) width = 0;
    if (n > static_cast<size_t>(width)) n = static_cast<size_t>(width);
    std::string copy(text, n);
    PutItem(object, key, cJSON_CreateString(copy.c_str()));
}

bool JsonPrintConfig(const cJSON* json, std::string* text)
{
    if (!json || !text) return false;
    cJSON* copy = cJSON_Duplicate(json, 1);
    if (!copy) return false;
    bool ok = true;
    if (cJSON_IsNumber(copy) && IsNonIntegral(copy->valuedouble)) {
        char number[64];
        snprintf(number, sizeof(number), "%.12f", copy->valuedouble);
        *text = number;
        cJSON_Delete(copy);
        return true;
    }
    ok = FormatNumbers(copy);
    char* printed = ok ? cJSON_Print(copy) : nullptr;
    cJSON_Delete(copy);
    if (!printed) return false;
    *text = printed;
    cJSON_free(printed);
    return true;
}

bool JsonWriteFile(const char* path, const cJSON* json)
{
    std::string text;
    if (!JsonPrintConfig(json, &text)) {
        errno = ENOMEM;
        return false;
    }
    return AtomicFile_Write(path, text.data(), text.size());
}

cJSON* JsonGetSection(const cJSON* json, const char* key)
{
    cJSON* section = cJSON_GetObjectItemCaseSensitive(json, key);
    return cJSON_IsObject(section) ? section : nullptr;
}
