// The NTRIP decoder's own read of the `ntrip_server` section of
// "VorlaneConfig.json", done afresh on every source table so a change made by
// the control centre shows at once.
#pragma once

#include <cstddef>

namespace NtripDecoding {

static const char* const NTRIP_CONFIG_FILE_NAME = "VorlaneConfig.json";

// The keys of the section the decoder reads (ip and the shared keys of
// NtripServerKeys.h); keys it does not find read as 0 or empty.
struct NtripServerSection {
    char ip[32];
    int port;
    int protocol;
    int base_offline_time;
    int base_login_mode;
    int rover_login_mode;
    int rover_gga_log;
    int use_software_name;
    int broadcast_nearest;
    int one_account_multi_user;
    int user_count;
};

// The executable's directory followed by "VorlaneConfig.json"; false (logged)
// when the directory is unknown or the path does not fit size bytes.
bool GetFileFullPath(char* path, size_t size);

// Reads the section from the file beside the executable.
bool LoadNtripServerConfig(NtripServerSection* config);

// Reads the section from the file at path: the whole file, whatever its size.
// The record is cleared first; false when the file cannot be read or is not JSON.
bool LoadNtripServerConfigFrom(const char* path, NtripServerSection* config);

}  // namespace NtripDecoding
