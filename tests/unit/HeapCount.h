// The C++ heap blocks of the unit test program (the library's own objects among them), counted by
// its replaced operator new and delete, so that a leak of the library's own allocations shows
// exactly, apart from the platform's heaps.
#pragma once

#include <cstdint>

namespace tarnix::test {

int64_t LiveHeapBlocks() noexcept;
int64_t LiveHeapBytes() noexcept;

}  // namespace tarnix::test
