#include "net/TcpConnection.h"

#include "net/SubscriberNode.h"
#include "runtime/Log.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<uint64_t> g_lastChannelId{0};

// The output of a socket bufferevent is frozen at its front: only the
// bufferevent itself may take bytes out. These two do it on purpose.
void DropOutput(struct bufferevent* bev)
{
    struct evbuffer* output = bufferevent_get_output(bev);
    bufferevent_lock(bev);
    evbuffer_unfreeze(output, 1);
    evbuffer_drain(output, evbuffer_get_length(output));
    evbuffer_freeze(output, 1);
    bufferevent_unlock(bev);
}

// A reply posted just before a close (a source table, an error text) would
// otherwise be freed unsent with the connection. Hands the kernel what it
// takes now without waiting; the rest is dropped.
void FlushOutput(struct bufferevent* bev)
{
    struct evbuffer* output = bufferevent_get_output(bev);
    evutil_socket_t fd = bufferevent_getfd(bev);
    if (fd < 0) return;
    bufferevent_lock(bev);
    if (evbuffer_get_length(output) > 0) {
        evbuffer_unfreeze(output, 1);
        while (evbuffer_get_length(output) > 0 && evbuffer_write(output, fd) > 0) {
        }
        evbuffer_freeze(output, 1);
    }
    bufferevent_unlock(bev);
}

void FreeRecord(TcpConnection* record)
{
    // The publishers' nodes that name it stay until their unsubscription,
    // without a connection.
    while (record->subscriptions) SubscriberNode_Unhook(record->subscriptions);
    if (record->bev) bufferevent_free(record->bev);
    ConnTraffic_Release(record->traffic);
    free(record);
}

void ShutdownSocket(struct bufferevent* bev)
{
    evutil_socket_t fd = bufferevent_getfd(bev);
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

uint32_t BlockLength(const CommonDataChain* block)
{
    return block->len > COMMON_DATA_CHAIN_SIZE ? COMMON_DATA_CHAIN_SIZE : block->len;
}

// Past the limit the connection is given up: shut down, its output dropped.
bool RefuseOverLimit(uint64_t channelID, struct bufferevent* bev)
{
    size_t unsent = evbuffer_get_length(bufferevent_get_output(bev));
    if (unsent <= TCP_CONNECTION_MAX_UNSENT) return false;
    Log_Info("Send to Channel %ld Unsend bufferSize is too large:%d ,stop writing and close!",
             static_cast<long>(channelID), static_cast<int>(unsent));
    ShutdownSocket(bev);
    bufferevent_disable(bev, EV_WRITE);
    DropOutput(bev);
    return true;
}

// The connection a write may go to; nullptr for an unknown channel or one
// given up at the limit.
struct bufferevent* AcceptingWrite(TcpConnection* record)
{
    if (!record || RefuseOverLimit(record->channelID, record->bev)) return nullptr;
    return record->bev;
}

struct bufferevent* AcceptingWrite(TcpConnectionTable* table, uint64_t channelID)
{
    return AcceptingWrite(table ? table->records.Find(channelID) : nullptr);
}

// Hands the kernel what it takes of the bytes now, when nothing waits before
// them and writing is on: one system call, no copy, and no writability to
// ask the poller for. Returns how many bytes went. A socket error sends
// nothing here: the bytes then wait in the output, and the connection's
// write event reports the error the way it reports any other.
size_t SendNow(struct bufferevent* bev, struct evbuffer* output, const unsigned char* bytes, size_t length)
{
    if (length == 0 || evbuffer_get_length(output) > 0) return 0;
    if (!(bufferevent_get_enabled(bev) & EV_WRITE)) return 0;
    evutil_socket_t fd = bufferevent_getfd(bev);
    if (fd < 0) return 0;
    for (;;) {
        ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return static_cast<size_t>(sent);
        if (errno != EINTR) return 0;
    }
}

// Writes one piece: at once what the kernel takes, the rest into the output,
// where the bufferevent writes it once the socket is writable. The rest is a
// reference to the payload's chunk (made at the first need) when there is a
// payload, else a copy. Logs a piece the output did not take whole.
void WritePiece(uint64_t channelID, struct bufferevent* bev, const unsigned char* bytes, size_t length,
                TcpConnectionPayload* payload)
{
    struct evbuffer* output = bufferevent_get_output(bev);
    bufferevent_lock(bev);
    size_t sent = SendNow(bev, output, bytes, length);
    size_t before = evbuffer_get_length(output);
    if (sent < length) {
        if (payload) {
            if (!payload->chunk) payload->chunk = SharedChunk_New(payload->bytes, payload->length);
            SharedChunk_AddTo(payload->chunk, output, sent);
        } else {
            evbuffer_add(output, bytes + sent, length - sent);
        }
    }
    size_t after = evbuffer_get_length(output);
    bufferevent_unlock(bev);
    size_t taken = sent + (after - before);
    if (taken == 0) {
        Log_Info("Write 0 data at channelID:%lld.", static_cast<long long>(channelID));
    } else if (taken != length) {
        Log_Info("Write data size:%d, raw buffer data size:%d, raw evBuffer size:%d, after wirte evbuffer size:%d, "
                 "is not equal when writing to channelID:%lld.",
                 static_cast<int>(taken), static_cast<int>(length), static_cast<int>(before),
                 static_cast<int>(after), static_cast<long long>(channelID));
    }
}

}  // namespace

uint64_t NetHandle_NextChannelId()
{
    uint64_t current = g_lastChannelId.load();
    while (!g_lastChannelId.compare_exchange_weak(current, current + 1)) {
    }
    return current + 1;
}

uint64_t NetHandle_LastChannelId() { return g_lastChannelId.load(); }

TcpConnectionTable* TcpConnection_CreateHashTable()
{
    TcpConnectionTable* table = new (std::nothrow) TcpConnectionTable;
    if (!table) Log_Fatal("TcpConnection_CreateHashTable:malloc error");
    return table;
}

void TcpConnection_FreeHashTable(TcpConnectionTable* table)
{
    if (!table) return;
    table->records.Clear([](TcpConnection* record) {
        if (record->closeHook) record->closeHook(record->channelID, record->closeHookArg);
        FreeRecord(record);
    });
    delete table;
}

void TcpConnection_Free(TcpConnection* record)
{
    if (record) FreeRecord(record);
}

uint64_t TcpConnection_OpenEvent(TcpConnectionTable* table, NetHandleOpenCb cb, int kind, const char* ip,
                                 int port, struct bufferevent* bev)
{
    if (!table || !ip) Log_Fatal("%s:table is null", "TcpConnection_OpenEvent");
    TcpConnection* record = static_cast<TcpConnection*>(calloc(1, sizeof(TcpConnection)));
    if (!record) Log_Fatal("%s:malloc error", "TcpConnection_OpenEvent");

    record->channelID = NetHandle_NextChannelId();
    snprintf(record->ip, sizeof(record->ip), "%s", ip);
    record->port = port;
    record->bev = bev;
    record->table = table;
    if (!table->records.Insert(record)) Log_Fatal("%s:malloc error", "TcpConnection_OpenEvent");

    if (cb) {
        cb(record->channelID, record->ip, port, kind);
    } else {
        Log_Info("%s:cb is null, ip=%s, port = %d, channnelID:%lld.", "TcpConnection_OpenEvent", record->ip, port,
                 static_cast<long long>(record->channelID));
    }
    // The callback cannot have closed the record: closes are commands.
    return record->channelID;
}

void TcpConnnection_Close(TcpConnectionTable* table, NetHandleCloseCb cb, uint64_t channelID, int reason)
{
    if (!table) return;
    TcpConnection* record = table->records.Find(channelID);
    if (!record) return;
    if (!record->table) Log_Fatal("NT:TcpConnnection_Close:table is null");
    TcpConnection* removed = record->table->records.Remove(channelID);
    if (removed != record) Log_Fatal("NT:TcpConnnection_Close:cann't find it in hashtable");
    if (cb) cb(channelID, reason);
    if (record->closeHook) record->closeHook(channelID, record->closeHookArg);
    if (record->bev) FlushOutput(record->bev);
    FreeRecord(record);
}

int TcpConnection_Write(TcpConnectionTable* table, const CommonDataChain* chain, uint64_t channelID,
                        NetHandleWriteCb cb)
{
    struct bufferevent* bev = AcceptingWrite(table, channelID);
    if (!bev) return 1;

    // Counted before the bytes go, so whoever watches the figures never
    // sees a peer ahead of them.
    uint64_t total = 0;
    for (const CommonDataChain* block = chain; block; block = block->next) total += BlockLength(block);
    TcpConnection* record = table->records.Find(channelID);
    if (record->traffic) ConnTraffic_Count(record->traffic, total, ConnTraffic_Now());
    if (cb) cb(channelID, static_cast<int>(total), 0);
    for (const CommonDataChain* block = chain; block; block = block->next) {
        if (BlockLength(block) > 0) WritePiece(channelID, bev, block->data, BlockLength(block), nullptr);
    }
    return 0;
}

void TcpConnectionPayload_Release(TcpConnectionPayload* payload)
{
    if (!payload) return;
    SharedChunk_Release(payload->chunk);
    payload->chunk = nullptr;
}

int TcpConnection_WritePayload(TcpConnectionTable* table, TcpConnectionPayload* payload, uint64_t channelID,
                               NetHandleWriteCb cb)
{
    TcpConnection* record = table ? table->records.Find(channelID) : nullptr;
    if (!record) return 1;
    ConnTrafficClock now = {0, 0};
    if (record->traffic) now = ConnTraffic_Now();
    return TcpConnection_WritePayloadTo(record, payload, cb, now);
}

int TcpConnection_WritePayloadTo(TcpConnection* record, TcpConnectionPayload* payload, NetHandleWriteCb cb,
                                 const ConnTrafficClock& now)
{
    struct bufferevent* bev = AcceptingWrite(record);
    if (!bev) return 1;
    if (record->traffic) ConnTraffic_Count(record->traffic, payload->length, now);
    if (cb) cb(record->channelID, static_cast<int>(payload->length), 0);
    if (payload->length > 0) WritePiece(record->channelID, bev, payload->bytes, payload->length, payload);
    return 0;
}

int TcpConnection_SetTraffic(TcpConnectionTable* table, uint64_t channelID, ConnTraffic* traffic)
{
    TcpConnection* record = TcpConnection_Find(table, channelID);
    if (!record) return -1;
    ConnTraffic_Retain(traffic);
    ConnTraffic_Release(record->traffic);
    record->traffic = traffic;
    return 0;
}

void TcpConnection_ReadDataEvent(TcpConnectionTable* table, NetHandleReadCb cb, uint64_t channelID,
                                 struct bufferevent* bev, TcpConnectionReadRegionFn region, void* regionArg)
{
    if (!bev) return;
    bufferevent_lock(bev);
    // Held across the pieces: a callback that closes the connection frees
    // the bufferevent only after this call, so the input stays readable.
    bufferevent_incref(bev);

    TcpConnection* record = table ? table->records.Find(channelID) : nullptr;
    if (!record) {
        Log_Info("%s:channel id = %.0f conn is null", "TcpConnection_ReadDataEvent", static_cast<double>(channelID));
        ShutdownSocket(bev);
    } else if (!record->reading) {
        record->reading = true;
        struct evbuffer* input = bufferevent_get_input(bev);
        size_t waiting = evbuffer_get_length(input);
        const unsigned char* bytes = waiting > 0 ? evbuffer_pullup(input, -1) : nullptr;
        if (waiting > 0 && !bytes) {
            Log_Fatal("%s:channel id = %.0f, abort1", "TcpConnection_ReadDataEvent", static_cast<double>(channelID));
        }
        if (waiting > 0 && region) region(regionArg, bytes, waiting);
        size_t handed = 0;
        while (handed < waiting && !record->discarding) {
            if (!cb) {
                Log_Fatal("%s:channel id = %.0f, NetHandleReadCb is NULL", "TcpConnection_ReadDataEvent",
                          static_cast<double>(channelID));
            }
            size_t left = waiting - handed;
            size_t piece = left < TCP_CONNECTION_READ_CHUNK ? left : TCP_CONNECTION_READ_CHUNK;
            cb(channelID, reinterpret_cast<const char*>(bytes + handed), static_cast<int>(piece));
            handed += piece;
            // The callback may have run commands (a broadcast drains the
            // queue first) that closed the connection, which frees its
            // record: it is looked up again, never touched after its close.
            record = table->records.Find(channelID);
            if (!record) break;
        }
        if (waiting > 0 && region) region(regionArg, nullptr, 0);
        if (record) {
            record->reading = false;
            // A close-after-flush that began during the read discards what
            // the read did not hand out, and what came with it, only now.
            if (record->discarding) handed = evbuffer_get_length(input);
        }
        evbuffer_drain(input, handed);
    }

    bufferevent_unlock(bev);
    bufferevent_decref(bev);
}

void TcpConnection_Shutdown(TcpConnectionTable* table, uint64_t channelID)
{
    TcpConnection* record = table ? table->records.Find(channelID) : nullptr;
    if (record && record->bev) ShutdownSocket(record->bev);
}

int TcpConnection_SetCloseHook(TcpConnectionTable* table, uint64_t channelID, TcpConnectionCloseHook hook,
                               void* arg)
{
    TcpConnection* record = TcpConnection_Find(table, channelID);
    if (!record) return -1;
    record->closeHook = hook;
    record->closeHookArg = hook ? arg : nullptr;
    return 0;
}

int TcpConnection_PauseRead(TcpConnectionTable* table, uint64_t channelID)
{
    TcpConnection* record = TcpConnection_Find(table, channelID);
    if (!record || !record->bev) return -1;
    if (!record->readPaused) {
        bufferevent_disable(record->bev, EV_READ);
        record->readPaused = true;
    }
    return 0;
}

int TcpConnection_ResumeRead(TcpConnectionTable* table, uint64_t channelID)
{
    TcpConnection* record = TcpConnection_Find(table, channelID);
    if (!record || !record->bev) return -1;
    if (record->readPaused) {
        record->readPaused = false;
        bufferevent_enable(record->bev, EV_READ);
    }
    return 0;
}

bool TcpConnection_ReadPaused(TcpConnectionTable* table, uint64_t channelID)
{
    TcpConnection* record = TcpConnection_Find(table, channelID);
    return record && record->readPaused;
}

TcpConnection* TcpConnection_Find(TcpConnectionTable* table, uint64_t channelID)
{
    return table ? table->records.Find(channelID) : nullptr;
}

uint32_t TcpConnection_Count(TcpConnectionTable* table) { return table ? table->records.Count() : 0; }

long TcpConnection_OutputLength(TcpConnectionTable* table, uint64_t channelID)
{
    TcpConnection* record = TcpConnection_Find(table, channelID);
    if (!record || !record->bev) return -1;
    return static_cast<long>(evbuffer_get_length(bufferevent_get_output(record->bev)));
}
