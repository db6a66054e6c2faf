// The C++ heap blocks of the unit test program (the library's own objects among them), counted by
// its replaced operator new and delete, so that a leak of the library's own allocations shows
// exactly, apart from the platform's heaps. The other forms of new and delete (arrays, sizes,
// nothrow) are the runtime's, which call these two.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

volatile LONG64 g_blocks = 0;

}  // namespace

namespace tarnix::test {

int64_t LiveHeapBlocks() noexcept { return g_blocks; }

}  // namespace tarnix::test

void* operator new(size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    InterlockedIncrement64(&g_blocks);
    return block;
}

void operator delete(void* block) noexcept {
    if (!block) return;
    InterlockedDecrement64(&g_blocks);
    std::free(block);
}
