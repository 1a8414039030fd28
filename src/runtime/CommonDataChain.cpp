#include "runtime/CommonDataChain.h"

#include "runtime/Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CommonDataChain* CommonDataChain_Alloc()
{
    CommonDataChain* block = static_cast<CommonDataChain*>(calloc(1, sizeof(CommonDataChain)));
    if (!block) Log_Fatal("%s:malloc error", "CommonDataChain_Alloc");
    return block;
}

int CommonDataChain_Append(CommonDataChain* chain, const void* bytes, uint32_t n)
{
    if (!chain) return -1;
    if (n > COMMON_DATA_CHAIN_SIZE) {
        Log_Info("COMMON_DATA_CHAIN_SIZE < %d Have full", static_cast<int>(n));
        return -1;
    }
    if (n == 0) return 0;
    if (!bytes) return -1;

    const unsigned char* src = static_cast<const unsigned char*>(bytes);
    CommonDataChain* block = chain;
    while (n > 0) {
        if (block->len >= COMMON_DATA_CHAIN_SIZE) {
            if (!block->next) block->next = CommonDataChain_Alloc();
            block = block->next;
            continue;
        }
        uint32_t room = COMMON_DATA_CHAIN_SIZE - block->len;
        uint32_t take = n < room ? n : room;
        memcpy(block->data + block->len, src, take);
        block->len += take;
        src += take;
        n -= take;
    }
    return 0;
}

int CommonDataChain_AppendString(CommonDataChain* chain, const char* text)
{
    if (!text) return -1;
    return CommonDataChain_Append(chain, text, static_cast<uint32_t>(strlen(text)));
}

int CommonDataChain_AppendAll(CommonDataChain* chain, const void* bytes, uint64_t n)
{
    if (!chain) return -1;
    const unsigned char* src = static_cast<const unsigned char*>(bytes);
    while (n > 0) {
        uint32_t take = n > COMMON_DATA_CHAIN_SIZE ? COMMON_DATA_CHAIN_SIZE : static_cast<uint32_t>(n);
        if (CommonDataChain_Append(chain, src, take) != 0) return -1;
        src += take;
        n -= take;
    }
    return 0;
}

CommonDataChain* CommonDataChain_Copy(const CommonDataChain* chain)
{
    if (!chain) return nullptr;
    CommonDataChain* head = CommonDataChain_Alloc();
    CommonDataChain* out = head;
    for (const CommonDataChain* in = chain; in; in = in->next) {
        if (in != chain) {
            out->next = CommonDataChain_Alloc();
            out = out->next;
        }
        memcpy(out->data, in->data, in->len);
        out->len = in->len;
    }
    return head;
}

void CommonDataChain_Free(CommonDataChain* chain)
{
    while (chain) {
        CommonDataChain* next = chain->next;
        free(chain);
        chain = next;
    }
}
