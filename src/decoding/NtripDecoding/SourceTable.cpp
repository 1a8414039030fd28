#include "decoding/NtripDecoding/SourceTable.h"

#include "decoding/NtripDecoding/NtripServerConfig.h"
#include "platform/LocalTime.h"
#include "runtime/Log.h"

#include <cstdio>
#include <string>

namespace NtripDecoding {

namespace {

void AppendLine(const char* name, std::string* body)
{
    // Built by appending, so no name length can overrun a line buffer.
    static const char* const kTail = ";1(1),3(10),18(1),19(1);2;GNSS;RVZ;CHN;0.00;0.00;1;1;RVZ;none;B;N;9600;\r\n";
    body->append("STR;");
    body->append(name);
    body->append(";");
    body->append(name);
    body->append(";");
    body->append(name);
    body->append(kTail);
}

}  // namespace

CommonDataChain* MakeSourceTableAs(const char* product, const char* version, const char* date,
                                   const char* const* names, int count, bool listNearest)
{
    CommonDataChain* chain = CommonDataChain_Alloc();
    CommonDataChain_AppendString(chain, "SOURCETABLE 200 OK\r\n");
    CommonDataChain_AppendString(chain, "Server: ");
    CommonDataChain_AppendString(chain, product);
    CommonDataChain_AppendString(chain, "/");
    CommonDataChain_AppendString(chain, version);
    CommonDataChain_AppendString(chain, "\r\n");
    CommonDataChain_AppendString(chain, "Date: ");
    CommonDataChain_AppendString(chain, date);
    CommonDataChain_AppendString(chain, "\r\n");
    CommonDataChain_AppendString(chain, "Content-Type: text/plain\r\n");
    CommonDataChain_AppendString(chain, "Content-Length: ");

    std::string body;
    for (int i = 0; names && i < count; ++i) {
        if (names[i]) AppendLine(names[i], &body);
    }
    if (listNearest) AppendLine("NEAREST", &body);

    char length[32];
    snprintf(length, sizeof(length), "%d\r\n\r\n", static_cast<int>(body.size()));
    CommonDataChain_AppendString(chain, length);
    CommonDataChain_AppendAll(chain, body.data(), body.size());
    CommonDataChain_AppendString(chain, "ENDSOURCETABLE\r\n\r\n");
    return chain;
}

CommonDataChain* MakeSourceTableWith(const char* const* names, int count, bool listNearest)
{
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    char date[64];
    snprintf(date, sizeof(date), "%04d/%02d/%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
             now.minute, now.second);
    return MakeSourceTableAs("RVZ_v0.8", "2016", date, names, count, listNearest);
}

CommonDataChain* MakeSourceTable(const char* const* names, int count)
{
    NtripServerSection config;
    bool listNearest = false;
    if (!LoadNtripServerConfig(&config)) {
        Log_Info("NtripDecoding::Load Vorlane Config failure.");
    } else {
        listNearest = config.broadcast_nearest == 1;
    }
    return MakeSourceTableWith(names, count, listNearest);
}

}  // namespace NtripDecoding
