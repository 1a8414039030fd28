// Decoded NTRIP login units: what the login executor hands to the caster.
#pragma once

#include "decoding/LogRoot.h"

#include <cstdint>

namespace NtripDecoding {

// Widths of the texts a request carries. Each array has one byte more, so a
// text that fills its width still reads back zero-terminated.
static const int NTRIP_MOUNT_POINT_LEN = 100;
static const int NTRIP_USER_LEN = 50;
static const int NTRIP_PASSWORD_LEN = 50;
static const int NTRIP_USER_AGENT_LEN = 100;
static const int NTRIP_GGA_LEN = 128;

// Payload room of a binary login frame; longer frames are not logins.
static const int BINARY_LOGIN_PAYLOAD_MAX = 200;

enum NtripRequestType {
    NTRIP_SERVER_LOGIN_REQUEST = 0,
    NTRIP_CLIENT_LOGIN_REQUEST = 1,
    NTRIP_GET_SOURCE_LIST_REQUEST = 2,
    NTRIP_UNKNOW_LOGIN_REQUEST = 3,
};

// The header of one binary login frame (AA 55 DD ...) and its payload, as the
// rover sent them. All zero for a text request.
struct BinaryLoginRecord {
    uint8_t byte3;          // frame byte 3
    uint16_t word4;         // frame word at offset 4
    uint16_t userNumber;    // frame word at offset 6: first number of the user name
    uint16_t word8;         // frame word at offset 8: low part of the second number
    uint8_t byte10;         // frame byte 10: high part of the second number
    uint8_t flags;          // frame byte 11: letters of the user name
    uint16_t length;        // payload length from the frame header
    uint8_t frameType;      // frame byte 14; 1 is a login
    unsigned char payload[BINARY_LOGIN_PAYLOAD_MAX];
    uint32_t payloadLength;
};

class NtripLog : public Tarnek::LogRoot {
public:
    int GetKind() const override { return Tarnek::LOG_KIND_NTRIP; }
};

// A base station's "SOURCE" login.
class NtripServerLoginRequest : public NtripLog {
public:
    NtripServerLoginRequest();
    int GetType() const override { return NTRIP_SERVER_LOGIN_REQUEST; }
    Tarnek::LogRoot* Clone() const override;

    char mountPoint[NTRIP_MOUNT_POINT_LEN + 1];
    char password[NTRIP_PASSWORD_LEN + 1];
};

// A rover's "GET" login, or a binary login frame.
class NtripClientLoginRequest : public NtripLog {
public:
    NtripClientLoginRequest();
    int GetType() const override { return NTRIP_CLIENT_LOGIN_REQUEST; }
    Tarnek::LogRoot* Clone() const override;

    char mountPoint[NTRIP_MOUNT_POINT_LEN + 1];
    char user[NTRIP_USER_LEN + 1];
    char password[NTRIP_PASSWORD_LEN + 1];
    char userAgent[NTRIP_USER_AGENT_LEN + 1];
    BinaryLoginRecord binaryLogin;
};

// A "GET /" for the source table, with the rover's position when it sent one.
class NtripGetSourceListRequest : public NtripLog {
public:
    NtripGetSourceListRequest();
    int GetType() const override { return NTRIP_GET_SOURCE_LIST_REQUEST; }
    Tarnek::LogRoot* Clone() const override;

    char gga[NTRIP_GGA_LEN + 1];  // value of the "Ntrip-GGA:" header
};

// A request the caster cannot serve; its login handler closes the channel.
class NtripUnknowLoginRequest : public NtripLog {
public:
    int GetType() const override { return NTRIP_UNKNOW_LOGIN_REQUEST; }
    Tarnek::LogRoot* Clone() const override;
};

// Copies at most width bytes of text (up to its first zero) into field, which
// has width + 1 bytes; the rest of the field is zeroed.
void CopyField(char* field, int width, const char* text, long length);

}  // namespace NtripDecoding
