#include "net/NHServerTesting.h"

#include "net/NHServerInternal.h"

TcpConnectionTable* NHServer_ConnectionTable(NHServer* server) { return server ? server->table : nullptr; }

PublisherTable* NHServer_PublisherTable(NHServer* server) { return server ? server->publishers : nullptr; }

uint32_t NHServer_QueuedCommands(NHServer* server)
{
    return server && server->queue ? CommandQueue_Count(server->queue) : 0;
}

void NHServer_TakeQueuedCommands(NHServer* server, CommandQueueRunFn visit, void* context)
{
    if (server && server->queue) CommandQueue_Drain(server->queue, visit, context);
}
