#include "control/StationItems.h"

#include "VIVOProtoDecoding/StationInfoMsg.pb.h"
#include "runtime/Utf8Text.h"

namespace {

// A base's input rate counts while it sent within the last 6 s, a rover's
// output rate while it was written to within the last 5 s.
const int64_t BASE_RATE_FRESH_S = 6;
const int64_t ROVER_RATE_FRESH_S = 5;

uint32_t Unsigned(int64_t v) { return v > 0 ? static_cast<uint32_t>(v) : 0; }

}  // namespace

void StationItem_FromBase(const BaseSnapshot& s, int64_t now, StationInfoMsg::BaseStationInfo* item)
{
    const BaseRecord& b = s.base;
    item->set_id(b.sequence);
    item->set_access_point(Utf8_Clean(b.mountPoint));
    item->set_diff_format(Utf8_Clean(b.format));
    if (s.hasConn) {
        if (now - s.conn.lastActivity < BASE_RATE_FRESH_S) item->set_recv_speed(Unsigned(s.conn.inputRate));
        item->set_cumulative_data(s.conn.bytesReceived);
    }
    item->set_online_status(Unsigned(b.state));
    if (b.state == BASE_STATE_ONLINE) item->set_cumulative_time(Unsigned(now - b.loginTime));
    StationInfoMsg::BLH* blh = item->mutable_base_station_blh();
    blh->set_b(b.latitude);
    blh->set_l(b.longitude);
    blh->set_h(b.height);
    item->set_rover_station_num(Unsigned(b.roverCount));
    item->set_online_time(Utf8_Clean(b.loginTimeText));
    item->set_ip(Utf8_Clean(b.ip));
    item->set_port(Unsigned(b.port));
}

void StationItem_FromRover(const RoverSnapshot& s, int64_t now, bool withMotion, StationInfoMsg::RoverStationInfo* item)
{
    const RoverRecord& r = s.rover;
    item->set_id(r.sequence);
    item->set_rover_station_name(Utf8_Clean(r.userName));
    item->set_access_point(Utf8_Clean(r.mountPoint));
    item->set_station_name(Utf8_Clean(s.servingBase));
    StationInfoMsg::BLH* base = item->mutable_base_station_blh();
    if (s.servingOnline) {
        item->set_diff_format(Utf8_Clean(s.servingFormat));
        base->set_b(s.servingLatitude);
        base->set_l(s.servingLongitude);
        base->set_h(s.servingHeight);
    }
    if (s.hasConn) {
        if (now - s.conn.lastActivity <= ROVER_RATE_FRESH_S) item->set_send_speed(Unsigned(s.conn.outputRate));
        item->set_cumulative_data(s.conn.bytesSent);
    }
    item->set_cumulative_time(Unsigned(now - r.loginTime));
    StationInfoMsg::BLH* own = item->mutable_rover_station_blh();
    own->set_b(r.latitude);
    own->set_l(r.longitude);
    own->set_h(r.height);
    item->set_online_time(Utf8_Clean(r.loginTimeText));
    item->set_ip(Utf8_Clean(r.ip));
    item->set_port(Unsigned(r.port));
    item->set_gps_status(r.fixQuality);
    StationInfoMsg::GpsTime* t = item->mutable_gps_time();
    t->set_year(Unsigned(r.ggaTime.year));
    t->set_month(Unsigned(r.ggaTime.month));
    t->set_day(Unsigned(r.ggaTime.day));
    t->set_hour(Unsigned(r.ggaTime.hour));
    t->set_minute(Unsigned(r.ggaTime.minute));
    t->set_second(r.ggaTime.second);
    item->set_used_sat_num(r.satellites);
    if (withMotion) {
        item->set_diff_time(r.diffAge);
        item->set_distance(r.distance);
        item->set_speed(r.speed);
    }
}
