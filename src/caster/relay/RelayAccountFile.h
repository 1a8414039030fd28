// The reading of "RelayAccount.list": its directive lines, each with the
// relay mounts it names, for the relay-account pool to take in.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum {
    RELAY_NAME_SIZE = 64,                 // local mount, host, upstream mount: at most 63 characters
    RELAY_CREDENTIALS_SIZE = 128,         // "user:password", at most 127 characters
    RELAY_CREDENTIALS_BASE64_SIZE = 176,  // Base64 of the longest credentials (172) and a NUL
};

// A "-m" group: the local mount (a leading "/" dropped) and host:port/upstream.
struct RelayFileMount {
    std::string localName;
    std::string host;
    int port = 0;
    std::string upstreamMount;
};

// One "-sys" or "-trd" line with at least one usable "-m" group and
// credentials that fit. A "-trd" line may still lack its credentials
// (haveCredentials false or credentials empty): the pool refuses it.
struct RelayFileLine {
    int number = 0;  // from 1
    bool system = false;
    bool haveCredentials = false;
    std::string credentials;
    std::vector<RelayFileMount> mounts;  // in line order
};

// Reads the file at path and hands each usable directive line, in file
// order, to take. Unusable lines and groups are logged (as where) and
// skipped. False when the file cannot be opened.
bool RelayAccountFile_Read(const char* path, const char* where,
                           const std::function<void(const RelayFileLine&)>& take);
