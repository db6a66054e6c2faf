#include "HeapCount.h"

#include <malloc.h>
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

volatile LONG64 g_blocks = 0;
volatile LONG64 g_bytes = 0;

void* Allocate(size_t size) noexcept {
    void* block = std::malloc(size ? size : 1);
    if (block) {
        InterlockedIncrement64(&g_blocks);
        InterlockedAdd64(&g_bytes, static_cast<LONG64>(_msize(block)));
    }
    return block;
}

void Free(void* block) noexcept {
    if (!block) return;
    InterlockedDecrement64(&g_blocks);
    InterlockedAdd64(&g_bytes, -static_cast<LONG64>(_msize(block)));
    std::free(block);
}

}  // namespace

namespace tarnix::test {

int64_t LiveHeapBlocks() noexcept { return g_blocks; }
int64_t LiveHeapBytes() noexcept { return g_bytes; }

}  // namespace tarnix::test

void* operator new(size_t size) {
    if (void* block = Allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, size_t) noexcept { Free(block); }
void operator delete[](void* block, size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
