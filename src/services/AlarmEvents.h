// The events the alarm-post worker reports: a base that went offline or was
// closed for silence, one JSON body each, queued only while the warning
// configuration in force enables warnings and names a url.
#pragma once

#include "config/ConfigRecords.h"

#include <cstddef>
#include <string>

// ApplyWarningConfig, then alarms follow the applied record.
void AlarmEvents_Apply(const WarningConfig* config);
// Alarms follow the record the centre was created with.
void AlarmEvents_InitFromCentre();

// {"alarm": "base_offline" | "base_timeout", "mountpoint": ..., "time": ...}.
std::string AlarmEvents_BaseBody(bool timeout, const char* mountPoint, const char* timeText);

// Queues the alarm of a base that left, when alarms are on and fewer than
// ALARM_EVENTS_QUEUE_MAX bodies wait. Only queues, and takes no lock that
// waits on a post: the caster calls it with registry locks held.
void AlarmEvents_BaseLeft(bool timeout, const char* mountPoint);

static const size_t ALARM_EVENTS_QUEUE_MAX = 1000;
