#include "services/AlarmPost.h"

#include "caster/centre/Vorlane.h"
#include "runtime/Log.h"
#include "services/HttpPostThread.h"

#include <cstring>
#include <mutex>
#include <new>

namespace {

// Serializes the applies of two control connections and the readers of the record.
std::mutex g_warningMutex;

}  // namespace

void ApplyWarningConfigTo(HttpPostThread* worker, WarningConfig* stored, const WarningConfig* config)
{
    WarningConfig record = *config;
    record.url[sizeof(record.url) - 1] = '\0';
    worker->Pause();
    if (strcmp(record.url, stored->url) != 0) worker->SetUrl(record.url);
    *stored = record;
    if (record.enableWarn != 1) return;
    if (!worker->IsRunning()) worker->Start();
    // A fresh worker starts paused by the step above; enabled warnings call
    // for one that posts.
    worker->Resume();
}

HttpPostThread* AlarmPost_Create()
{
    HttpPostThread* worker = new (std::nothrow) HttpPostThread;
    if (!worker) {
        Log_Error("%s:new HttpPostThread failed", "AlarmPost_Create");
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_warningMutex);
    const WarningConfig* stored = GetCenter() ? GetWarningConfig() : nullptr;
    if (stored && stored->url[0]) {
        // The configuration last applied stays in force across a restart.
        worker->SetUrl(stored->url);
        if (stored->enableWarn == 1) worker->Start();
    }
    return worker;
}

void ApplyWarningConfig(const WarningConfig* config)
{
    std::lock_guard<std::mutex> guard(g_warningMutex);
    Ntrip::Vorlane* center = GetCenter();
    if (!config || !center || !center->httpPostThread || !center->warningConfig) {
        Log_Error("%s:no alarm-post worker or warning record", "ApplyWarningConfig");
        return;
    }
    ApplyWarningConfigTo(center->httpPostThread, center->warningConfig, config);
}

bool CopyWarningConfig(WarningConfig* out)
{
    std::lock_guard<std::mutex> guard(g_warningMutex);
    WarningConfig* stored = GetCenter() ? GetWarningConfig() : nullptr;
    if (!out || !stored) return false;
    *out = *stored;
    return true;
}
