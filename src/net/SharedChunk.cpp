#include "net/SharedChunk.h"

#include "runtime/Log.h"

#include <event2/buffer.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The buffer calls this once it no longer needs the bytes.
void ReleaseReference(const void*, size_t, void* chunk) { SharedChunk_Release(static_cast<SharedChunk*>(chunk)); }

}  // namespace

SharedChunk* SharedChunk_New(const void* bytes, size_t length)
{
    if (length > UINT32_MAX) Log_Fatal("%s:chunk of %lu bytes", "SharedChunk_New", static_cast<unsigned long>(length));
    void* memory = malloc(sizeof(SharedChunk) + (length ? length : 1));
    if (!memory) Log_Fatal("%s:malloc error", "SharedChunk_New");
    SharedChunk* chunk = new (memory) SharedChunk;
    chunk->refs.store(1, std::memory_order_relaxed);
    chunk->length = static_cast<uint32_t>(length);
    if (length > 0 && bytes) memcpy(SharedChunk_MutableBytes(chunk), bytes, length);
    return chunk;
}

const unsigned char* SharedChunk_Bytes(const SharedChunk* chunk)
{
    return reinterpret_cast<const unsigned char*>(chunk + 1);
}

unsigned char* SharedChunk_MutableBytes(SharedChunk* chunk) { return reinterpret_cast<unsigned char*>(chunk + 1); }

void SharedChunk_Ref(SharedChunk* chunk) { chunk->refs.fetch_add(1, std::memory_order_relaxed); }

void SharedChunk_Release(SharedChunk* chunk)
{
    if (!chunk) return;
    if (chunk->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    chunk->~SharedChunk();
    free(chunk);
}

int SharedChunk_AddTo(SharedChunk* chunk, struct evbuffer* buffer, size_t offset)
{
    if (offset >= chunk->length) return 0;
    SharedChunk_Ref(chunk);
    if (evbuffer_add_reference(buffer, SharedChunk_Bytes(chunk) + offset, chunk->length - offset, ReleaseReference,
                               chunk) != 0) {
        SharedChunk_Release(chunk);
        return -1;
    }
    return 0;
}
