// The commands of a server: the posters, the drain that runs them on the
// loop, the broadcast, and the publisher table's calls.
#include "net/NHServerInternal.h"
#include "net/NHServerTesting.h"

#include "net/EventLoop.h"
#include "runtime/Log.h"

#include <cstring>

namespace {

DecodingEvent* NewEvent(int kind, uint64_t channelID, uint64_t subscriberID)
{
    DecodingEvent* event = DecodingEvent_Alloc();
    event->kind = kind;
    event->channelID = channelID;
    event->subscriberID = subscriberID;
    return event;
}

// A copy of any length, in one block sized to it.
SharedChunk* CopyBytes(const void* bytes, size_t length)
{
    if (length > 0 && !bytes) {
        Log_Error("%s:null bytes, length = %lu", "NHServer_Post", static_cast<unsigned long>(length));
        length = 0;
    }
    return SharedChunk_New(bytes, length);
}

SharedChunk* CopyChain(const CommonDataChain* chain)
{
    size_t total = 0;
    for (const CommonDataChain* block = chain; block; block = block->next) {
        if (block->len > 0) total += block->len > COMMON_DATA_CHAIN_SIZE ? COMMON_DATA_CHAIN_SIZE : block->len;
    }
    SharedChunk* copy = SharedChunk_New(nullptr, total);
    unsigned char* at = SharedChunk_MutableBytes(copy);
    for (const CommonDataChain* block = chain; block; block = block->next) {
        if (block->len < 1) continue;
        uint32_t len = block->len > COMMON_DATA_CHAIN_SIZE ? COMMON_DATA_CHAIN_SIZE : block->len;
        memcpy(at, block->data, len);
        at += len;
    }
    return copy;
}

// The payload of a posted event; the event keeps the reference.
TcpConnectionPayload PayloadOf(DecodingEvent* event)
{
    TcpConnectionPayload payload = {SharedChunk_Bytes(event->payload), event->payload->length, event->payload};
    return payload;
}

// Wakes the server's loop so that its queue is drained; nothing before the
// loop has a base (its first drain runs what is queued).
void Wake(NHServer* server)
{
    struct event_base* base = server->base.load();
    if (base) event_base_notify(base);
}

void DoSend(DecodingEvent* event, NHServer* server)
{
    int result;
    if (event->payload) {
        TcpConnectionPayload payload = PayloadOf(event);
        result = TcpConnection_WritePayload(server->table, &payload, event->channelID, server->writeCb);
    } else {
        result = TcpConnection_Write(server->table, event->chain, event->channelID, server->writeCb);
    }
    if (result != 0) NHServer_PostClose(server, event->channelID);
    Wake(server);
}

// Writes one payload to every subscriber of the publisher, in list order; a
// subscriber over the unsent limit, or whose connection is gone, gets a
// posted close. The list is walked in place: only the loop changes the table,
// and no command runs during the walk (a broadcast started from inside it is
// posted, and closes are posted). The clock is read once for all of them.
void BroadcastPayload(NHServer* server, uint64_t publisherID, TcpConnectionPayload* payload)
{
    PublisherEntry* entry = server->publishers->entries.Find(publisherID);
    if (!entry || !entry->first) return;
    ConnTrafficClock now = ConnTraffic_Now();
    ++server->broadcasting;
    for (SubscriberNode* node = entry->first; node;) {
        // A write callback may close the connection at hand (and so unhook
        // this node's connection), never the node itself.
        SubscriberNode* next = node->next;
        // A posted close wakes the loop itself.
        if (TcpConnection_WritePayloadTo(node->conn, payload, server->writeCb, now) != 0) {
            NHServer_PostClose(server, node->channelID);
        }
        node = next;
    }
    --server->broadcasting;
}

void DoBroadcast(DecodingEvent* event, NHServer* server)
{
    if (event->payload) {
        TcpConnectionPayload payload = PayloadOf(event);
        BroadcastPayload(server, event->channelID, &payload);
        return;
    }
    if (!event->chain) return;
    // A chain someone queued by hand: one payload of all its bytes.
    event->payload = CopyChain(event->chain);
    TcpConnectionPayload payload = PayloadOf(event);
    BroadcastPayload(server, event->channelID, &payload);
}

void DoShutdown(DecodingEvent* event, NHServer* server)
{
    TcpConnection_Shutdown(server->table, event->channelID);
}

void Post(NHServer* server, DecodingEvent* event)
{
    CommandQueue_Push(server->queue, event);
    Wake(server);
}

void RunCommand(DecodingEvent* event, void* server)
{
    DecodingEvent_Process(event, static_cast<NHServer*>(server));
}

}  // namespace

void CommandQueue_LoopHook(struct event_base*, void* server)
{
    NHServer* s = static_cast<NHServer*>(server);
    if (!s) return;
    // A read that reached the server other than through its own read
    // callback (a relay's) leaves its broadcast for here.
    NHServer_FlushBroadcast(s);
    if (s->queue) CommandQueue_Drain(s->queue, RunCommand, s);
}

void DecodingEvent_Process(DecodingEvent* event, NHServer* server)
{
    switch (event->kind) {
    case DECODING_EVENT_CLOSE:
        TcpConnnection_Close(server->table, server->closeCb, event->channelID, TCP_CONNECTION_CLOSE_BY_COMMAND);
        break;
    case DECODING_EVENT_SEND:
        DoSend(event, server);
        break;
    case DECODING_EVENT_ADD_PUBLISHER:
        AddPublisher(server->publishers, event->channelID);
        break;
    case DECODING_EVENT_REMOVE_PUBLISHER:
        RemovePublisher(server->publishers, event->channelID);
        break;
    case DECODING_EVENT_SUBSCRIBE:
        Subscribe(server->publishers, event->channelID, event->subscriberID);
        break;
    case DECODING_EVENT_UNSUBSCRIBE:
        Unsubscribe(server->publishers, event->channelID, event->subscriberID);
        break;
    case DECODING_EVENT_BROADCAST:
        DoBroadcast(event, server);
        break;
    case DECODING_EVENT_SHUTDOWN:
        DoShutdown(event, server);
        break;
    case DECODING_EVENT_CLOSE_AFTER_FLUSH:
        NHServer_CloseAfterFlush(server, event->channelID);
        break;
    case DECODING_EVENT_CALL:
        if (event->call) event->call(event->callArg);
        break;
    default:
        Log_Fatal("NetHandle:DecodingEvent_Process unkown evnet kind");
    }
}

namespace {

bool BatchEmpty(const NHServer* server) { return server->batchBytes.empty() && server->batchViewLength == 0; }

// Whether the bytes lie in the input of the read under way.
bool InReadRegion(const NHServer* server, const unsigned char* bytes, size_t length)
{
    const unsigned char* region = server->readRegion;
    return region && bytes >= region && length <= server->readRegionLength &&
           static_cast<size_t>(bytes - region) <= server->readRegionLength - length;
}

// The view becomes a copy: the next piece does not follow it in the input.
void CopyView(NHServer* server)
{
    if (server->batchViewLength == 0) return;
    server->batchBytes.insert(server->batchBytes.end(), server->batchView, server->batchView + server->batchViewLength);
    server->batchView = nullptr;
    server->batchViewLength = 0;
}

}  // namespace

void NHServer_Broadcast(NHServer* server, uint64_t publisherID, const void* bytes, size_t length)
{
    if (!server) return;
    if (server->loopThread.load() != std::this_thread::get_id() || server->queue->draining ||
        server->broadcasting > 0) {
        NHServer_PostBroadcast(server, publisherID, bytes, length);
        return;
    }
    if (!BatchEmpty(server) && server->batchPublisher != publisherID) NHServer_FlushBroadcast(server);
    if (BatchEmpty(server)) CommandQueue_Drain(server->queue, RunCommand, server);
    if (length == 0 || !bytes) return;
    const unsigned char* at = static_cast<const unsigned char*>(bytes);
    server->batchPublisher = publisherID;
    // The pieces of one read follow each other in its input: the batch
    // points at them there until the read's end writes it out.
    if (server->batchBytes.empty() && InReadRegion(server, at, length)) {
        if (server->batchViewLength == 0) {
            server->batchView = at;
            server->batchViewLength = length;
            return;
        }
        if (server->batchView + server->batchViewLength == at) {
            server->batchViewLength += length;
            return;
        }
    }
    CopyView(server);
    server->batchBytes.insert(server->batchBytes.end(), at, at + length);
}

void NHServer_FlushBroadcast(NHServer* server)
{
    if (!server || BatchEmpty(server)) return;
    // Most subscribers take the bytes straight from the read's input or the
    // gathering buffer; the shared copy is made only when one of them has to
    // keep some.
    TcpConnectionPayload payload = {server->batchBytes.data(), server->batchBytes.size(), nullptr};
    if (server->batchViewLength > 0) payload = {server->batchView, server->batchViewLength, nullptr};
    BroadcastPayload(server, server->batchPublisher, &payload);
    TcpConnectionPayload_Release(&payload);
    server->batchBytes.clear();
    server->batchView = nullptr;
    server->batchViewLength = 0;
}

void NHServer_ReadRegion(void* arg, const unsigned char* bytes, size_t length)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (!server) return;
    // The end of the read: what it gathered goes out while its bytes are
    // still in the input.
    if (!bytes) NHServer_FlushBroadcast(server);
    server->readRegion = bytes;
    server->readRegionLength = bytes ? length : 0;
}

void NHServer_PostClose(NHServer* server, uint64_t channelID)
{
    if (!server) return;
    Post(server, NewEvent(DECODING_EVENT_CLOSE, channelID, 0));
}

void NHServer_PostCloseAfterFlush(NHServer* server, uint64_t channelID)
{
    if (!server) return;
    Post(server, NewEvent(DECODING_EVENT_CLOSE_AFTER_FLUSH, channelID, 0));
}

void NHServer_PostSend(NHServer* server, uint64_t channelID, const void* bytes, size_t length)
{
    if (!server) return;
    DecodingEvent* event = NewEvent(DECODING_EVENT_SEND, channelID, 0);
    event->payload = CopyBytes(bytes, length);
    Post(server, event);
}

void NHServer_PostSendChain(NHServer* server, uint64_t channelID, const CommonDataChain* chain)
{
    if (!server) return;
    DecodingEvent* event = NewEvent(DECODING_EVENT_SEND, channelID, 0);
    event->payload = CopyChain(chain);
    Post(server, event);
}

void NHServer_PostAddPublisher(NHServer* server, uint64_t channelID)
{
    if (!server) return;
    Post(server, NewEvent(DECODING_EVENT_ADD_PUBLISHER, channelID, 0));
}

void NHServer_PostRemovePublisher(NHServer* server, uint64_t channelID)
{
    if (!server) return;
    Post(server, NewEvent(DECODING_EVENT_REMOVE_PUBLISHER, channelID, 0));
}

void NHServer_PostSubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID)
{
    if (!server) return;
    Post(server, NewEvent(DECODING_EVENT_SUBSCRIBE, publisherID, subscriberID));
}

void NHServer_PostUnsubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID)
{
    if (!server) return;
    Post(server, NewEvent(DECODING_EVENT_UNSUBSCRIBE, publisherID, subscriberID));
}

void NHServer_PostBroadcast(NHServer* server, uint64_t publisherID, const void* bytes, size_t length)
{
    if (!server) return;
    DecodingEvent* event = NewEvent(DECODING_EVENT_BROADCAST, publisherID, 0);
    event->payload = CopyBytes(bytes, length);
    Post(server, event);
}

void NHServer_PostShutdown(NHServer* server, uint64_t channelID)
{
    if (!server) return;
    Post(server, NewEvent(DECODING_EVENT_SHUTDOWN, channelID, 0));
}

void NHServer_PostCall(NHServer* server, NHServerCallFn fn, void* arg)
{
    if (!server || !fn) return;
    DecodingEvent* event = NewEvent(DECODING_EVENT_CALL, 0, 0);
    event->call = fn;
    event->callArg = arg;
    Post(server, event);
}

bool NHServer_HasPublisher(NHServer* server, uint64_t channelID)
{
    if (!server) return false;
    PublisherTableGuard guard(server->publishers);
    return FindPublisher(server->publishers, channelID) != nullptr;
}

int NHServer_AddPublisher(NHServer* server, uint64_t channelID)
{
    return server ? AddPublisher(server->publishers, channelID) : 0;
}

int NHServer_Subscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID)
{
    return server ? Subscribe(server->publishers, publisherID, subscriberID) : 0;
}
