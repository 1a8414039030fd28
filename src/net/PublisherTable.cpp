#include "net/PublisherTable.h"

#include "net/TcpConnection.h"
#include "runtime/Log.h"

#include <cstdlib>
#include <new>

namespace {

SubscriberNode* FindNode(PublisherEntry* entry, uint64_t subscriberID)
{
    if (!entry->bySubscriber) return nullptr;
    auto found = entry->bySubscriber->find(subscriberID);
    return found == entry->bySubscriber->end() ? nullptr : found->second;
}

void HookToConnection(SubscriberNode* node, TcpConnection* conn)
{
    node->conn = conn;
    node->nextOfConn = conn->subscriptions;
    node->backOfConn = &conn->subscriptions;
    if (conn->subscriptions) conn->subscriptions->backOfConn = &node->nextOfConn;
    conn->subscriptions = node;
}

void AppendNode(PublisherTable* table, PublisherEntry* entry, uint64_t subscriberID)
{
    SubscriberNode* node = static_cast<SubscriberNode*>(calloc(1, sizeof(SubscriberNode)));
    if (!node) Log_Fatal("%s:malloc error", "Subscribe");
    // IDs are never reused: a subscriber without a connection now has none
    // for good.
    TcpConnection* conn = table->connections ? TcpConnection_Find(table->connections, subscriberID) : nullptr;
    if (conn) HookToConnection(node, conn);
    if (!entry->bySubscriber) entry->bySubscriber = new (std::nothrow) std::unordered_map<uint64_t, SubscriberNode*>;
    if (!entry->bySubscriber) Log_Fatal("%s:malloc error", "Subscribe");
    (*entry->bySubscriber)[subscriberID] = node;
    node->channelID = subscriberID;
    node->next = nullptr;
    node->back = entry->tail;
    *entry->tail = node;
    entry->tail = &node->next;
}

void UnlinkNode(PublisherEntry* entry, SubscriberNode* node)
{
    SubscriberNode_Unhook(node);
    if (entry->bySubscriber) entry->bySubscriber->erase(node->channelID);
    if (node->next) {
        node->next->back = node->back;
    } else {
        entry->tail = node->back;
    }
    *node->back = node->next;
}

void FreeEntry(PublisherEntry* entry)
{
    SubscriberNode* node = entry->first;
    while (node) {
        SubscriberNode* next = node->next;
        SubscriberNode_Unhook(node);
        free(node);
        node = next;
    }
    delete entry->bySubscriber;
    free(entry);
}

}  // namespace

PublisherTable* PublisherTable_Create()
{
    PublisherTable* table = new (std::nothrow) PublisherTable;
    if (!table) Log_Fatal("%s:malloc error", "PublisherTable_Create");
    return table;
}

void PublisherTable_Free(PublisherTable* table)
{
    if (!table) return;
    {
        ScopedLock guard(table->lock);
        table->entries.Clear([](PublisherEntry* entry) { FreeEntry(entry); });
    }
    delete table;
}

void PublisherTable_Lock(PublisherTable* table) { table->lock.Enter(); }
void PublisherTable_Unlock(PublisherTable* table) { table->lock.Leave(); }

int AddPublisher(PublisherTable* table, uint64_t channelID)
{
    ScopedLock guard(table->lock);
    if (table->entries.Find(channelID)) {
        // A second, empty entry in front would hide the subscribers of the
        // first from every lookup and broadcast.
        Log_Info("Publisher(channelID:%lld) already exist.", static_cast<long long>(channelID));
        return 1;
    }
    PublisherEntry* entry = static_cast<PublisherEntry*>(calloc(1, sizeof(PublisherEntry)));
    if (!entry) Log_Fatal("%s:malloc error", "AddPublisher");
    entry->channelID = channelID;
    entry->first = nullptr;
    entry->tail = &entry->first;
    if (!table->entries.Insert(entry)) Log_Fatal("%s:malloc error", "PublisherTable_Grow");
    Log_Info("Add Publisher(channelID:%lld).", static_cast<long long>(channelID));
    return 1;
}

int RemovePublisher(PublisherTable* table, uint64_t channelID)
{
    ScopedLock guard(table->lock);
    PublisherEntry* entry = table->entries.Remove(channelID);
    if (!entry) return 0;
    FreeEntry(entry);
    return 1;
}

int RekeyPublisher(PublisherTable* table, uint64_t oldChannelID, uint64_t newChannelID)
{
    ScopedLock guard(table->lock);
    PublisherEntry* entry = table->entries.HasBuckets() ? table->entries.Find(oldChannelID) : nullptr;
    if (!entry) {
        Log_Info("Publisher(channelID:%lld) not exist.", static_cast<long long>(oldChannelID));
        return 0;
    }
    if (oldChannelID == newChannelID) return 1;
    table->entries.Remove(oldChannelID);
    PublisherEntry* existing = table->entries.Find(newChannelID);
    if (existing) {
        // Keep both audiences: a second entry under the new ID would shadow one of them.
        for (SubscriberNode* node = entry->first; node; node = node->next) {
            if (!FindNode(existing, node->channelID)) AppendNode(table, existing, node->channelID);
        }
        FreeEntry(entry);
        return 1;
    }
    entry->channelID = newChannelID;
    if (!table->entries.Insert(entry)) Log_Fatal("%s:malloc error", "PublisherTable_Grow");
    return 1;
}

int Subscribe(PublisherTable* table, uint64_t publisherID, uint64_t subscriberID)
{
    ScopedLock guard(table->lock);
    PublisherEntry* entry = table->entries.HasBuckets() ? table->entries.Find(publisherID) : nullptr;
    if (!entry) {
        Log_Info("Publisher(channelID:%lld) not exist.", static_cast<long long>(publisherID));
        return 0;
    }
    if (FindNode(entry, subscriberID)) {
        Log_Info("Sub(channelID:%lld) already subcribe Pub(channelID:%lld).",
                 static_cast<long long>(subscriberID), static_cast<long long>(publisherID));
        return 1;
    }
    AppendNode(table, entry, subscriberID);
    return 1;
}

int Unsubscribe(PublisherTable* table, uint64_t publisherID, uint64_t subscriberID)
{
    ScopedLock guard(table->lock);
    PublisherEntry* entry = table->entries.Find(publisherID);
    if (!entry) return 0;
    SubscriberNode* node = FindNode(entry, subscriberID);
    if (!node) return 0;
    UnlinkNode(entry, node);
    free(node);
    return 1;
}

PublisherEntry* FindPublisher(PublisherTable* table, uint64_t channelID)
{
    ScopedLock guard(table->lock);
    return table->entries.Find(channelID);
}

SubscriberNode** FindSubscriberList(PublisherTable* table, uint64_t channelID)
{
    ScopedLock guard(table->lock);
    PublisherEntry* entry = table->entries.Find(channelID);
    return entry ? &entry->first : nullptr;
}

bool PublisherTable_CopySubscribers(PublisherTable* table, uint64_t channelID, std::vector<uint64_t>* out)
{
    out->clear();
    ScopedLock guard(table->lock);
    PublisherEntry* entry = table->entries.Find(channelID);
    if (!entry) return false;
    for (SubscriberNode* node = entry->first; node; node = node->next) out->push_back(node->channelID);
    return true;
}

int PublisherTable_Grow(PublisherTable* table, uint32_t wanted)
{
    ScopedLock guard(table->lock);
    return table->entries.Grow(wanted);
}

uint32_t PublisherTable_Count(PublisherTable* table)
{
    ScopedLock guard(table->lock);
    return table->entries.Count();
}
