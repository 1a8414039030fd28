#include "control/CtrlAlarm.h"

#include "caster/centre/TimeText.h"
#include "caster/centre/Vorlane.h"
#include "services/HttpPostThread.h"

#include <json/json.h>

#include <atomic>

namespace {

std::atomic<bool> g_alarmsEnabled{false};

}  // namespace

void CtrlAlarm_SetEnabled(const WarningConfig& applied)
{
    g_alarmsEnabled.store(applied.enableWarn == 1 && applied.url[0] != '\0');
}

std::string CtrlAlarm_BaseBody(bool timeout, const char* mountPoint, const char* timeText)
{
    Json::Value body(Json::objectValue);
    body["alarm"] = timeout ? "base_timeout" : "base_offline";
    body["mountpoint"] = mountPoint ? mountPoint : "";
    body["time"] = timeText ? timeText : "";
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, body);
}

void CtrlAlarm_BaseLeft(bool timeout, const char* mountPoint)
{
    Ntrip::Vorlane* center = GetCenter();
    HttpPostThread* worker = center ? center->httpPostThread : nullptr;
    // Not the warning record's lock: an apply may hold it while the worker's
    // client finishes a slow post, and the caster thread must never wait.
    if (!worker || !g_alarmsEnabled.load()) return;
    // A worker that cannot reach its endpoint must not grow the queue for ever.
    // (No log line: the caller may hold registry locks.)
    if (worker->QueuedCount() >= CTRL_ALARM_QUEUE_MAX) return;
    char now[32];
    GetTimeString(now, sizeof(now));
    worker->PushMsg(CtrlAlarm_BaseBody(timeout, mountPoint, now));
}
