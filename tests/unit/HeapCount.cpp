// The unit test program's C++ heap blocks, counted by its replaced operator new and delete so that a leak of the
// library's own objects shows apart from the platform's heaps (the other forms of new and delete call these two).
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

static volatile LONG64 g_blocks = 0;

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
