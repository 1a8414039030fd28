#include "decoding/NtripDecoding/BinaryLogin.h"

#include "decoding/NtripDecoding/LoginFrameCrc16.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace NtripDecoding {

namespace {

uint16_t Word(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool IsSync(const unsigned char* p)
{
    return p[0] == 0xAA && p[1] == 0x55 && p[2] == 0xDD;
}

void FillRecord(const unsigned char* frame, uint16_t length, BinaryLoginRecord* record)
{
    memset(record, 0, sizeof(*record));
    record->byte3 = frame[3];
    record->word4 = Word(frame + 4);
    record->userNumber = Word(frame + 6);
    record->word8 = Word(frame + 8);
    record->byte10 = frame[10];
    record->flags = frame[11];
    record->length = length;
    record->frameType = frame[14];
    memcpy(record->payload, frame + BINARY_FRAME_HEADER_SIZE, length);
    record->payloadLength = length;
}

}  // namespace

void ScanBinaryLoginFrames(const unsigned char* bytes, size_t n, std::vector<BinaryLoginFrame>* frames)
{
    if (!bytes || !frames) return;
    size_t i = 0;
    while (i + BINARY_FRAME_HEADER_SIZE < n) {
        if (IsSync(bytes + i)) {
            uint16_t length = Word(bytes + i + 12);
            size_t end = i + length + BINARY_FRAME_OVERHEAD;
            if (end <= n) {
                uint16_t crc = LoginFrameCrc16(bytes + i, length + BINARY_FRAME_HEADER_SIZE);
                if (crc == Word(bytes + i + BINARY_FRAME_HEADER_SIZE + length)) {
                    if (bytes[i + 14] == BINARY_FRAME_TYPE_LOGIN && length < BINARY_LOGIN_PAYLOAD_MAX) {
                        BinaryLoginFrame frame;
                        FillRecord(bytes + i, length, &frame.record);
                        frame.offset = i;
                        frame.end = end;
                        frames->push_back(frame);
                    }
                    i = end;
                    continue;
                }
            }
        }
        ++i;
    }
}

NtripClientLoginRequest* DecodeBinaryLogin(const unsigned char* bytes, size_t n, size_t* frameEnd)
{
    std::vector<BinaryLoginFrame> frames;
    ScanBinaryLoginFrames(bytes, n, &frames);
    if (frames.empty()) return nullptr;
    const BinaryLoginFrame& first = frames.front();
    const BinaryLoginRecord& r = first.record;

    NtripClientLoginRequest* request = new (std::nothrow) NtripClientLoginRequest();
    if (!request) return nullptr;
    snprintf(request->mountPoint, sizeof(request->mountPoint), "%s", "NEAREST");
    unsigned second = static_cast<unsigned>(r.word8) + static_cast<unsigned>(r.byte10) * 65536u;
    char letter1 = (r.flags & 0x03) == 1 ? 'A' : 'B';
    char letter2 = (r.flags & 0x80) ? 'S' : 'M';
    snprintf(request->user, sizeof(request->user), "%u_%u_%c%c", static_cast<unsigned>(r.userNumber), second,
             letter1, letter2);
    // The password field carries the frame's identity bytes, not a text.
    request->password[0] = static_cast<char>(r.userNumber & 0xFF);
    request->password[1] = static_cast<char>(r.userNumber >> 8);
    request->password[2] = static_cast<char>(r.word8 & 0xFF);
    request->password[3] = static_cast<char>(r.word8 >> 8);
    request->password[4] = static_cast<char>(r.byte10);
    request->password[5] = static_cast<char>(r.flags);
    request->binaryLogin = r;
    if (frameEnd) *frameEnd = first.end;
    return request;
}

}  // namespace NtripDecoding
