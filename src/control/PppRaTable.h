// The PPP-RA stations that a "PPP-RTK" base announces on the caster port,
// keyed by station id. Records come only from that base's reports; nothing
// is stored on disk, and a restart starts empty.
//
// Locking: one process-wide critical section for every PppRaTable, entered
// with PppRaTable::Lock and left with PppRaTable::Unlock. Every operation
// expects the caller to hold it; a record pointer is valid only while it is
// held. It is a leaf: nothing else is locked under it.
#pragma once

#include "runtime/HashTable.h"

#include <cstdint>
#include <memory>

enum {
    PPPRA_TEXT_SIZE = 30,
    PPPRA_IP_SIZE = 30,
    PPPRA_SOURCE_LIST_SIZE = 54,
    PPPRA_ID_LIST_MAX = 200,
    // Stations held at most: a report for a new id past it is not stored,
    // so no peer can grow the table without bound. Known ids still update.
    PPPRA_MAX_STATIONS = 10000,
    // The shortest time between two lines about refused reports.
    PPPRA_REFUSAL_LOG_MS = 1000,
};

struct PppRaRecord {
    int32_t stationId;  // the key
    int32_t stationPort;
    char text[PPPRA_TEXT_SIZE];  // no report fills it
    char stationIp[PPPRA_IP_SIZE];
    char externalIp[PPPRA_IP_SIZE];
    char sourceList[PPPRA_SOURCE_LIST_SIZE];
    double b, l, h;  // the station's position
    double x, y, z;  // station_m_xyz
    double n, e, u;  // station_neu
    // Kept empty: every write of a record clears them, and nothing adds to them.
    int32_t ids[PPPRA_ID_LIST_MAX];
    int32_t idCount;
};

struct PppRaNode {
    PppRaNode* next;
    uint32_t key;  // the station id as unsigned
    PppRaRecord record;
};

struct PppRaTraits {
    typedef uint32_t Key;
    static Key KeyOf(const PppRaNode* n) { return n->key; }
    static PppRaNode** LinkOf(PppRaNode* n) { return &n->next; }
    static uint32_t Hash(const Key& k, uint32_t buckets) { return k % buckets; }
    static bool Equal(const Key& a, const Key& b) { return a == b; }
};

struct PppRaTable {
    static PppRaTable* Create();
    ~PppRaTable();

    // Overwrites the record of the same id, or stores a copy in a new node.
    // False for a null record, when memory runs out, or for a new id when
    // the table holds PPPRA_MAX_STATIONS already (logged, once a second at
    // most, with how many were refused since the last line).
    bool Upsert(const PppRaRecord* record);
    // Overwrites the record of the same id; false when there is none.
    bool Update(const PppRaRecord* record);
    // Unlinks the record of the id and hands it to the caller; null when absent.
    std::unique_ptr<PppRaRecord> Remove(int32_t stationId);
    PppRaRecord* Find(int32_t stationId);
    int Count() const;

    static void Lock();
    static void Unlock();

private:
    PppRaTable() = default;
    // The growth step of the registry convention, then the link.
    bool Insert(PppRaNode* node);

    void NoteRefused(int32_t stationId);

    IntrusiveHashTable<PppRaNode, PppRaTraits> hash_;
    int64_t refusalLogMs_ = 0;      // steady time of the last refusal line
    uint32_t refusedSinceLog_ = 0;  // refusals since that line
};
