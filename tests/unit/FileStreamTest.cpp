// File streams as the download and upload use them and as a host reads a downloaded file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestFiles.h"
#include "support/Result.h"
#include "transport/FileStream.h"

namespace tarnix {
namespace {

// Moves by `by` from `origin` and gives the new position, ~0 if refused.
ULONGLONG Seek(IStream* stream, LONGLONG by, DWORD origin) {
    LARGE_INTEGER move;
    move.QuadPart = by;
    ULARGE_INTEGER position = {};
    return SUCCEEDED(stream->Seek(move, origin, &position)) ? position.QuadPart : ~0ull;
}

// A stream on a named file seeks from each origin and refuses any other, reads from where it is,
// keeps its pointer at a new end, tells its size, type and times but no name, and answers IStream
// and IUnknown only.
TEST(FileStream, SeeksReadsResizesAndTellsAHostWhatItIs) {
    const std::string name = test::TempPath("tarnix-stream-probe.txt");
    ComPtr<IStream> stream = OpenFileStream(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                            nullptr);
    ASSERT_EQ(S_OK, stream->Write("0123456789", 10, nullptr));
    EXPECT_EQ(3u, Seek(stream.get(), 3, STREAM_SEEK_SET));
    EXPECT_EQ(7u, Seek(stream.get(), 4, STREAM_SEEK_CUR));
    EXPECT_EQ(5u, Seek(stream.get(), -2, STREAM_SEEK_CUR));
    EXPECT_EQ(9u, Seek(stream.get(), -1, STREAM_SEEK_END));
    EXPECT_EQ(~0ull, Seek(stream.get(), 1, 3));
    EXPECT_EQ(9u, Seek(stream.get(), 0, STREAM_SEEK_CUR)) << "a refused seek moved the file pointer";
    // Back to the start, the next read gives the file from its first byte.
    EXPECT_EQ(0u, Seek(stream.get(), 0, STREAM_SEEK_SET));
    char text[16] = {};
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(text, sizeof text, &read));
    EXPECT_EQ(std::string("0123456789"), std::string(text, read));
    ULARGE_INTEGER size;
    size.QuadPart = 4;
    ASSERT_EQ(S_OK, stream->SetSize(size));
    EXPECT_EQ(4u, Seek(stream.get(), 0, STREAM_SEEK_CUR)) << "the pointer stays at the new end";

    STATSTG stat;
    std::memset(&stat, 0xCD, sizeof stat);
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_DEFAULT));
    EXPECT_EQ(nullptr, stat.pwcsName);
    EXPECT_EQ(static_cast<DWORD>(STGTY_STREAM), stat.type);
    EXPECT_EQ(4u, stat.cbSize.QuadPart);
    EXPECT_NE(0u, stat.mtime.dwLowDateTime | stat.mtime.dwHighDateTime);
    EXPECT_EQ(0u, stat.grfMode);
    EXPECT_EQ(0u, stat.grfLocksSupported);
    EXPECT_EQ(0u, stat.clsid.Data1);
    EXPECT_EQ(E_NOTIMPL, stream->Commit(0));
    EXPECT_EQ(E_NOTIMPL, stream->Clone(nullptr));

    for (const IID* iid : {&IID_IStream, &IID_IUnknown}) {
        void* out = nullptr;
        ASSERT_EQ(S_OK, stream->QueryInterface(*iid, &out));
        EXPECT_EQ(static_cast<void*>(stream.get()), out);
        static_cast<IUnknown*>(out)->Release();
    }
    void* untouched = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_NOINTERFACE, stream->QueryInterface(IID_ISequentialStream, &untouched));
    EXPECT_EQ(reinterpret_cast<void*>(0xdeadbeef), untouched);
    stream.reset();
    DeleteFileA(name.c_str());
}

}  // namespace
}  // namespace tarnix
