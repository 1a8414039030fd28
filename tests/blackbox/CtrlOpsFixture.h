// The stories of the control centre's base, rover and user operations: a
// logged-in centre that asks for lists (several frames each), and the field
// numbers of the station and user messages it reads and writes.
#pragma once

#include "blackbox/CtrlFixture.h"

#include <string>
#include <vector>

namespace CtrlOps {

// StationInfoMsg.
enum {
    ITEM_ID = 1,
    BASE_FORMAT = 3,         // BaseStationInfo.diff_format
    BASE_BLH = 9,            // BaseStationInfo.base_station_blh
    TOTAL_COUNT = 3,         // *StationInfoResponse.total_count
    ROVER_FORMAT = 4,        // RoverStationInfo.diff_format
    ROVER_BASE_BLH = 8,      // RoverStationInfo.base_station_blh
    ROVER_STATION_NAME = 22, // RoverStationInfo.station_name
    BLH_B = 1,
};

// UserOpMsg.UserInfo and its replies.
enum {
    USER_ID = 1,
    USER_TYPE = 2,
    USER_NAME = 3,
    USER_PASSWORD = 4,
    USER_CONTACT = 5,
    USER_EXPIRY = 12,
    USER_ITEMS_REQUEST = 1,  // UserOpRequest.user_info
    USER_ITEMS_REPLY = 2,    // UserOpResponse.user_info
};

// A BaseStationInfoRequest naming one base (7, 8, 10), or none (3).
inline CtrlWire::Pb BaseRequest(const std::string& mount = "", uint32_t id = 0)
{
    CtrlWire::Pb body;
    if (!mount.empty() || id) body.Message(2, CtrlWire::Pb().Varint(1, id).Bytes(2, mount));
    return body;
}

// A RoverStationInfoRequest naming one rover (9), or none (5).
inline CtrlWire::Pb RoverRequest(const std::string& user = "", const std::string& mount = "", uint32_t id = 0)
{
    CtrlWire::Pb body;
    if (!user.empty()) body.Message(2, CtrlWire::Pb().Varint(1, id).Bytes(2, user).Bytes(3, mount));
    return body;
}

// PageOfBaseStationInfoRequest / PageOfRoverStationInfoRequest.
inline CtrlWire::Pb PageRequest(int start, int count, const std::string& base = "", const std::string& rover = "")
{
    CtrlWire::Pb body;
    body.Int(1, start).Int(2, count);
    if (!base.empty()) body.Bytes(3, base);
    if (!rover.empty()) body.Bytes(4, rover);
    return body;
}

// One UserInfo of a UserOpRequest.
inline CtrlWire::Pb UserItem(uint32_t id, int type, const std::string& name, const std::string& password,
                             const std::string& contact = "")
{
    CtrlWire::Pb item;
    if (id) item.Varint(USER_ID, id);
    if (type) item.Int(USER_TYPE, type);
    if (!name.empty()) item.Bytes(USER_NAME, name);
    if (!password.empty()) item.Bytes(USER_PASSWORD, password);
    if (!contact.empty()) item.Bytes(USER_CONTACT, contact);
    if (type == 3) item.Bytes(USER_EXPIRY, "2099/12/31 23:59:59");
    return item;
}

inline CtrlWire::Pb UserRequest(const std::vector<CtrlWire::Pb>& items)
{
    CtrlWire::Pb body;
    for (const CtrlWire::Pb& item : items) body.Message(USER_ITEMS_REQUEST, item);
    return body;
}

// Whether text is well-formed UTF-8 (what a protobuf peer's parser demands
// of a string field).
inline bool IsUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        if (n == 0 || i + n > text.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

}  // namespace CtrlOps

class CtrlOpsTest : public CtrlTest {
protected:
    // Sends the request and collects the frames of its reply, up to the one
    // with more = 0. Every frame must be of replyType and carry the id.
    std::vector<CtrlWire::Received> List(CtrlCenterClient* c, uint32_t type, uint32_t replyType, int32_t id,
                                         const CtrlWire::Pb& body)
    {
        std::vector<CtrlWire::Received> frames;
        c->Request(type, id, body);
        CtrlWire::Received r;
        while (frames.size() < 1000 && c->NextReply(&r, CtrlTexts::kReplyMs)) {
            EXPECT_EQ(r.type, replyType);
            EXPECT_EQ(r.id, id);
            frames.push_back(r);
            if (r.more == 0) break;
        }
        EXPECT_FALSE(frames.empty()) << "no answer to type " << type;
        if (!frames.empty()) {
            EXPECT_EQ(frames.back().more, 0) << "the list never ended";
        }
        return frames;
    }

    // The items of every frame, in order.
    static std::vector<CtrlWire::PbFields> Items(const std::vector<CtrlWire::Received>& frames)
    {
        std::vector<CtrlWire::PbFields> items;
        for (const CtrlWire::Received& f : frames) {
            CtrlWire::PbFields body = CtrlWire::ParsePb(f.body);
            EXPECT_TRUE(body.ok);
            for (const std::string& item : body.All(CtrlTexts::STATION_ITEMS)) items.push_back(CtrlWire::ParsePb(item));
        }
        return items;
    }

    static std::vector<std::string> Texts(const std::vector<CtrlWire::PbFields>& items, int field)
    {
        std::vector<std::string> out;
        for (const CtrlWire::PbFields& item : items) out.push_back(item.Text(field));
        return out;
    }

    // One reply to a request, or a reply of type 0 when none came.
    CtrlWire::Received Ask(CtrlCenterClient* c, uint32_t type, int32_t id, const CtrlWire::Pb& body)
    {
        c->Request(type, id, body);
        CtrlWire::Received r;
        if (!c->NextReply(&r, CtrlTexts::kReplyMs)) r = CtrlWire::Received();
        return r;
    }
};
