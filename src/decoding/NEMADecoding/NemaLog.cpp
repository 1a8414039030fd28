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

Tarnek::LogRoot* NEMA_GPGGA::Clone() const
{
    return new (std::nothrow) NEMA_GPGGA(*this);
}

}  // namespace NEMADecoding
