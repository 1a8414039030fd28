#include "decoding/NEMADecoding/BinaryGgaFrames.h"

#include "decoding/NtripDecoding/LoginFrameCrc16.h"

#include <cstring>

namespace NEMADecoding {

namespace {

uint16_t Word(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool IsSync(const unsigned char* p)
{
    return p[0] == 0xAA && p[1] == 0x55 && p[2] == 0xDD;
}

void FillRecord(const unsigned char* frame, size_t offset, uint16_t length, GgaFrameRecord* record)
{
    memset(record, 0, sizeof(*record));
    record->header.byte3 = frame[3];
    record->header.word4 = Word(frame + 4);
    record->header.word6 = Word(frame + 6);
    record->header.word8 = Word(frame + 8);
    record->header.byte10 = frame[10];
    record->header.byte11 = frame[11];
    record->header.payloadLength = length;
    record->header.frameType = frame[14];
    memcpy(record->payload, frame + GGA_FRAME_HEADER_SIZE, length);
    record->payloadLength = length;
    record->offset = offset;
    record->end = offset + length + GGA_FRAME_OVERHEAD;
}

}  // namespace

bool HasGgaFrameMarker(const unsigned char* bytes, size_t length)
{
    if (!bytes) return false;
    for (size_t i = 0; i + 2 < length; ++i) {
        if (IsSync(bytes + i)) return true;
    }
    return false;
}

void ScanBinaryGgaFrames(const unsigned char* bytes, size_t length, std::vector<GgaFrameRecord>* records,
                         size_t* pending)
{
    size_t firstPending = length;
    size_t i = 0;
    while (bytes && i < length) {
        if (bytes[i] != 0xAA) {
            ++i;
            continue;
        }
        if (i + 3 > length) {
            // "AA" or "AA 55" as the last bytes: a sync may be arriving.
            if (i + 1 == length || bytes[i + 1] == 0x55) {
                if (firstPending == length) firstPending = i;
            }
            ++i;
            continue;
        }
        if (!IsSync(bytes + i)) {
            ++i;
            continue;
        }
        if (i + 15 > length) {  // length and type not here yet
            if (firstPending == length) firstPending = i;
            ++i;
            continue;
        }
        uint16_t n = Word(bytes + i + 12);
        uint8_t type = bytes[i + 14];
        size_t end = i + n + GGA_FRAME_OVERHEAD;
        bool positionFrame = type == GGA_FRAME_TYPE && n < GGA_FRAME_PAYLOAD_MAX;
        if (end > length) {
            // Only a position frame is worth waiting for; others are skipped
            // whole once complete and give nothing.
            if (positionFrame && firstPending == length) firstPending = i;
            ++i;
            continue;
        }
        uint16_t crc = NtripDecoding::LoginFrameCrc16(bytes + i, n + GGA_FRAME_HEADER_SIZE);
        if (crc != Word(bytes + i + GGA_FRAME_HEADER_SIZE + n)) {
            ++i;
            continue;
        }
        if (positionFrame && records) {
            GgaFrameRecord record;
            FillRecord(bytes + i, i, n, &record);
            records->push_back(record);
        }
        i = end;
    }
    if (pending) *pending = firstPending;
}

}  // namespace NEMADecoding
