#include "control/MessageTypeTable.h"

#include "control/LooseTextParse.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypes.h"

#include "VIVOProtoDecoding/CommonMsg.pb.h"
#include "VIVOProtoDecoding/LoginMsg.pb.h"
#include "VIVOProtoDecoding/PPPRAInfoMsg.pb.h"
#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"
#include "VIVOProtoDecoding/StationInfoMsg.pb.h"
#include "VIVOProtoDecoding/UpdClientInfoMsg.pb.h"
#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <climits>

namespace {

template <class M>
google::protobuf::Message* NewBody()
{
    return new M;
}

const FrameIdRule REQ = FRAME_ID_NOT_NEGATIVE;
const FrameIdRule NOTIFY = FRAME_ID_NOTIFY_ONLY;
const FrameIdRule ANY = FRAME_ID_ANY;
const FrameHeaderWords NONE = FRAME_WORDS_NONE;
const FrameHeaderWords MORE = FRAME_WORDS_MORE;
const FrameHeaderWords MORE_EXTRA = FRAME_WORDS_MORE_EXTRA;

// Function pointers only: the table is constant-initialised, so it is
// usable before the generated code's own start-up has run.
const MessageTypeEntry kTable[] = {
    // Requests.
    {0, 0, NewBody<CommonMsg::MessageBody>, REQ, NONE, 1000},
    {1, 1, NewBody<LoginMsg::LoginRequest>, REQ, NONE, 1001},
    {2, 2, NewBody<LoginMsg::LoginRequest>, REQ, NONE, 1001},
    {3, 3, NewBody<StationInfoMsg::BaseStationInfoRequest>, REQ, NONE, 1003},
    {4, 4, NewBody<StationInfoMsg::PageOfBaseStationInfoRequest>, REQ, NONE, 1004},
    {5, 5, NewBody<StationInfoMsg::RoverStationInfoRequest>, REQ, NONE, 1005},
    {6, 6, NewBody<StationInfoMsg::PageOfRoverStationInfoRequest>, REQ, NONE, 1006},
    {7, 7, NewBody<StationInfoMsg::BaseStationInfoRequest>, REQ, NONE, 1007},
    {8, 8, NewBody<StationInfoMsg::BaseStationInfoRequest>, REQ, NONE, 1008},
    {9, 9, NewBody<StationInfoMsg::RoverStationInfoRequest>, REQ, NONE, 1009},
    {10, 10, NewBody<StationInfoMsg::BaseStationInfoRequest>, REQ, NONE, 1010},
    {11, 11, NewBody<UserOpMsg::UserOpRequest>, REQ, NONE, 1011},
    {12, 12, NewBody<UserOpMsg::UserOpRequest>, REQ, NONE, 1012},
    {13, 13, NewBody<UserOpMsg::UserOpRequest>, REQ, NONE, 1013},
    {14, 14, NewBody<UserOpMsg::UserOpRequest>, REQ, NONE, 1014},
    {15, 15, NewBody<UserOpMsg::PageOfUserInfoRequest>, REQ, NONE, 1015},
    {16, 16, NewBody<ServiceOpMsg::ConfigServiceRequest>, REQ, NONE, 1016},
    {17, 17, NewBody<ServiceOpMsg::ConfigServiceRequest>, REQ, NONE, 1017},
    {18, 18, NewBody<ServiceOpMsg::ConfigServiceRequest>, REQ, NONE, -1},
    {21, 21, NewBody<ServiceOpMsg::ConfigServiceRequest>, REQ, NONE, 1020},
    {22, 22, NewBody<UpdClientInfoMsg::pageofClientInfoRequest>, REQ, NONE, -1},
    {23, 28, NewBody<UpdClientInfoMsg::ClientInfoRequest>, REQ, NONE, -1},
    {29, 29, NewBody<UpdClientInfoMsg::GetUpdCalculateParaRequest>, REQ, NONE, -1},
    {30, 30, NewBody<UpdClientInfoMsg::SaveUpdCalculateParaRequest>, REQ, NONE, -1},
    {31, 31, NewBody<UpdClientInfoMsg::RestartUpdServerRequest>, REQ, NONE, -1},
    {32, 32, NewBody<PPPRAInfoMsg::PPPRApageofStationInfoRequest>, REQ, NONE, -1},
    {33, 33, NewBody<PPPRAInfoMsg::PPPRApageofUserInfoRequest>, REQ, NONE, -1},
    {34, 41, NewBody<PPPRAInfoMsg::PPPRAStationRequest>, REQ, NONE, -1},
    {42, 42, NewBody<StationInfoMsg::RoverStationInfoRequest>, REQ, NONE, -1},
    {43, 43, NewBody<UpdClientInfoMsg::ClientInfoRequest>, REQ, NONE, 1044},
    {44, 44, NewBody<PPPRAInfoMsg::PPPRAStationRequest>, REQ, NONE, 1045},
    // The removal names its station the way the upsert does: one request
    // class for both, so one handler reads either.
    {45, 45, NewBody<PPPRAInfoMsg::PPPRAStationRequest>, REQ, NONE, 1046},
    {46, 46, NewBody<ServiceOpMsg::WarnConfigRequest>, REQ, NONE, 1021},
    {47, 47, NewBody<ServiceOpMsg::WarnConfigRequest>, REQ, NONE, 1022},

    // Replies: decodable, never acted on.
    {1000, 1000, NewBody<CommonMsg::MessageBody>, REQ, NONE, -1},
    {1001, 1001, NewBody<LoginMsg::LoginResponse>, REQ, NONE, -1},
    {1003, 1004, NewBody<StationInfoMsg::BaseStationInfoResponse>, REQ, MORE_EXTRA, -1},
    {1005, 1006, NewBody<StationInfoMsg::RoverStationInfoResponse>, REQ, MORE_EXTRA, -1},
    {1007, 1008, NewBody<StationInfoMsg::BaseStationInfoResponse>, REQ, NONE, -1},
    {1009, 1009, NewBody<StationInfoMsg::RoverStationInfoResponse>, REQ, NONE, -1},
    {1010, 1010, NewBody<StationInfoMsg::BaseStationInfoResponse>, REQ, NONE, -1},
    {1011, 1014, NewBody<UserOpMsg::UserOpResponse>, REQ, NONE, -1},
    {1015, 1015, NewBody<UserOpMsg::PageOfUserInfoResponse>, REQ, MORE_EXTRA, -1},
    {1016, 1017, NewBody<ServiceOpMsg::ConfigServiceResponse>, REQ, NONE, -1},
    {1020, 1020, NewBody<ServiceOpMsg::ConfigServiceResponse>, REQ, NONE, -1},
    {1021, 1022, NewBody<ServiceOpMsg::WarnConfigResponse>, REQ, NONE, -1},
    {1023, 1029, NewBody<UpdClientInfoMsg::ClientInfoResponse>, REQ, MORE, -1},
    {1030, 1030, NewBody<UpdClientInfoMsg::GetUpdCalculateParaResponse>, REQ, MORE, -1},
    {1031, 1031, NewBody<UpdClientInfoMsg::SaveUpdCalculateParaResponse>, REQ, MORE, -1},
    {1032, 1032, NewBody<UpdClientInfoMsg::RestartUpdServerResponse>, REQ, MORE, -1},
    {1033, 1033, NewBody<PPPRAInfoMsg::PPPRAStationInfoResponse>, REQ, MORE, -1},
    {1034, 1042, NewBody<PPPRAInfoMsg::PPPRAUserInfoResponse>, REQ, MORE, -1},
    {1043, 1043, NewBody<StationInfoMsg::RoverStationInfoResponse>, REQ, MORE_EXTRA, -1},
    {1044, 1044, NewBody<UpdClientInfoMsg::ClientInfoResponse>, REQ, MORE, -1},
    {1045, 1046, NewBody<PPPRAInfoMsg::PPPRAStationInfoResponse>, REQ, MORE, -1},

    // Notifications.
    {2000, 2000, NewBody<StationInfoMsg::BaseStationInfoResponse>, NOTIFY, NONE, -1},
    {2002, 2003, NewBody<StationInfoMsg::BaseStationInfoResponse>, NOTIFY, NONE, -1},
    {2004, 2005, NewBody<StationInfoMsg::RoverStationInfoResponse>, NOTIFY, NONE, -1},
    {2009, 2009, NewBody<UserOpMsg::UserOpResponse>, ANY, NONE, -1},
    {2010, 2010, NewBody<UpdClientInfoMsg::UpdLogInfoNotify>, ANY, NONE, -1},
    {2011, 2011, NewBody<ServiceOpMsg::ServiceStatusMsg>, ANY, NONE, -1},
};

const size_t kTableSize = sizeof(kTable) / sizeof(kTable[0]);

bool IdAccepted(FrameIdRule rule, int32_t id)
{
    switch (rule) {
    case FRAME_ID_NOT_NEGATIVE: return id >= 0;
    case FRAME_ID_NOTIFY_ONLY: return id == FRAME_ID_NOTIFY;
    case FRAME_ID_ANY: return true;
    }
    return false;
}

// The requests whose handlers answer a text that is not UTF-8 with a refusal:
// adding and modifying an account.
bool RefusesBadText(uint32_t type) { return type == MSG_ADD_USER_REQUEST || type == MSG_MODIFY_USER_REQUEST; }

}  // namespace

const MessageTypeEntry* MessageType_Find(uint32_t type)
{
    for (size_t i = 0; i < kTableSize; ++i) {
        if (type < kTable[i].first) return nullptr;  // rows are sorted
        if (type <= kTable[i].last) return &kTable[i];
    }
    return nullptr;
}

void MessageType_RegisterDescriptors()
{
    for (const MessageTypeEntry& entry : kTable) {
        google::protobuf::Message* body = entry.newBody();
        body->GetDescriptor();
        body->GetReflection();
        delete body;
    }
}

const MessageTypeEntry* MessageType_Entries(size_t* count)
{
    if (count) *count = kTableSize;
    return kTable;
}

RVZ::RVZProtoMsg* DecodeBody(const unsigned char* frame, uint32_t bodyLength)
{
    if (!frame || bodyLength > INT_MAX) return nullptr;
    FrameHeader header = ReadFrameHeader(frame);
    const MessageTypeEntry* entry = MessageType_Find(header.type);
    // The id rule comes first, before anything is allocated.
    if (!entry || !IdAccepted(entry->idRule, header.id)) return nullptr;

    google::protobuf::Message* body = entry->newBody();
    bool textNotUtf8 = false;
    if (!body->ParseFromArray(frame + FRAME_HEADER_LENGTH, static_cast<int>(bodyLength))) {
        // An account whose text is not UTF-8 goes on, marked, so that it is
        // refused with its ack instead of going unanswered.
        body->Clear();
        bool marked = RefusesBadText(header.type) &&
                      LooseText_Parse(frame + FRAME_HEADER_LENGTH, bodyLength, body, &textNotUtf8) && textNotUtf8;
        if (!marked) {
            delete body;
            return nullptr;
        }
    }
    // Fields this system does not know are not carried on into copies.
    body->DiscardUnknownFields();

    RVZ::RVZProtoMsg* unit = new RVZ::RVZProtoMsg;
    unit->body = body;
    unit->type = header.type;
    unit->id = header.id;
    unit->textNotUtf8 = textNotUtf8;
    if (entry->words != FRAME_WORDS_NONE) unit->more = header.more;
    if (entry->words == FRAME_WORDS_MORE_EXTRA) unit->extra = header.extra;
    return unit;
}
