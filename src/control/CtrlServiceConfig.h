// The mapping between the caster's service settings and their message.
#pragma once

#include "config/ConfigRecords.h"

namespace ServiceOpMsg {
class ConfigServiceInfo;
}

// Record into message: protocol and login modes only when they hold a value
// the message knows, the on/off settings as 1 only when exactly 1.
void NtripServerConfigToConfigServiceInfo(const NtripServerConfig* record, ServiceOpMsg::ConfigServiceInfo* info);
// Message into record (ip and rover_distance_limit untouched): protocol 2
// only when asked for, every mode and switch 1 only when exactly 1.
void ConfigServiceInfoToNtripServerConfig(const ServiceOpMsg::ConfigServiceInfo& info, NtripServerConfig* record);
