// Fuzzes the login decoder: raw bytes, the bytes as the header lines of a
// SOURCE and a GET request, and as a binary login frame with a valid CRC-16,
// whole and in chunks.
#include "FuzzDriver.h"

#include "decoding/NtripDecoding/LoginFrameCrc16.h"
#include "decoding/NtripDecoding/NtripLog.h"
#include "decoding/NtripDecoding/NtripRequestDecode.h"

#include <cstring>
#include <string>

namespace {

template <size_t N>
void RequireTerminated(const char (&field)[N])
{
    FuzzDriver::Require(strnlen(field, N) < N);
}

void CheckUnit(const Tarnek::LogRoot* unit)
{
    FuzzDriver::Require(unit->GetKind() == Tarnek::LOG_KIND_NTRIP);
    if (const auto* s = dynamic_cast<const NtripDecoding::NtripServerLoginRequest*>(unit)) {
        RequireTerminated(s->mountPoint);
        RequireTerminated(s->password);
    } else if (const auto* c = dynamic_cast<const NtripDecoding::NtripClientLoginRequest*>(unit)) {
        RequireTerminated(c->mountPoint);
        RequireTerminated(c->user);
        RequireTerminated(c->password);
        RequireTerminated(c->userAgent);
        FuzzDriver::Require(c->binaryLogin.payloadLength < NtripDecoding::BINARY_LOGIN_PAYLOAD_MAX);
    } else if (const auto* g = dynamic_cast<const NtripDecoding::NtripGetSourceListRequest*>(unit)) {
        RequireTerminated(g->gga);
    } else {
        FuzzDriver::Require(false);
    }
}

std::string AsFrame(const uint8_t* data, size_t size)
{
    std::string frame(reinterpret_cast<const char*>(data), size < 20 ? size : 20);
    frame.resize(20, '\0');
    std::string payload(reinterpret_cast<const char*>(data) + (size < 20 ? size : 20), size < 20 ? 0 : size - 20);
    frame[0] = '\xAA';
    frame[1] = '\x55';
    frame[2] = '\xDD';
    frame[12] = static_cast<char>(payload.size() & 0xFF);
    frame[13] = static_cast<char>(payload.size() >> 8);
    if (size && data[0] & 1) frame[14] = 1;  // mostly logins
    frame += payload;
    uint16_t crc = NtripDecoding::LoginFrameCrc16(reinterpret_cast<const unsigned char*>(frame.data()), frame.size());
    frame.push_back(static_cast<char>(crc & 0xFF));
    frame.push_back(static_cast<char>(crc >> 8));
    return frame;
}

void DriveString(const std::string& s)
{
    FuzzDriver::DriveAll(NtripDecoding::Ntrip1CasterDecode, reinterpret_cast<const uint8_t*>(s.data()), s.size(),
                         CheckUnit);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzDriver::InitLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDriver::DriveAll(NtripDecoding::Ntrip1CasterDecode, data, size, CheckUnit);
    std::string text(reinterpret_cast<const char*>(data), size);
    DriveString("SOURCE " + text + "\r\n\r\n");
    DriveString("GET /" + text + "\r\n\r\n");
    DriveString(AsFrame(data, size));
    return 0;
}
