// The alarms the alarm-post worker sends: a base that went offline or was
// closed for silence, as one JSON body each, queued only while warnings are
// enabled.
#pragma once

#include "config/ConfigRecords.h"

#include <cstddef>
#include <string>

// Follows each applied warning configuration: alarms are queued while it
// enables warnings and names a url.
void CtrlAlarm_SetEnabled(const WarningConfig& applied);

// {"alarm": "base_offline" | "base_timeout", "mountpoint": ..., "time": ...}.
std::string CtrlAlarm_BaseBody(bool timeout, const char* mountPoint, const char* timeText);

// Queues the alarm of a base that left when warnings are enabled and fewer
// than CTRL_ALARM_QUEUE_MAX bodies wait. Only queues: registry locks may be held.
void CtrlAlarm_BaseLeft(bool timeout, const char* mountPoint);

static const size_t CTRL_ALARM_QUEUE_MAX = 1000;
