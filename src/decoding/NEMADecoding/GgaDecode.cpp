#include "decoding/NEMADecoding/GgaDecode.h"

#include "decoding/NEMADecoding/BinaryGgaFrames.h"
#include "decoding/NEMADecoding/GgaSentence.h"
#include "decoding/NEMADecoding/NmeaFields.h"

#include <cstring>
#include <vector>

namespace NEMADecoding {

namespace {

// Bytes behind a '*': the two checksum digits.
const size_t CHECKSUM_DIGITS = 2;

long FindByte(const unsigned char* bytes, size_t length, unsigned char c)
{
    const void* hit = memchr(bytes, c, length);
    return hit ? static_cast<long>(static_cast<const unsigned char*>(hit) - bytes) : -1;
}

// Where a sentence ends: past the '*' and its two digits, unless a new
// sentence ('$') or frame (0xAA) starts sooner.
size_t EndAfterStar(const unsigned char* bytes, size_t length, size_t star)
{
    size_t end = star + 1 + CHECKSUM_DIGITS;
    if (end > length) end = length;
    for (size_t k = star + 1; k < end; ++k) {
        if (bytes[k] == '$' || bytes[k] == 0xAA) return k;
    }
    return end;
}

size_t HoldOrDropHalf(size_t length)
{
    return length > GGA_HOLD_LIMIT ? length / 2 : 0;
}

typedef NEMA_GPGGA* (*SentenceParser)(const unsigned char*, size_t);

// Parses the sentence at head; nullptr also while its checksum digits have
// not arrived. *star is set to the index of its '*' in the buffer.
NEMA_GPGGA* ParseAt(const unsigned char* bytes, size_t length, size_t head, SentenceParser parse, size_t* star)
{
    long s = FindByte(bytes + head, length - head, '*');
    if (s < 0) return nullptr;
    if (length - head - static_cast<size_t>(s) <= CHECKSUM_DIGITS) return nullptr;
    *star = head + static_cast<size_t>(s);
    return parse(bytes + head, length - head);
}

bool DecodeFramed(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    std::vector<GgaFrameRecord> records;
    size_t pending = length;
    ScanBinaryGgaFrames(bytes, length, &records, &pending);
    for (const GgaFrameRecord& record : records) {
        NEMA_GPGGA* position = ParseGgaSentence(record.payload, record.payloadLength);
        if (!position) continue;
        position->frameHeader = record.header;
        position->framePayloadLength = record.payloadLength;
        *unit = position;
        *consumed = record.end;
        return true;
    }
    long star = FindByte(bytes, length, '*');
    size_t through = star < 0 ? HoldOrDropHalf(length) : EndAfterStar(bytes, length, static_cast<size_t>(star));
    *consumed = through < pending ? through : pending;
    return false;
}

bool DecodeText(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    long firstStar = FindByte(bytes, length, '*');
    if (firstStar < 0) {
        *consumed = HoldOrDropHalf(length);
        return false;
    }
    size_t star = static_cast<size_t>(firstStar);
    if (length - star <= CHECKSUM_DIGITS) return false;  // its checksum is still arriving
    size_t through = EndAfterStar(bytes, length, star);

    // Of several heads the last in this order decides, also when it fails.
    static const char* const kGgaHeads[] = {"$GPGGA,", "$GNGGA,", "$BDGGA,"};
    NEMA_GPGGA* held = nullptr;
    size_t heldStar = 0;
    for (const char* text : kGgaHeads) {
        long head = ByteSpan_Find2(bytes, length, text);
        if (head < 0) continue;
        delete held;
        held = ParseAt(bytes, length, static_cast<size_t>(head), ParseGgaSentence, &heldStar);
    }
    long ksxt = ByteSpan_Find2(bytes, length, "$KSXT,");
    if (ksxt >= 0) {
        delete held;
        held = ParseAt(bytes, length, static_cast<size_t>(ksxt), ParseKsxtSentence, &heldStar);
    }
    if (held) {
        size_t end = EndAfterStar(bytes, length, heldStar);
        if (end > through) through = end;
    }
    *consumed = through;
    *unit = held;
    return held != nullptr;
}

}  // namespace

bool GgaDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    if (unit) *unit = nullptr;
    if (consumed) *consumed = 0;
    if (!unit || !consumed || !bytes || length == 0) return false;
    if (HasGgaFrameMarker(bytes, length)) return DecodeFramed(bytes, length, unit, consumed);
    return DecodeText(bytes, length, unit, consumed);
}

}  // namespace NEMADecoding
