// Fuzzes the rover position decoder: raw bytes, the same bytes as an NMEA
// sentence with a matching checksum, and as an AA 55 DD frame with a valid
// CRC, each whole and in chunks.
#include "FuzzDriver.h"

#include "decoding/NEMADecoding/GgaDecode.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "decoding/NtripDecoding/LoginFrameCrc16.h"

#include <cstdio>
#include <string>

namespace {

void CheckUnit(const Tarnek::LogRoot* unit)
{
    const NEMADecoding::NEMA_GPGGA* g = dynamic_cast<const NEMADecoding::NEMA_GPGGA*>(unit);
    FuzzDriver::Require(g != nullptr);
    FuzzDriver::Require(g->GetKind() == Tarnek::LOG_KIND_NMEA && g->GetType() == 0);
    FuzzDriver::Require(strnlen(g->rawSentence, sizeof(g->rawSentence)) < sizeof(g->rawSentence));
    FuzzDriver::Require(g->framePayloadLength < 200);
    FuzzDriver::Require(g->fixQuality >= -1 && g->fixQuality <= 9);
}

std::string AsSentence(const uint8_t* data, size_t size)
{
    std::string body(reinterpret_cast<const char*>(data), size);
    body = body.substr(0, body.find('*'));
    unsigned sum = 0;
    for (unsigned char c : body) sum ^= c;
    char tail[6];
    snprintf(tail, sizeof(tail), "*%02X\r\n", sum);
    return "$" + body + tail;
}

std::string AsFrame(const uint8_t* data, size_t size)
{
    std::string payload(reinterpret_cast<const char*>(data), size < 199 ? size : 199);
    std::string frame("\xAA\x55\xDD\x01\x02\x03\x07\x00\x34\x12\x01\x81", 12);
    frame.push_back(static_cast<char>(payload.size() & 0xFF));
    frame.push_back(static_cast<char>(payload.size() >> 8));
    frame.push_back(size && data[0] == 'X' ? 2 : 1);  // now and then a frame of another type
    frame.append(5, '\0');
    frame += payload;
    uint16_t crc = NtripDecoding::LoginFrameCrc16(reinterpret_cast<const unsigned char*>(frame.data()), frame.size());
    frame.push_back(static_cast<char>(crc & 0xFF));
    frame.push_back(static_cast<char>(crc >> 8));
    return frame;
}

void DriveString(const std::string& s)
{
    FuzzDriver::DriveAll(NEMADecoding::GgaDecode, reinterpret_cast<const uint8_t*>(s.data()), s.size(), CheckUnit);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzDriver::InitLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDriver::DriveAll(NEMADecoding::GgaDecode, data, size, CheckUnit);
    DriveString(AsSentence(data, size));
    DriveString(AsFrame(data, size) + AsFrame(data + size / 2, size - size / 2));
    return 0;
}
