#include "runtime/SplitConfLine.h"

int SplitConfLine(char* line, int* count, char** tokens, int max)
{
    if (!count || !tokens) return -1;
    int stored = 0;
    bool startsToken = true;
    for (char* p = line; p && *p; ++p) {
        char c = *p;
        if (c == ' ' || c == '\t') {
            *p = '\0';
            startsToken = true;
            continue;
        }
        if (c == '\r' || c == '\n') {
            *p = '\0';
            break;
        }
        if (stored >= max) break;
        if (startsToken) {
            tokens[stored++] = p;
            startsToken = false;
        }
    }
    *count = stored;
    return 0;
}
