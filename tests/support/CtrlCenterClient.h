// A control centre as an outside program: it builds and checks management
// frames itself (its own CRC-32 and protobuf wire encoding, nothing shared
// with the system), so the tests see the bytes a real peer sees.
//
// Frame: sync AA 41 13 42, header_length 29, body_length, id, type, more,
// extra, header CRC over bytes 0-24, body, frame CRC over header and body;
// little-endian. The CRC is the reflected 0x04C11DB7 table with register 0
// and no final inversion.
#pragma once

#include "support/TestClient.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace CtrlWire {

struct Crc32Table {
    uint32_t entry[256];
    Crc32Table()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[i] = c;
        }
    }
};

inline uint32_t Crc32(const std::string& bytes, size_t begin, size_t end)
{
    // A function-local static is built once, before any thread reads it,
    // however many clients check frames at once.
    static const Crc32Table table;
    uint32_t crc = 0;
    for (size_t i = begin; i < end; ++i) {
        crc = table.entry[(crc ^ static_cast<unsigned char>(bytes[i])) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

inline void PutU32(std::string* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline uint32_t GetU32(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// A frame with any header words; bodyLength overrides the true length when
// not negative (for a lying header).
inline std::string Frame(uint32_t type, int32_t id, const std::string& body, uint8_t more = 0, uint32_t extra = 0,
                         long long bodyLength = -1)
{
    std::string f = "\xAA\x41\x13\x42";
    PutU32(&f, 29);
    PutU32(&f, bodyLength < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(bodyLength));
    PutU32(&f, static_cast<uint32_t>(id));
    PutU32(&f, type);
    f.push_back(static_cast<char>(more));
    PutU32(&f, extra);
    PutU32(&f, Crc32(f, 0, 25));
    f += body;
    PutU32(&f, Crc32(f, 0, f.size()));
    return f;
}

// Protobuf wire encoding: varints and length-delimited fields.
class Pb {
public:
    Pb& Varint(int field, uint64_t v)
    {
        Key(field, 0);
        Raw(v);
        return *this;
    }
    Pb& Int(int field, int64_t v) { return Varint(field, static_cast<uint64_t>(v)); }
    Pb& Bytes(int field, const std::string& s)
    {
        Key(field, 2);
        Raw(s.size());
        out_ += s;
        return *this;
    }
    Pb& Message(int field, const Pb& m) { return Bytes(field, m.out_); }
    const std::string& Str() const { return out_; }

private:
    void Key(int field, int wire) { Raw((static_cast<uint64_t>(field) << 3) | static_cast<uint64_t>(wire)); }
    void Raw(uint64_t v)
    {
        while (v >= 0x80) {
            out_.push_back(static_cast<char>((v & 0x7F) | 0x80));
            v >>= 7;
        }
        out_.push_back(static_cast<char>(v));
    }
    std::string out_;
};

// A parsed message: every field's values in order (varints as numbers,
// length-delimited as bytes, 64-bit fixed fields as their bits). 32-bit
// fixed fields are skipped.
struct PbFields {
    std::map<int, std::vector<uint64_t>> ints;
    std::map<int, std::vector<std::string>> bytes;
    std::map<int, std::vector<uint64_t>> fixed64;
    bool ok = true;

    // A double field (wire type 1); 0 when absent.
    double Double(int field) const
    {
        auto it = fixed64.find(field);
        if (it == fixed64.end() || it->second.empty()) return 0;
        double d;
        uint64_t bits = it->second.back();
        memcpy(&d, &bits, sizeof d);
        return d;
    }

    int64_t Int(int field) const
    {
        auto it = ints.find(field);
        return it == ints.end() || it->second.empty() ? 0 : static_cast<int64_t>(it->second.back());
    }
    std::string Text(int field) const
    {
        auto it = bytes.find(field);
        return it == bytes.end() || it->second.empty() ? "" : it->second.back();
    }
    std::vector<std::string> All(int field) const
    {
        auto it = bytes.find(field);
        return it == bytes.end() ? std::vector<std::string>() : it->second;
    }
    bool Has(int field) const { return ints.count(field) || bytes.count(field); }
};

inline PbFields ParsePb(const std::string& s)
{
    PbFields f;
    size_t at = 0;
    auto varint = [&](uint64_t* v) {
        *v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= s.size()) return false;
            unsigned char b = static_cast<unsigned char>(s[at++]);
            *v |= static_cast<uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    };
    while (at < s.size()) {
        uint64_t key = 0, v = 0;
        if (!varint(&key)) return f.ok = false, f;
        int field = static_cast<int>(key >> 3);
        switch (key & 7) {
        case 0:
            if (!varint(&v)) return f.ok = false, f;
            f.ints[field].push_back(v);
            break;
        case 1:
            if (at + 8 > s.size()) return f.ok = false, f;
            v = 0;
            for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
            f.fixed64[field].push_back(v);
            at += 8;
            break;
        case 2:
            if (!varint(&v) || at + v > s.size()) return f.ok = false, f;
            f.bytes[field].push_back(s.substr(at, v));
            at += v;
            break;
        case 5:
            at += 4;
            break;
        default:
            return f.ok = false, f;
        }
    }
    return f;
}

struct Received {
    uint32_t type = 0;
    int32_t id = 0;
    uint8_t more = 0;
    std::string body;
    std::string raw;  // the whole frame
};

}  // namespace CtrlWire

class CtrlCenterClient {
public:
    static const uint32_t HEARTBEAT = 2011;

    bool Connect(int port) { return client_.Connect(port); }
    void Close() { client_.Close(); }
    bool Send(const std::string& bytes) { return client_.Send(bytes); }
    bool Request(uint32_t type, int32_t id, const CtrlWire::Pb& body)
    {
        return client_.Send(CtrlWire::Frame(type, id, body.Str()));
    }

    // The next whole frame within timeoutMs, its CRCs checked; false on time-
    // out, close or a bad frame (which fails the check of the caller).
    bool Next(CtrlWire::Received* out, int timeoutMs)
    {
        std::string head = client_.ReadExactly(29, timeoutMs);
        if (head.size() < 29) return false;
        if (head.compare(0, 4, "\xAA\x41\x13\x42") != 0 || CtrlWire::GetU32(head, 4) != 29 ||
            CtrlWire::GetU32(head, 25) != CtrlWire::Crc32(head, 0, 25)) {
            badFrame_ = true;
            return false;
        }
        uint32_t n = CtrlWire::GetU32(head, 8);
        std::string rest = client_.ReadExactly(n + 4, timeoutMs);
        if (rest.size() < n + 4) return false;
        std::string raw = head + rest;
        if (CtrlWire::GetU32(raw, 29 + n) != CtrlWire::Crc32(raw, 0, 29 + n)) {
            badFrame_ = true;
            return false;
        }
        out->type = CtrlWire::GetU32(raw, 16);
        out->id = static_cast<int32_t>(CtrlWire::GetU32(raw, 12));
        out->more = static_cast<uint8_t>(raw[20]);
        out->body = raw.substr(29, n);
        out->raw = raw;
        return true;
    }

    // The next frame that wanted(type) accepts, passing over the others.
    template <typename Wanted>
    bool NextWhere(CtrlWire::Received* out, int timeoutMs, Wanted wanted)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count());
            if (left <= 0 || !Next(out, left)) return false;
            if (wanted(out->type)) return true;
        }
    }

    // The next frame that is not a heartbeat.
    bool NextNonHeartbeat(CtrlWire::Received* out, int timeoutMs)
    {
        return NextWhere(out, timeoutMs, [](uint32_t type) { return type != HEARTBEAT; });
    }

    // The next reply: heartbeats and notifications (types 2000 and up) are
    // passed over.
    bool NextReply(CtrlWire::Received* out, int timeoutMs)
    {
        return NextWhere(out, timeoutMs, [](uint32_t type) { return type < 2000; });
    }

    // Skips frames until one of the type arrives.
    bool WaitFor(uint32_t type, CtrlWire::Received* out, int timeoutMs)
    {
        return NextWhere(out, timeoutMs, [type](uint32_t t) { return t == type; });
    }

    // Login (type 1) with LoginRequest {login_name, login_password}: the ack.
    int Login(const std::string& name, const std::string& password, int32_t id = 1)
    {
        Request(1, id, CtrlWire::Pb().Bytes(1, name).Bytes(2, password));
        CtrlWire::Received r;
        if (!NextNonHeartbeat(&r, 3000) || r.type != 1001) return -1;
        return static_cast<int>(CtrlWire::ParsePb(r.body).Int(1));
    }

    bool BadFrameSeen() const { return badFrame_; }
    TestClient& Raw() { return client_; }

private:
    TestClient client_;
    bool badFrame_ = false;
};
