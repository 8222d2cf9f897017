// Fixed-size block pools for tree nodes.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "common/base/GrowArray.h"

// Hands out blocks of N bytes carved from chunks of BlocksPerChunk blocks.
// Freed blocks go onto a free list and are handed out again first; chunks go
// back to the system only when the pool is destroyed, so building and
// clearing a tree over and over allocates nothing after the first build.
template <size_t N>
class CPoolAllocator {
    static_assert(N >= sizeof(void*), "a free block holds the link to the next one");

public:
    explicit CPoolAllocator(uint64_t blocksPerChunk) : m_blocksPerChunk(blocksPerChunk) {}
    CPoolAllocator(const CPoolAllocator&) = delete;
    CPoolAllocator& operator=(const CPoolAllocator&) = delete;
    ~CPoolAllocator() { Destroy(); }

    // Returns N bytes aligned for any node type. Throws TBadAlloc when a new
    // chunk cannot be had; the pool is then unchanged.
    void* Allocate()
    {
        if (m_free == nullptr)
            AddChunk();
        FreeBlock* block = m_free;
        m_free = block->next;
        return block;
    }

    void Free(void* block)
    {
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = m_free;
        m_free = freed;
    }

    void Destroy()
    {
        for (void* chunk : m_chunks)
            std::free(chunk);
        m_chunks.Free();
        m_free = nullptr;
    }

    uint64_t BlocksPerChunk() const { return m_blocksPerChunk; }
    uint64_t ChunkCount() const { return m_chunks.Count(); }
    uint64_t BytesHeld() const { return m_chunks.Count() * m_blocksPerChunk * N; }

private:
    struct FreeBlock {
        FreeBlock* next;
    };

    void AddChunk()
    {
        m_chunks.Reserve(m_chunks.Count() + 1);
        auto* chunk = static_cast<unsigned char*>(std::malloc(CheckedMul(m_blocksPerChunk, N)));
        if (chunk == nullptr)
            ThrowBadAlloc();
        m_chunks.PushBack(chunk);
        // Link in address order so blocks are handed out front to back.
        FreeBlock* next = nullptr;
        for (uint64_t i = m_blocksPerChunk; i-- > 0;) {
            auto* block = reinterpret_cast<FreeBlock*>(chunk + i * N);
            block->next = next;
            next = block;
        }
        m_free = next;
    }

    uint64_t m_blocksPerChunk;
    CGrowArray<void*> m_chunks;
    FreeBlock* m_free = nullptr;
};
