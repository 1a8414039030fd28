// The date texts of a user account ("%d/%d/%d %d:%d:%d", local time, not
// zero-padded) and its activation period, read with every field range-checked
// so that no text from the store or a client reaches date arithmetic unchecked.
#pragma once

#include <cstdint>

#include "store/UserRecord.h"

enum { USER_PERIOD_MAX_DAYS = 36500 };

struct UserTime {
    int year;    // 1970-9999
    int month;   // 1-12
    int day;     // 1-31
    int hour;    // 0-23
    int minute;  // 0-59
    int second;  // 0-59
};

// Reads "year/month/day hour:minute:second". False when a field is missing,
// not a number or out of range; out is left untouched then.
bool UserTime_Parse(const char* text, UserTime* out);

// Days of life after a first login: 0 to USER_PERIOD_MAX_DAYS.
bool UserPeriod_IsValid(int64_t days);

enum UserTextsResult {
    USER_TEXTS_OK = 0,
    USER_TEXTS_NOT_UTF8,     // a text field is not well-formed UTF-8
    USER_TEXTS_BAD_TIME,     // an expiry or first-login text that is set cannot be read
    USER_TEXTS_BAD_PERIOD,   // the activation period is out of range
};

// Checks what an operator hands in for an account before it is stored: every
// text is UTF-8, the expiry and first-login texts are empty or readable
// dates, the period is in range.
UserTextsResult UserRecord_CheckTexts(const UserRecord* record);
