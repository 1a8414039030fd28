#include "decoding/RTCMDecoding/RtcmLog.h"

#include <new>

namespace RTCMDecoding {

Tarnek::LogRoot* RTCM3Log_1005::Clone() const
{
    return new (std::nothrow) RTCM3Log_1005(*this);
}

}  // namespace RTCMDecoding
