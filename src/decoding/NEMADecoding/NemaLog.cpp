#include "decoding/NEMADecoding/NemaLog.h"

#include <cstring>
#include <new>

namespace NEMADecoding {

void GnssTime_Init(GnssTime* time)
{
    if (!time) return;
    time->year = 1980;
    time->month = 1;
    time->day = 6;
    time->hour = 0;
    time->minute = 0;
    time->second = 0.0;
}

NEMA_GPGGA::NEMA_GPGGA()
    : latitude(0.0),
      longitude(0.0),
      fixQuality(-1),
      satellites(0),
      hdop(0.0),
      altitude(0.0),
      geoidSeparation(0.0),
      differentialAge(0.0),
      stationId(0),
      framePayloadLength(0)
{
    GnssTime_Init(&time);
    memset(rawSentence, 0, sizeof(rawSentence));
    memset(&frameHeader, 0, sizeof(frameHeader));
}

size_t NEMA_GPGGA::SentenceLength() const
{
    size_t length = strnlen(rawSentence, sizeof(rawSentence));
    const char* star = static_cast<const char*>(memchr(rawSentence, '*', length));
    if (!star) return 0;
    size_t end = static_cast<size_t>(star - rawSentence) + 3;
    return end <= length ? end : 0;
}

Tarnek::LogRoot* NEMA_GPGGA::Clone() const
{
    return new (std::nothrow) NEMA_GPGGA(*this);
}

}  // namespace NEMADecoding
