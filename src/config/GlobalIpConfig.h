// "globalip.cfg": one line whose address replaces the ip of the control,
// caster and HTTP sections of "VorlaneConfig.json". It lets one machine image
// serve on whatever address the host was given.
#pragma once

#include "config/ConfigRecords.h"

#define GLOBAL_IP_FILE "globalip.cfg"

// Longest address accepted from the file.
static const int GLOBAL_IP_MAX_LEN = 28;

// Applies "globalip.cfg" of dir (with or without a trailing '/') to
// "VorlaneConfig.json" of the same dir: loads the configuration into the
// records, sets the line's address as the ip of all three and saves. The line
// is taken without its line end and surrounding blanks. 1 when the file was
// applied and saved; 0 when there is no file, its first line is shorter than
// 2 characters or longer than GLOBAL_IP_MAX_LEN, or the load or the save fails.
int LoadGlobalIpConfigIn(const char* dir, CtrlCenterConfig* ctrl, NtripServerConfig* ntrip,
                         HttpServerConfig* http);

// LoadGlobalIpConfigIn on the executable's directory.
int LoadGlobalIpConfig(CtrlCenterConfig* ctrl, NtripServerConfig* ntrip, HttpServerConfig* http);
