// Management frames assembled byte by byte, with zlib as the independent
// reference for the frame CRC (register 0, not inverted: ~crc32(~0, ...)).
#pragma once

#include "support/HexBytes.h"

#include <google/protobuf/message.h>
#include <zlib.h>

#include <cstdint>
#include <string>

inline uint32_t ReferenceCrc(const unsigned char* data, size_t n)
{
    return ~static_cast<uint32_t>(crc32(0xFFFFFFFFul, data, static_cast<uInt>(n)));
}

inline void PutU32(Bytes* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A frame as a peer would write it; headerLength other than 29 and a
// bodyLength other than the body's size make broken frames.
inline Bytes ReferenceFrame(uint32_t type, int32_t id, const Bytes& body, uint8_t more = 0, uint32_t extra = 0,
                            uint32_t headerLength = 29, int64_t bodyLength = -1)
{
    Bytes f = {0xAA, 0x41, 0x13, 0x42};
    PutU32(&f, headerLength);
    PutU32(&f, bodyLength < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(bodyLength));
    PutU32(&f, static_cast<uint32_t>(id));
    PutU32(&f, type);
    f.push_back(more);
    PutU32(&f, extra);
    PutU32(&f, ReferenceCrc(f.data(), f.size()));
    f.insert(f.end(), body.begin(), body.end());
    PutU32(&f, ReferenceCrc(f.data(), f.size()));
    return f;
}

inline Bytes Serialized(const google::protobuf::Message& m)
{
    return BytesOf(m.SerializeAsString());
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
