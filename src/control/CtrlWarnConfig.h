// Whether a warning configuration is in force: one stored in
// "VorlaneConfig.json" at start-up, or one the control centre applied.
// Until then a warning-configuration read answers that there is none.
#pragma once

#include "config/ConfigRecords.h"

// How the warning records are applied and read: the alarm-post worker's
// module provides them, and the executable hands them over at start-up.
struct CtrlWarningHooks {
    // Stores the record and re-targets the alarm-post worker.
    void (*apply)(const WarningConfig* config);
    // Copies the record in force; false when there is none.
    bool (*copy)(WarningConfig* out);
};
void CtrlWarnConfig_SetHooks(const CtrlWarningHooks& hooks);

void CtrlWarnConfig_MarkApplied();
bool CtrlWarnConfig_IsApplied();
