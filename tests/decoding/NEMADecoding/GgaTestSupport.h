// Builders of rover input for the GGA decoder tests: sentences with their
// checksum, AA 55 DD frames with their CRC-16 (computed here, bit by bit,
// not with the decoder's own table), and a feeder that drives the decoder
// the way the rover executor does.
#pragma once

#include "decoding/LogRoot.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "support/NmeaSentence.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace GgaTest {

inline std::string Bytes(const std::vector<int>& values)
{
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

// "$" + body + "*" + two hex digits of the XOR of the body.
inline std::string Sentence(const std::string& body, bool uppercase = true) { return NmeaSentence(body, uppercase); }

// CRC-16, polynomial 0x3D65, initial 0, most significant bit first.
inline uint16_t FrameCrc16(const std::string& bytes)
{
    uint16_t crc = 0;
    for (unsigned char c : bytes) {
        crc ^= static_cast<uint16_t>(c << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x3D65) : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

struct FrameFields {
    uint8_t byte3 = 0x11;
    uint16_t word4 = 0x2233;
    uint16_t word6 = 7;
    uint16_t word8 = 0x1234;
    uint8_t byte10 = 0x01;
    uint8_t byte11 = 0x81;
    uint8_t type = 1;
};

inline void PutWord(std::string* s, uint16_t v)
{
    s->push_back(static_cast<char>(v & 0xFF));
    s->push_back(static_cast<char>(v >> 8));
}

// One AA 55 DD frame around payload, CRC low byte first.
inline std::string Frame(const std::string& payload, const FrameFields& f = FrameFields())
{
    std::string s = Bytes({0xAA, 0x55, 0xDD});
    s.push_back(static_cast<char>(f.byte3));
    PutWord(&s, f.word4);
    PutWord(&s, f.word6);
    PutWord(&s, f.word8);
    s.push_back(static_cast<char>(f.byte10));
    s.push_back(static_cast<char>(f.byte11));
    PutWord(&s, static_cast<uint16_t>(payload.size()));
    s.push_back(static_cast<char>(f.type));
    s.append(5, '\0');
    s += payload;
    PutWord(&s, FrameCrc16(s));
    return s;
}

inline const NEMADecoding::NEMA_GPGGA* AsGga(const Tarnek::LogRoot* unit)
{
    return dynamic_cast<const NEMADecoding::NEMA_GPGGA*>(unit);
}

// What one decode call gave: whether a unit came, the bytes it took, the unit.
struct Decoded {
    bool got = false;
    size_t consumed = 0;
    std::unique_ptr<Tarnek::LogRoot> unit;
    const NEMADecoding::NEMA_GPGGA* gga() const { return AsGga(unit.get()); }
};

// Feeds the chunks one after another into a byte queue and decodes after
// each, as the rover executor does: decode, hand on the unit, drop the
// consumed bytes, again until nothing is consumed.
class Feeder {
public:
    explicit Feeder(DecodeFunc decode) : decode_(decode) {}

    void Push(const std::string& chunk)
    {
        queue_ += chunk;
        for (int guard = 0; guard < 100000 && !queue_.empty(); ++guard) {
            Tarnek::LogRoot* unit = nullptr;
            size_t consumed = 0;
            bool got = decode_(reinterpret_cast<const unsigned char*>(queue_.data()), queue_.size(), &unit, &consumed);
            if (got && unit) units_.emplace_back(unit);
            if (!got) delete unit;
            if (consumed == 0) break;
            queue_.erase(0, consumed < queue_.size() ? consumed : queue_.size());
        }
    }

    const std::vector<std::unique_ptr<Tarnek::LogRoot>>& Units() const { return units_; }
    const std::string& Queue() const { return queue_; }

private:
    DecodeFunc decode_;
    std::string queue_;
    std::vector<std::unique_ptr<Tarnek::LogRoot>> units_;
};

}  // namespace GgaTest
