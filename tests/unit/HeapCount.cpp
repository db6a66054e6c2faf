// The C++ heap blocks of the unit test program (the library's own objects among them), counted by
// its replaced operator new and delete, so that a leak of the library's own allocations shows
// exactly, apart from the platform's heaps. The other forms of new and delete (arrays, sizes,
// nothrow) are the runtime's, which call these two.
#include <malloc.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

volatile LONG64 g_blocks = 0;
volatile LONG64 g_bytes = 0;

}  // namespace

namespace tarnix::test {

int64_t LiveHeapBlocks() noexcept { return g_blocks; }
int64_t LiveHeapBytes() noexcept { return g_bytes; }

}  // namespace tarnix::test

void* operator new(size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    InterlockedIncrement64(&g_blocks);
    InterlockedAdd64(&g_bytes, static_cast<LONG64>(_msize(block)));
    return block;
}

void operator delete(void* block) noexcept {
    if (!block) return;
    InterlockedDecrement64(&g_blocks);
    InterlockedAdd64(&g_bytes, -static_cast<LONG64>(_msize(block)));
    std::free(block);
}
