#include "runtime/CrashDumpText.h"

void CrashDumpText_Init(CrashDumpText* text, char* buffer, size_t size)
{
    text->data = buffer;
    text->size = size;
    text->length = 0;
    text->cut = false;
    buffer[0] = '\0';
}

static void AppendChar(CrashDumpText* text, char c)
{
    if (text->length + 1 >= text->size) {
        text->cut = true;
        return;
    }
    text->data[text->length++] = c;
    text->data[text->length] = '\0';
}

void CrashDumpText_Append(CrashDumpText* text, const char* s)
{
    for (; s && *s; ++s) AppendChar(text, *s);
}

// The digits of value in base, most significant first, into digits (room
// for 64); returns how many.
static int DigitsOf(unsigned long value, unsigned base, char* digits)
{
    static const char kDigits[] = "0123456789abcdef";
    char reversed[64];
    int n = 0;
    do {
        reversed[n++] = kDigits[value % base];
        value /= base;
    } while (value != 0);
    for (int i = 0; i < n; ++i) digits[i] = reversed[n - 1 - i];
    return n;
}

void CrashDumpText_Decimal(CrashDumpText* text, long value, int width, char pad)
{
    bool negative = value < 0;
    // Negated as unsigned, so the most negative long has its digits too.
    unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    char digits[64];
    int n = DigitsOf(magnitude, 10, digits);
    int padding = width - n - (negative ? 1 : 0);
    if (pad != '0') {
        for (; padding > 0; --padding) AppendChar(text, pad);
    }
    if (negative) AppendChar(text, '-');
    for (; padding > 0; --padding) AppendChar(text, '0');
    for (int i = 0; i < n; ++i) AppendChar(text, digits[i]);
}

void CrashDumpText_Pointer(CrashDumpText* text, const void* address)
{
    if (!address) {
        CrashDumpText_Append(text, "(nil)");
        return;
    }
    char digits[64];
    int n = DigitsOf(reinterpret_cast<uintptr_t>(address), 16, digits);
    CrashDumpText_Append(text, "0x");
    for (int i = 0; i < n; ++i) AppendChar(text, digits[i]);
}

void CrashDumpText_Time(CrashDumpText* text, const PlatformLocalTime* t)
{
    CrashDumpText_Decimal(text, t->year, 0, ' ');
    CrashDumpText_Decimal(text, t->month, 2, ' ');
    CrashDumpText_Decimal(text, t->day, 2, ' ');
    AppendChar(text, '_');
    CrashDumpText_Decimal(text, t->hour, 2, '0');
    CrashDumpText_Decimal(text, t->minute, 2, '0');
    CrashDumpText_Decimal(text, t->second, 2, '0');
}

// Floor division, so that instants before 1970 fall on the day before.
static int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

void CrashDumpText_LocalTimeOf(int64_t utcSeconds, long offsetSeconds, PlatformLocalTime* out)
{
    int64_t seconds = utcSeconds + offsetSeconds;
    int64_t days = FloorDiv(seconds, 86400);
    int64_t secondOfDay = seconds - days * 86400;
    // Days to a civil date through 400-year eras that start on 1 March, so
    // the leap day is the last day of its year.
    int64_t z = days + 719468;
    int64_t era = FloorDiv(z, 146097);
    int64_t dayOfEra = z - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    out->year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    out->month = static_cast<int>(month);
    out->day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    out->hour = static_cast<int>(secondOfDay / 3600);
    out->minute = static_cast<int>(secondOfDay / 60 % 60);
    out->second = static_cast<int>(secondOfDay % 60);
    out->millisecond = 0;
    // 1 January 1970 was a Thursday.
    out->weekday = static_cast<int>(days - FloorDiv(days + 4, 7) * 7 + 4);
}
