#include "config/GlobalIpConfig.h"

#include "config/AtomicFile.h"
#include "config/ConfigPath.h"
#include "config/VorlaneConfig.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The first line of the text without its line end and surrounding blanks: a
// file saved on Windows ends its line in "\r\n", and neither may reach the
// address a server binds.
std::string FirstLineTrimmed(const char* text, size_t len)
{
    size_t end = 0;
    while (end < len && text[end] != '\n') ++end;
    size_t begin = 0;
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::string(text + begin, end - begin);
}

}  // namespace

int LoadGlobalIpConfigIn(const char* dir, CtrlCenterConfig* ctrl, NtripServerConfig* ntrip,
                         HttpServerConfig* http)
{
    if (!dir || !ctrl || !ntrip || !http) return 0;
    char ipPath[CONFIG_PATH_SIZE];
    char configPath[CONFIG_PATH_SIZE];
    if (!ExeDir_Join(dir, GLOBAL_IP_FILE, ipPath, sizeof(ipPath)) ||
        !ExeDir_Join(dir, VORLANE_CONFIG_FILE, configPath, sizeof(configPath))) {
        return 0;
    }

    size_t len = 0;
    char* text = AtomicFile_ReadAll(ipPath, 64 * 1024, &len);
    if (!text) return 0;
    std::string ip = FirstLineTrimmed(text, len);
    free(text);

    if (ip.size() < 2) return 0;
    if (ip.size() > static_cast<size_t>(GLOBAL_IP_MAX_LEN)) {
        Log_Error("LoadGlobalIpConfig:address in %s is longer than %d characters, ignored", ipPath,
                  GLOBAL_IP_MAX_LEN);
        return 0;
    }
    if (ip.find('\0') != std::string::npos) return 0;

    if (!LoadJsonConfigFile(configPath, ctrl, ntrip, http)) return 0;
    snprintf(ctrl->ip, sizeof(ctrl->ip), "%s", ip.c_str());
    snprintf(ntrip->ip, sizeof(ntrip->ip), "%s", ip.c_str());
    snprintf(http->ip, sizeof(http->ip), "%s", ip.c_str());
    if (!WriteJsonConfig(configPath, ntrip, ctrl, http)) return 0;
    Log_Info("LoadGlobalIpConfig:server ip set to %s", ip.c_str());
    return 1;
}

int LoadGlobalIpConfig(CtrlCenterConfig* ctrl, NtripServerConfig* ntrip, HttpServerConfig* http)
{
    char dir[EXE_DIR_PATH_SIZE];
    if (!GetExeDirPathInWin(dir)) {
        Log_Error("%s:GetExeDirPathInWin: failed", "LoadGlobalIpConfig");
        return 0;
    }
    return LoadGlobalIpConfigIn(dir, ctrl, ntrip, http);
}
