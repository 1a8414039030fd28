// "RelayAccount.list", one directive per line:
//
//   -sys [-startup] -i user:password -m /LOCAL host:port/UPSTREAM [-g lat lon height n]
//       a system mount: kept connected with its own account;
//   -trd -i user:password -m /LOCAL host:port/UPSTREAM [-m /LOCAL2 host2:port2/UP2 ...]
//       one shared account and the relay mounts it may serve; two lines that
//       name the same mount give it two accounts.
//
// A line holding "#" anywhere is a comment; "END OF LIST" ends the file;
// other lines are ignored. Tokens are separated by blanks or tabs.
#include "caster/relay/RelayAccountFile.h"

#include "runtime/Log.h"
#include "runtime/SplitConfLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The reading of the address token: the text after the last "/" is the
// upstream mount, the text between the last ":" before it and the "/" the
// port, the text before the ":" the host. False, with the reason, for a
// group the caster could not connect with.
bool ParseMountGroup(const char* localToken, const char* addressToken, RelayFileMount* out, const char** why)
{
    const char* local = localToken[0] == '/' ? localToken + 1 : localToken;
    if (!*local) {
        *why = "empty local mount";
        return false;
    }
    const char* slash = strrchr(addressToken, '/');
    if (!slash) {
        *why = "no \"/\" before the upstream mount";
        return false;
    }
    const char* colon = nullptr;
    for (const char* p = addressToken; p < slash; ++p) {
        if (*p == ':') colon = p;
    }
    if (!colon) {
        *why = "no \":\" before the port";
        return false;
    }
    if (colon == addressToken) {
        *why = "empty host";
        return false;
    }
    if (!slash[1]) {
        *why = "empty upstream mount";
        return false;
    }
    std::string portText(colon + 1, slash);
    char* end = nullptr;
    long port = portText.empty() ? 0 : strtol(portText.c_str(), &end, 10);
    if (portText.empty() || *end || port < 1 || port > 65535) {
        *why = "port is not a number from 1 to 65535";
        return false;
    }
    out->localName = local;
    out->host.assign(addressToken, colon);
    out->port = static_cast<int>(port);
    out->upstreamMount = slash + 1;
    if (out->localName.size() >= RELAY_NAME_SIZE || out->host.size() >= RELAY_NAME_SIZE ||
        out->upstreamMount.size() >= RELAY_NAME_SIZE) {
        *why = "a name is longer than 63 characters";
        return false;
    }
    return true;
}

bool HasToken(char** tokens, int count, const char* word)
{
    for (int i = 0; i < count; ++i) {
        if (strcmp(tokens[i], word) == 0) return true;
    }
    return false;
}

bool ReadLine(char* line, int number, const char* kWhere, RelayFileLine* out)
{
    // Room for every token the line can hold: no token runs into the next.
    size_t length = strlen(line);
    std::vector<char*> slots(length / 2 + 2);
    int count = 0;
    SplitConfLine(line, &count, slots.data(), static_cast<int>(slots.size()));
    char** tokens = slots.data();

    bool system = HasToken(tokens, count, "-sys");
    if (!system && !HasToken(tokens, count, "-trd")) return false;

    std::string credentials;
    bool haveCredentials = false;
    std::vector<RelayFileMount> groups;
    for (int i = 0; i < count; ++i) {
        const char* token = tokens[i];
        if (strcmp(token, "-i") == 0) {
            if (i + 1 >= count) {
                Log_Warn("%s:line %d: \"-i\" without credentials, ignored", kWhere, number);
                continue;
            }
            credentials = tokens[++i];
            haveCredentials = true;
        } else if (strcmp(token, "-m") == 0) {
            if (i + 2 >= count) {
                Log_Warn("%s:line %d: \"-m\" without its local mount and host:port/mount, ignored", kWhere, number);
                i = count;
                continue;
            }
            RelayFileMount group;
            const char* why = "";
            if (ParseMountGroup(tokens[i + 1], tokens[i + 2], &group, &why)) {
                groups.push_back(group);
            } else {
                Log_Warn("%s:line %d: \"-m %s %s\" skipped: %s", kWhere, number, tokens[i + 1], tokens[i + 2], why);
            }
            i += 2;
        } else if (strcmp(token, "-g") == 0) {
            // A position for the system mount's relay: read and not kept.
            for (int k = 0; k < 4 && i + 1 < count; ++k) ++i;
        }
    }

    if (groups.empty()) {
        Log_Warn("%s:line %d skipped: no usable \"-m\" mount", kWhere, number);
        return false;
    }
    if (credentials.size() >= RELAY_CREDENTIALS_SIZE) {
        Log_Warn("%s:line %d skipped: credentials longer than %d characters", kWhere, number,
                 RELAY_CREDENTIALS_SIZE - 1);
        return false;
    }
    out->number = number;
    out->system = system;
    out->haveCredentials = haveCredentials;
    out->credentials = credentials;
    out->mounts = groups;
    return true;
}

}  // namespace

bool RelayAccountFile_Read(const char* path, const char* where,
                           const std::function<void(const RelayFileLine&)>& take)
{
    FILE* file = path ? fopen(path, "r") : nullptr;
    if (!file) {
        Log_Info("%s:open %s failed, no relay mounts", where, path ? path : "(null)");
        return false;
    }
    char* line = nullptr;
    size_t capacity = 0;
    int number = 0;
    // Lines are read whole, whatever their length: a long line is never cut
    // into pieces that would read as lines of their own.
    while (getline(&line, &capacity, file) >= 0) {
        ++number;
        if (strchr(line, '#')) continue;
        if (strstr(line, "END OF LIST")) break;
        RelayFileLine directive;
        if (ReadLine(line, number, where, &directive)) take(directive);
    }
    free(line);
    fclose(file);
    return true;
}
