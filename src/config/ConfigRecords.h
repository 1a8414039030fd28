// The settings records the caster keeps in memory, one per section of its
// configuration files. Field widths are fixed: texts are cut to the width
// less one character when copied in.
#pragma once

#include <cstdint>

// Section "ctrl_center_server" of "VorlaneConfig.json": the control port.
struct CtrlCenterConfig {
    char ip[32];
    int32_t port;
};

// Section "ntrip_server" of "VorlaneConfig.json": the caster port and the
// login and binding rules.
struct NtripServerConfig {
    char ip[32];
    int32_t port;
    int32_t protocol;                // 1 or 2
    int32_t base_offline_time;       // seconds without data before a base is closed
    int32_t base_login_mode;         // 1: no base password test
    int32_t rover_login_mode;        // 1: no rover user check
    int32_t rover_gga_log;           // 1: rover positions go to the user log
    int32_t use_software_name;       // 1: rovers must name the expected software
    int32_t broadcast_nearest;       // 1: the virtual mounts are offered
    int32_t one_account_multi_user;  // 1: one account may log in several times
    int32_t user_count;              // logins allowed per account
    int32_t rover_distance_limit;    // metres a rover moves before it is re-bound
};

// Section "http_server" of "VorlaneConfig.json": the HTTP inspector.
struct HttpServerConfig {
    char ip[32];
    int32_t port;
    char salt[32];
};

// Section "warning" of "VorlaneConfig.json": the alarm posts.
struct WarningConfig {
    char url[200];
    int32_t warnInterval;
    int32_t dataCountInterval;
    int32_t dataLimit;
    int32_t enableWarn;
};

// Section "auth_centre" of "AuthCentre.json".
struct AuthCentreConfig {
    char url[128];
    char ip[24];
    int32_t port;
    char ip2[64];     // a second copy of ip
    int32_t enabled;  // 1 when the section gave a url, or an ip and a port
};

// Defaults of the keys that may be absent (those of "ntrip_server" stand in
// its key table, decoding/NtripDecoding/NtripServerKeys.h).
#define CONFIG_DEFAULT_IP "0.0.0.0"
// The HTTP inspector has no authentication of its own and shows passwords:
// unless told otherwise only this host reaches it.
#define CONFIG_DEFAULT_HTTP_IP "127.0.0.1"
#define CONFIG_DEFAULT_SALT "pvhdnax48!=731R!!5k^^~wyt"
enum {
    CONFIG_DEFAULT_CTRL_PORT = 8097,
    CONFIG_DEFAULT_HTTP_PORT = 7000,
};
