// The management frames of a base logged in under the mount point "PPP-RTK":
// station reports (44), their removal (45) and client-information updates
// (43) keep the PPP-RA table up to date, and each is answered on the base's
// own caster connection with a frame of id 1.
#pragma once

#include "decoding/LogRoot.h"

#include <cstdint>
#include <vector>

struct DecodeExecutor;
struct PppRaTable;

namespace RVZ {
class RVZProtoMsg;
}
namespace UpdClientInfoMsg {
class ClientInfoRequest;
}
namespace PPPRAInfoMsg {
class PPPRAStationRequest;
}
namespace Ntrip {
struct Vorlane;

// The handle function of the "PPP-RTK" executor: runs the unit against the
// centre's PPP-RA table, posts the reply (if any) to channelID on the
// caster's server and deletes the unit. Always true.
bool PppRtkDecodeExecute(Tarnek::LogRoot** unit, uint64_t channelID);

}  // namespace Ntrip

// Frame id of every reply to the "PPP-RTK" base, whatever the request's id.
static const int32_t PPPRTK_REPLY_ID = 1;

// The "PPP-RTK" executor: one worker, frames found with ScanFrame. The
// centre's creation step (through its service hooks).
DecodeExecutor* PppRtk_CreateExecutor(Ntrip::Vorlane* center);
// The empty PPP-RA table of the centre (service hook).
PppRaTable* PppRtk_CreateTable();

// One unit against table. True when it is answered: *reply then holds the
// whole reply frame. Units of other types or with a list that does not hold
// exactly one element are not answered.
bool PppRtk_Handle(PppRaTable* table, const RVZ::RVZProtoMsg* unit, std::vector<unsigned char>* reply);

// The three requests: 43 updates a known station (1044 whatever came of it),
// 44 adds or replaces one (1045 only when stored: a new station past the
// table's cap is not), 45 removes one (1046 only when it existed).
bool RequestProcess_UpdClientInfo(PppRaTable* table, const UpdClientInfoMsg::ClientInfoRequest& request,
                                  std::vector<unsigned char>* reply);
bool RequestProcess_PPPRAStationInfo(PppRaTable* table, const PPPRAInfoMsg::PPPRAStationRequest& request,
                                     std::vector<unsigned char>* reply);
bool RequestProcess_PPPRAStationRemove(PppRaTable* table, const PPPRAInfoMsg::PPPRAStationRequest& request,
                                       std::vector<unsigned char>* reply);
