// Whether a warning configuration is in force: one stored in
// "VorlaneConfig.json" at start-up, or one the control centre applied.
// Until then a warning-configuration read answers that there is none.
#pragma once

void CtrlWarnConfig_MarkApplied();
bool CtrlWarnConfig_IsApplied();
