#include "control/NtripRespHandle.h"

#include "net/NHServer.h"
#include "platform/Thread.h"
#include "runtime/HashTable.h"
#include "runtime/Lock.h"
#include "runtime/Log.h"

#include <cstring>
#include <new>

namespace {

struct NtripRespHandleRecord {
    NHServer* server;
    char ip[RTS::NTRIP_RESP_IP_SIZE];
    int port;
    DecodeFunc decode;
    DFW::DispatchFunc dispatch;
    RTS::NtripRespTimerFunc timer;
    ChannelHashTable<CtrlConnection>* connections;
};

// Created once, never freed.
std::atomic<NtripRespHandleRecord*> g_record{nullptr};
// The control lock: the connection table. Taken before the server's queue
// lock (posts happen inside it).
Lock g_ctrlLock;

unsigned ServerThread(void*)
{
    NtripRespHandleRecord* record = g_record.load();
    int result = NHServer_Run(record->server, record->ip, record->port, NHSERVER_MODE_LISTEN);
    if (result != NHSERVER_OK) {
        Log_Error("%s:control port cannot listen on ip = %s, port = %d, error = %d; the caster serves without it",
                  "RTS::NtripRespHandle_ServerThread", record->ip, record->port, result);
    }
    Log_Info("%s:exit", "NHServer_Run");
    return 0;
}

void FreeConnection(CtrlConnection* entry)
{
    // Stops the decode thread and waits for it: no dispatch uses the entry after.
    DFW::DecodeFramework_Destroy(&entry->framework);
    delete entry;
}

}  // namespace

namespace RTS {

bool NtripRespHandle_Create(NHServer* server, DecodeFunc decode, DFW::DispatchFunc dispatch,
                            NtripRespTimerFunc timer, const char* ip, int port)
{
    if (g_record.load() || !ip || !server) return false;
    if (strlen(ip) >= NTRIP_RESP_IP_SIZE) {
        Log_Error("%s:control address %.64s is longer than %d characters", "RTS::NtripRespHandle_Create", ip,
                  static_cast<int>(NTRIP_RESP_IP_SIZE - 1));
        return false;
    }
    NtripRespHandleRecord* record = new (std::nothrow) NtripRespHandleRecord();
    if (!record) return false;
    record->connections = new (std::nothrow) ChannelHashTable<CtrlConnection>();
    if (!record->connections) {
        delete record;
        return false;
    }
    record->server = server;
    memcpy(record->ip, ip, strlen(ip) + 1);
    record->port = port;
    record->decode = decode;
    record->dispatch = dispatch;
    record->timer = timer;
    NHServer_SetOpenCallback(server, NtripRespHandle_TcpOpenCallback);
    NHServer_SetCloseCallback(server, NtripRespHandle_TcpCloseCallback);
    NHServer_SetReadCallback(server, NtripRespHandle_TcpReadCallback);
    NHServer_SetTimer(server, NtripRespHandle_TimerCallback, NTRIP_RESP_TIMER_MS, nullptr);
    g_record.store(record);
    return true;
}

void NtripRespHandle_Start()
{
    if (!g_record.load()) return;
    bool started = false;
    Platform_BeginThread(ServerThread, nullptr, false, &started);
    if (!started) Log_Error("%s:cannot start the control server thread", "RTS::NtripRespHandle_Start");
}

void NtripRespHandle_Broadcast(const unsigned char* bytes, size_t n, bool loggedInOnly)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record || !bytes || n == 0) return;
    ScopedLock guard(g_ctrlLock);
    record->connections->ForEach([&](CtrlConnection* entry) {
        if (loggedInOnly && !entry->loggedIn.load()) return;
        NHServer_PostSend(record->server, entry->channelID, bytes, n);
    });
}

bool NtripRespHandle_SetLoggedIn(uint64_t channelID, bool loggedIn)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return false;
    ScopedLock guard(g_ctrlLock);
    CtrlConnection* entry = record->connections->Find(channelID);
    if (!entry) return false;
    entry->loggedIn.store(loggedIn);
    return true;
}

size_t NtripRespHandle_Count()
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return 0;
    ScopedLock guard(g_ctrlLock);
    return record->connections->Count();
}

void NtripRespHandle_TcpOpenCallback(uint64_t channelID, const char*, int, int)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return;
    CtrlConnection* entry = new (std::nothrow) CtrlConnection();
    DFW::DecodeFramework* framework = entry ? new (std::nothrow) DFW::DecodeFramework() : nullptr;
    if (!framework) {
        delete entry;
        Log_Error("%s:no memory for channelID:%lld", "RTS::NtripRespHandle_TcpOpenCallback",
                  static_cast<long long>(channelID));
        NHServer_PostClose(record->server, channelID);
        return;
    }
    entry->channelID = channelID;
    entry->framework = framework;
    entry->loggedIn.store(false);
    // Ready before its thread runs, so the first wake-up finds the functions.
    framework->Init(record->decode, record->dispatch, &entry->channelID);
    if (!framework->StartDecodeThread()) {
        Log_Error("%s:cannot start the decode thread of channelID:%lld", "RTS::NtripRespHandle_TcpOpenCallback",
                  static_cast<long long>(channelID));
        FreeConnection(entry);
        NHServer_PostClose(record->server, channelID);
        return;
    }
    Log_Info("%s, channelID:%lld.", "RTS::NtripRespHandle_TcpOpenCallback", static_cast<long long>(channelID));
    bool inserted;
    {
        ScopedLock guard(g_ctrlLock);
        inserted = record->connections->Insert(entry);
    }
    if (!inserted) {
        FreeConnection(entry);
        NHServer_PostClose(record->server, channelID);
    }
}

void NtripRespHandle_TcpCloseCallback(uint64_t channelID, int)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return;
    CtrlConnection* entry;
    {
        ScopedLock guard(g_ctrlLock);
        entry = record->connections->Remove(channelID);
    }
    // Outside the lock: the decode thread may be in a handler that needs it
    // (a login mark), and a caster-thread notification must never wait for a
    // closing connection's request to finish.
    if (entry) FreeConnection(entry);
}

void NtripRespHandle_TcpReadCallback(uint64_t channelID, const char* bytes, int n)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record || n <= 0) return;
    // Only this thread changes the table, so its own lookup needs no lock;
    // the entry cannot go while this callback runs.
    CtrlConnection* entry = record->connections->Find(channelID);
    if (!entry || !entry->framework) return;
    if (!entry->framework->Write(reinterpret_cast<const unsigned char*>(bytes), static_cast<size_t>(n))) {
        Log_Warn("%s:channelID:%lld ring full, %d bytes dropped", "RTS::NtripRespHandle_TcpReadCallback",
                 static_cast<long long>(channelID), n);
    }
}

void NtripRespHandle_TimerCallback(int, void*)
{
    NtripRespHandleRecord* record = g_record.load();
    if (record && record->timer) record->timer(1);
}

}  // namespace RTS
