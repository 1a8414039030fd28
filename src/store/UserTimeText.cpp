#include "store/UserTimeText.h"

#include <cctype>
#include <cstring>

#include "runtime/Utf8Text.h"

namespace {

// One optionally signed decimal field after optional blanks, as sscanf's %d
// reads it, but with at most nine digits so that it can never overflow.
bool ReadField(const char** cursor, int* out)
{
    const char* p = *cursor;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int value = 0;
    int digits = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
        if (++digits > 9) return false;
        value = value * 10 + (*p++ - '0');
    }
    if (digits == 0) return false;
    *out = negative ? -value : value;
    *cursor = p;
    return true;
}

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

}  // namespace

bool UserTime_Parse(const char* text, UserTime* out)
{
    if (text == nullptr || out == nullptr) return false;
    // The separator that follows each field; the one before the hour is any
    // run of blanks, which ReadField skips.
    static const char kAfter[] = {'/', '/', '\0', ':', ':', '\0'};
    int fields[6];
    const char* p = text;
    for (int i = 0; i < 6; ++i) {
        if (!ReadField(&p, &fields[i])) return false;
        if (kAfter[i] != '\0') {
            if (*p != kAfter[i]) return false;
            ++p;
        }
    }
    const UserTime t = {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
    if (!InRange(t.year, 1970, 9999) || !InRange(t.month, 1, 12) || !InRange(t.day, 1, 31) ||
        !InRange(t.hour, 0, 23) || !InRange(t.minute, 0, 59) || !InRange(t.second, 0, 59)) {
        return false;
    }
    *out = t;
    return true;
}

bool UserPeriod_IsValid(int64_t days) { return days >= 0 && days <= USER_PERIOD_MAX_DAYS; }

UserTextsResult UserRecord_CheckTexts(const UserRecord* record)
{
    if (record == nullptr) return USER_TEXTS_NOT_UTF8;
    const char* const texts[] = {record->name,    record->password, record->contactperson,
                                 record->contacttele, record->mail, record->qq,
                                 record->company, record->registerTime, record->expiredatetime,
                                 record->firstonlinetime};
    for (const char* text : texts) {
        if (!Utf8_IsValid(text, strnlen(text, USER_TEXT_LEN))) return USER_TEXTS_NOT_UTF8;
    }
    UserTime t;
    if (record->expiredatetime[0] != '\0' && !UserTime_Parse(record->expiredatetime, &t)) {
        return USER_TEXTS_BAD_TIME;
    }
    if (record->firstonlinetime[0] != '\0' && !UserTime_Parse(record->firstonlinetime, &t)) {
        return USER_TEXTS_BAD_TIME;
    }
    if (!UserPeriod_IsValid(record->activationperiod)) return USER_TEXTS_BAD_PERIOD;
    return USER_TEXTS_OK;
}
