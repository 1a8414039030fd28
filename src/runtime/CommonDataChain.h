// Bytes carried between threads: a singly linked list of 5120-byte blocks,
// each with its own length. A chain has one owner at a time and no lock.
#pragma once

#include <cstdint>

static const uint32_t COMMON_DATA_CHAIN_SIZE = 5120;

struct CommonDataChain {
    CommonDataChain* next;
    unsigned char data[COMMON_DATA_CHAIN_SIZE];
    uint32_t len;
};

// A new zeroed block (the empty chain). Fatal when no memory can be had.
CommonDataChain* CommonDataChain_Alloc();

// 0 on success (also for n = 0); -1 for no chain or n > 5120, which appends
// nothing. One append spans at most two blocks.
int CommonDataChain_Append(CommonDataChain* chain, const void* bytes, uint32_t n);
int CommonDataChain_AppendString(CommonDataChain* chain, const char* text);

// Appends any number of bytes in pieces of at most one block. 0, or -1 for no chain.
int CommonDataChain_AppendAll(CommonDataChain* chain, const void* bytes, uint64_t n);

// A deep copy with the same blocks, data and lengths; nullptr for no chain.
CommonDataChain* CommonDataChain_Copy(const CommonDataChain* chain);

void CommonDataChain_Free(CommonDataChain* chain);
