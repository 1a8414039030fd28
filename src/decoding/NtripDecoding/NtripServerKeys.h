// The integer keys of the "ntrip_server" section of "VorlaneConfig.json", in
// file order, with their defaults: the one table that the configuration's
// reader and writer and the NTRIP decoder's own read all go through. A key's
// name is also the name of its field in NtripServerConfig and in
// NtripDecoding::NtripServerSection.
#pragma once

// How the configuration reader takes a key's value.
enum NtripServerKeyKind {
    NTRIP_KEY_NUMBER,    // the value as it stands
    NTRIP_KEY_FLAG,      // 1 only when the key holds exactly 1
    NTRIP_KEY_PROTOCOL,  // 2 only when the key holds 2, else 1
    NTRIP_KEY_NONZERO,   // the value, where 0 gives the default
};

// X(key, kind, default): the keys the writer puts back into the file and the
// decoder reads, in file order.
#define NTRIP_SERVER_SHARED_KEYS(X)                 \
    X(port, NTRIP_KEY_NUMBER, 6089)                 \
    X(protocol, NTRIP_KEY_PROTOCOL, 1)              \
    X(base_offline_time, NTRIP_KEY_NUMBER, 10)      \
    X(base_login_mode, NTRIP_KEY_FLAG, 0)           \
    X(rover_login_mode, NTRIP_KEY_FLAG, 0)          \
    X(rover_gga_log, NTRIP_KEY_FLAG, 1)             \
    X(use_software_name, NTRIP_KEY_FLAG, 0)         \
    X(broadcast_nearest, NTRIP_KEY_FLAG, 1)         \
    X(one_account_multi_user, NTRIP_KEY_FLAG, 0)    \
    X(user_count, NTRIP_KEY_NUMBER, 1)

// Every integer key the configuration reader takes: the shared ones, then
// rover_distance_limit, which is never written back (a value in the file
// stays, a missing one stays missing) and which the decoder does not read.
#define NTRIP_SERVER_INT_KEYS(X)   \
    NTRIP_SERVER_SHARED_KEYS(X)    \
    X(rover_distance_limit, NTRIP_KEY_NONZERO, 5000)
