// The alarm-post worker of the centre and the warning configuration that
// drives it. The executable hands AlarmPost_Create to the caster's creation;
// the control centre calls ApplyWarningConfig when it has written a new
// warning configuration.
#pragma once

#include "config/ConfigRecords.h"

class HttpPostThread;

// A new worker for the centre, pointed at the centre's warning record (made
// before it) and started when that record enables warnings.
HttpPostThread* AlarmPost_Create();

// Applies a warning configuration to the centre, under a lock of its own:
// pauses the worker, points it at the new url when that differs from the
// stored one, stores the record, and with enableWarn 1 resumes the worker, or
// starts and resumes it when it does not run. With enableWarn 0 the worker
// stays paused. Logs and does nothing without a centre, worker or record.
void ApplyWarningConfig(const WarningConfig* config);

// The steps of ApplyWarningConfig on one worker and its stored record; the
// caller holds whatever serializes its applies.
void ApplyWarningConfigTo(HttpPostThread* worker, WarningConfig* stored, const WarningConfig* config);

// Copies the centre's warning record under the same lock, so a reader never
// sees one half-applied. False when there is none.
bool CopyWarningConfig(WarningConfig* out);
