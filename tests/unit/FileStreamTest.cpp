// File streams as the download and upload use them and as a host reads a downloaded file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "support/Result.h"
#include "transport/FileStream.h"

namespace tarnix {
namespace {

ULONGLONG Position(IStream* stream) {
    ULARGE_INTEGER position = {};
    LARGE_INTEGER zero = {};
    EXPECT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_CUR, &position));
    return position.QuadPart;
}

TEST(FileStream, SeeksFromEachOriginAndRefusesAnyOther) {
    ComPtr<IStream> stream = CreateTempFileStream();
    ASSERT_EQ(S_OK, stream->Write("0123456789", 10, nullptr));
    const struct { DWORD origin; LONGLONG move; ULONGLONG expected; } cases[] = {
        {STREAM_SEEK_SET, 3, 3}, {STREAM_SEEK_CUR, 4, 7}, {STREAM_SEEK_CUR, -2, 5}, {STREAM_SEEK_END, -1, 9},
    };
    for (const auto& c : cases) {
        LARGE_INTEGER move;
        move.QuadPart = c.move;
        ULARGE_INTEGER position = {};
        ASSERT_EQ(S_OK, stream->Seek(move, c.origin, &position));
        EXPECT_EQ(c.expected, position.QuadPart);
    }
    LARGE_INTEGER one;
    one.QuadPart = 1;
    EXPECT_EQ(E_INVALIDARG, stream->Seek(one, 3, nullptr));
    EXPECT_EQ(9u, Position(stream.get())) << "a refused seek moved the file pointer";

    // Back to the start, the next read gives the file from its first byte.
    LARGE_INTEGER zero = {};
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    char text[16] = {};
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(text, sizeof text, &read));
    EXPECT_EQ(std::string("0123456789"), std::string(text, read));
    ULARGE_INTEGER size;
    size.QuadPart = 4;
    ASSERT_EQ(S_OK, stream->SetSize(size));
    EXPECT_EQ(4u, Position(stream.get())) << "the pointer stays at the new end";
}

// A stream on a named file tells its size, type and times but no name, and answers IStream and
// IUnknown only.
TEST(FileStream, StatTellsSizeTypeAndTimesAndQueryInterfaceIStreamOnly) {
    const std::string name = test::TempPath("tarnix-stat-probe.txt");
    ComPtr<IStream> stream = OpenFileStream(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                            nullptr);
    ASSERT_EQ(S_OK, stream->Write("hello", 5, nullptr));
    STATSTG stat;
    std::memset(&stat, 0xCD, sizeof stat);
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_DEFAULT));
    EXPECT_EQ(nullptr, stat.pwcsName);
    EXPECT_EQ(static_cast<DWORD>(STGTY_STREAM), stat.type);
    EXPECT_EQ(5u, stat.cbSize.QuadPart);
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
