// One subscriber of a publisher (PublisherTable.h), and its link to the
// connection it names: a connection keeps the list of the nodes that name
// it, so that its close unhooks them.
#pragma once

#include <cstdint>

struct TcpConnection;

struct SubscriberNode {
    SubscriberNode* next;
    SubscriberNode** back;  // the field that points at this node
    uint64_t channelID;
    // The subscriber's connection while it is open, and the links of the
    // connection's own list of the nodes that name it.
    TcpConnection* conn;
    SubscriberNode* nextOfConn;
    SubscriberNode** backOfConn;  // the field of that list that points at this node
};

// Takes the node off its connection's list: it names no connection any more.
inline void SubscriberNode_Unhook(SubscriberNode* node)
{
    if (!node->conn) return;
    if (node->nextOfConn) node->nextOfConn->backOfConn = node->backOfConn;
    *node->backOfConn = node->nextOfConn;
    node->conn = nullptr;
    node->nextOfConn = nullptr;
    node->backOfConn = nullptr;
}
