#include "services/AlarmEvents.h"

#include "caster/centre/Vorlane.h"
#include "runtime/TimeText.h"
#include "services/AlarmPost.h"
#include "services/HttpPostThread.h"

#include <json/json.h>

#include <atomic>

namespace {

// Read on the caster thread instead of the warning record, whose lock an
// apply holds while it re-targets the worker.
std::atomic<bool> g_alarmsOn{false};

void Follow(const WarningConfig& record) { g_alarmsOn.store(record.enableWarn == 1 && record.url[0] != '\0'); }

}  // namespace

void AlarmEvents_Apply(const WarningConfig* config)
{
    if (!config) return;
    ApplyWarningConfig(config);
    WarningConfig applied;
    if (CopyWarningConfig(&applied)) Follow(applied);
}

void AlarmEvents_InitFromCentre()
{
    WarningConfig stored;
    if (CopyWarningConfig(&stored)) Follow(stored);
}

std::string AlarmEvents_BaseBody(bool timeout, const char* mountPoint, const char* timeText)
{
    Json::Value body(Json::objectValue);
    body["alarm"] = timeout ? "base_timeout" : "base_offline";
    body["mountpoint"] = mountPoint ? mountPoint : "";
    body["time"] = timeText ? timeText : "";
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, body);
}

void AlarmEvents_BaseLeft(bool timeout, const char* mountPoint)
{
    Ntrip::Vorlane* center = GetCenter();
    HttpPostThread* worker = center ? center->httpPostThread : nullptr;
    if (!worker || !g_alarmsOn.load()) return;
    // A worker that cannot reach its endpoint must not grow the queue for
    // ever. (No log line: the caller may hold registry locks.)
    if (worker->QueuedCount() >= ALARM_EVENTS_QUEUE_MAX) return;
    char now[32];
    GetTimeString(now, sizeof(now));
    worker->PushMsg(AlarmEvents_BaseBody(timeout, mountPoint, now));
}
