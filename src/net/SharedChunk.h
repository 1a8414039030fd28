// One piece of bytes shared by every connection it is written to: a fan-out
// keeps one copy of a chunk however many subscribers still wait for it, and
// each output buffer holds a reference instead of a copy of its own.
//
// Ownership: SharedChunk_New gives one reference to the caller. Every output
// buffer the chunk is added to holds one more, given back when the buffer
// has sent (or dropped) those bytes; the chunk is freed with the last
// reference. The count is atomic, so a chunk may be made on one thread and
// released on another; the bytes never change after SharedChunk_New.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct evbuffer;

struct SharedChunk {
    std::atomic<uint32_t> refs;
    uint32_t length;
    // length bytes follow the header
};

// A chunk holding a copy of length bytes (0 allowed), with one reference.
// Fatal when memory runs out.
SharedChunk* SharedChunk_New(const void* bytes, size_t length);
const unsigned char* SharedChunk_Bytes(const SharedChunk* chunk);
// Writable bytes, for the maker to fill before the chunk is shared.
unsigned char* SharedChunk_MutableBytes(SharedChunk* chunk);
void SharedChunk_Ref(SharedChunk* chunk);
// Gives one reference back; frees the chunk with the last. Null is ignored.
void SharedChunk_Release(SharedChunk* chunk);

// Appends the chunk's bytes from offset on to the buffer as a reference,
// without copying them: 0, or -1 when the buffer refuses.
int SharedChunk_AddTo(SharedChunk* chunk, struct evbuffer* buffer, size_t offset);
