// Fuzzes the base position decoder: raw bytes, and the same bytes cut into
// 1005/1006 frames with a valid CRC-24Q (so that arbitrary coordinates,
// the earth's centre included, reach the conversion), whole and in chunks.
#include "FuzzDriver.h"

#include "decoding/RTCMDecoding/Crc24q.h"
#include "decoding/RTCMDecoding/RtcmDecode.h"

#include <cmath>
#include <vector>

namespace {

void CheckUnit(const Tarnek::LogRoot* unit)
{
    const RTCMDecoding::RTCM3Log_1005* p = dynamic_cast<const RTCMDecoding::RTCM3Log_1005*>(unit);
    FuzzDriver::Require(p != nullptr);
    FuzzDriver::Require(p->GetKind() == Tarnek::LOG_KIND_RTCM3 && p->GetType() == 0);
    FuzzDriver::Require(std::isfinite(p->latitude) && std::isfinite(p->longitude) && std::isfinite(p->height));
    FuzzDriver::Require(std::fabs(p->latitude) <= 90.0 + 1e-9 && std::fabs(p->longitude) <= 180.0 + 1e-9);
}

// Slices of the input as station frames, with a byte of the input between.
std::vector<unsigned char> AsFrames(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> out;
    size_t i = 0;
    while (i < size) {
        bool is1006 = data[i] & 1;
        size_t body = is1006 ? 24 : 22;  // header and payload
        std::vector<unsigned char> frame(body, 0);
        for (size_t k = 0; k < body && i + k < size; ++k) frame[k] = data[i + k];
        frame[0] = 0xD3;
        frame[3] = 0x3E;                                                               // 1005 = 0x3ED
        frame[4] = static_cast<unsigned char>((is1006 ? 0xE0 : 0xD0) | (frame[4] & 0x0F));  // 1006 = 0x3EE
        uint32_t crc = RTCMDecoding::Crc24q(frame.data(), frame.size());
        frame.push_back(static_cast<unsigned char>(crc >> 16));
        frame.push_back(static_cast<unsigned char>(crc >> 8));
        frame.push_back(static_cast<unsigned char>(crc));
        out.insert(out.end(), frame.begin(), frame.end());
        i += body;
        if (i < size) out.push_back(data[i++]);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzDriver::InitLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDriver::DriveAll(RTCMDecoding::RtcmDecode, data, size, CheckUnit);
    std::vector<unsigned char> frames = AsFrames(data, size);
    FuzzDriver::DriveAll(RTCMDecoding::RtcmDecode, frames.data(), frames.size(), CheckUnit);
    return 0;
}
