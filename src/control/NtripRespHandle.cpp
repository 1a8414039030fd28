#include "control/NtripRespHandle.h"

#include "net/NHServer.h"
#include "platform/SteadyClock.h"
#include "platform/Thread.h"
#include "runtime/HashTable.h"
#include "runtime/Lock.h"
#include "runtime/Log.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

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
// The control loop's thread, from its start until a stop has joined it.
std::atomic<PlatformThread*> g_serverThread{nullptr};
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

void CopyPeer(CtrlConnection* entry, const char* ip, int port)
{
    size_t n = ip ? strnlen(ip, sizeof(entry->ip) - 1) : 0;
    if (n) memcpy(entry->ip, ip, n);
    entry->ip[n] = '\0';
    entry->port = port;
}

void DeleteEntry(void* entry) { delete static_cast<CtrlConnection*>(entry); }

// The entry goes once its decode thread has ended (on the reaper), since a
// dispatch on that thread may still use it.
void RetireConnection(CtrlConnection* entry)
{
    DFW::DecodeFramework* framework = entry->framework;
    entry->framework = nullptr;
    DFW::DecodeFramework_Retire(framework, DeleteEntry, entry);
}

// Loop thread: a paused connection whose decode thread has caught up.
void ResumeReading(void* arg)
{
    NtripRespHandleRecord* record = g_record.load();
    uint64_t channelID = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg));
    if (record) NHServer_ResumeRead(record->server, channelID);
}

// Decode thread: hands the resume to the loop, which alone reads.
void Drained(void* context)
{
    NtripRespHandleRecord* record = g_record.load();
    CtrlConnection* entry = static_cast<CtrlConnection*>(context);
    if (!record || !entry) return;
    NHServer_PostCall(record->server, ResumeReading, reinterpret_cast<void*>(static_cast<uintptr_t>(entry->channelID)));
}

// The connection's framework, made and started at its first bytes.
bool StartFramework(NtripRespHandleRecord* record, CtrlConnection* entry)
{
    DFW::DecodeFramework* framework = new (std::nothrow) DFW::DecodeFramework();
    if (!framework) return false;
    // Ready before its thread runs, so the first wake-up finds the functions.
    framework->Init(record->decode, record->dispatch, entry);
    framework->SetBackPressure(CTRL_READ_HIGH_WATER, CTRL_READ_LOW_WATER, Drained);
    if (!framework->StartDecodeThread()) {
        DFW::DecodeFramework_Destroy(&framework);
        return false;
    }
    entry->framework = framework;
    return true;
}

}  // namespace

namespace RTS {

NHServer* NtripRespHandle_NewServer()
{
    NHServerCallbacks callbacks = {};
    callbacks.open = NtripRespHandle_TcpOpenCallback;
    callbacks.close = NtripRespHandle_TcpCloseCallback;
    callbacks.read = NtripRespHandle_TcpReadCallback;
    return NHServer_Create(&callbacks, CTRL_MAX_CONNECTIONS);
}

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
    NHServer_SetTimer(server, NtripRespHandle_TimerCallback, NTRIP_RESP_TIMER_MS, nullptr);
    g_record.store(record);
    return true;
}

void NtripRespHandle_Start()
{
    if (!g_record.load() || g_serverThread.load()) return;
    bool started = false;
    PlatformThread* thread = Platform_BeginThread(ServerThread, nullptr, true, &started);
    if (!started) {
        Log_Error("%s:cannot start the control server thread", "RTS::NtripRespHandle_Start");
        return;
    }
    g_serverThread.store(thread);
}

bool NtripRespHandle_Stop(unsigned timeoutMs)
{
    NtripRespHandleRecord* record = g_record.load();
    PlatformThread* thread = g_serverThread.load();
    if (!record || !thread) return true;
    NHServer_Destroy(record->server);
    if (!Platform_JoinThreadWithin(thread, timeoutMs)) {
        Log_Error("%s:the control loop did not end within %u ms", "RTS::NtripRespHandle_Stop", timeoutMs);
        return false;
    }
    g_serverThread.store(nullptr);
    // The loop has freed the sockets without closing the connections one by
    // one: their decode threads are ended here, by the reaper, which is
    // then joined with everything it held.
    std::vector<CtrlConnection*> left;
    {
        ScopedLock guard(g_ctrlLock);
        record->connections->ForEach([&](CtrlConnection* entry) { left.push_back(entry); });
        for (CtrlConnection* entry : left) record->connections->Remove(entry->channelID);
    }
    for (CtrlConnection* entry : left) {
        if (entry->framework) {
            RetireConnection(entry);
        } else {
            delete entry;
        }
    }
    DFW::DecodeFramework_StopReaper();
    return true;
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
    if (loggedIn) entry->everLoggedIn.store(true);
    return true;
}

bool NtripRespHandle_NoteLogin(uint64_t channelID, bool accepted, const unsigned char* reply, size_t replyLength,
                               CtrlLoginNote* note)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return false;
    ScopedLock guard(g_ctrlLock);
    CtrlConnection* entry = record->connections->Find(channelID);
    if (!entry) return false;
    entry->loggedIn.store(accepted);
    if (accepted) entry->everLoggedIn.store(true);
    int refused = accepted ? entry->refusedLogins.load() : entry->refusedLogins.fetch_add(1) + 1;
    bool closeNow = !accepted && refused >= CTRL_MAX_REFUSED_LOGINS;
    if (closeNow) entry->closing.store(true);
    if (reply && replyLength > 0) NHServer_PostSend(record->server, channelID, reply, replyLength);
    if (note) {
        memcpy(note->ip, entry->ip, sizeof(note->ip));
        note->port = entry->port;
        note->refusedLogins = refused;
        note->closeNow = closeNow;
    }
    return true;
}

int NtripRespHandle_CloseWithoutLogin(int64_t nowMs, int64_t timeoutMs)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return 0;
    std::vector<uint64_t> late;
    {
        ScopedLock guard(g_ctrlLock);
        record->connections->ForEach([&](CtrlConnection* entry) {
            if (entry->everLoggedIn.load() || entry->closing.load() || nowMs - entry->openedMs < timeoutMs) return;
            entry->closing.store(true);
            late.push_back(entry->channelID);
            Log_Info("%s:channelID:%llu from %s:%d closed, no login within %lld ms", "RTS::NtripRespHandle",
                     static_cast<unsigned long long>(entry->channelID), entry->ip, entry->port,
                     static_cast<long long>(timeoutMs));
        });
    }
    for (uint64_t channelID : late) NHServer_PostClose(record->server, channelID);
    return static_cast<int>(late.size());
}

void NtripRespHandle_TcpOpenCallback(uint64_t channelID, const char* ip, int port, int)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return;
    CtrlConnection* entry = new (std::nothrow) CtrlConnection();
    if (!entry) {
        Log_Error("%s:no memory for channelID:%lld", "RTS::NtripRespHandle_TcpOpenCallback",
                  static_cast<long long>(channelID));
        NHServer_PostClose(record->server, channelID);
        return;
    }
    entry->channelID = channelID;
    entry->framework = nullptr;
    entry->loggedIn.store(false);
    entry->everLoggedIn.store(false);
    entry->refusedLogins.store(0);
    entry->closing.store(false);
    entry->openedMs = Platform_SteadyNowMs();
    CopyPeer(entry, ip, port);
    Log_Info("%s, channelID:%lld.", "RTS::NtripRespHandle_TcpOpenCallback", static_cast<long long>(channelID));
    bool inserted;
    {
        ScopedLock guard(g_ctrlLock);
        inserted = record->connections->Insert(entry);
    }
    if (!inserted) {
        delete entry;
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
    // The decode thread may be in a handler (a slow store); the loop goes on
    // at once and the reaper waits for it.
    if (entry) RetireConnection(entry);
}

void NtripRespHandle_TcpReadCallback(uint64_t channelID, const char* bytes, int n)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record || n <= 0) return;
    // Only this thread changes the table, so its own lookup needs no lock;
    // the entry cannot go while this callback runs.
    CtrlConnection* entry = record->connections->Find(channelID);
    if (!entry || entry->closing.load()) return;
    if (!entry->framework && !StartFramework(record, entry)) {
        Log_Error("%s:cannot start the decode thread of channelID:%lld", "RTS::NtripRespHandle_TcpReadCallback",
                  static_cast<long long>(channelID));
        entry->closing.store(true);
        NHServer_PostClose(record->server, channelID);
        return;
    }
    bool pause = false;
    if (!entry->framework->Write(reinterpret_cast<const unsigned char*>(bytes), static_cast<size_t>(n), &pause)) {
        Log_Warn("%s:channelID:%lld ring full, %d bytes dropped", "RTS::NtripRespHandle_TcpReadCallback",
                 static_cast<long long>(channelID), n);
    }
    if (pause) NHServer_PauseRead(record->server, channelID);
}

void NtripRespHandle_TimerCallback(int, void*)
{
    NtripRespHandleRecord* record = g_record.load();
    if (!record) return;
    NtripRespHandle_CloseWithoutLogin(Platform_SteadyNowMs());
    if (record->timer) record->timer(1);
}

}  // namespace RTS
