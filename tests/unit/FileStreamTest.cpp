// File streams as the download, the upload and a host use them: the pointer stays at a new end; seeks go by 64 bits
// from each origin (any other refused where it stands); Stat tells size, type and time only; only IStream and IUnknown answer.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "TestFiles.h"
#include "transport/FileStream.h"

namespace tarnix {
namespace {

TEST(FileStream, SeeksReadsResizesAndTellsAHostWhatItIs) {
    const ComPtr<IStream> stream = OpenFileStream(test::TempPath("tarnix-stream-probe.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                  nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_EQ(S_OK, stream->Write("0123456789", 10, nullptr));
    ASSERT_EQ(S_OK, stream->SetSize(ULARGE_INTEGER{{4, 0}}));
    const struct { LONGLONG by; DWORD origin; ULONGLONG at; } seeks[] = {
        {0, STREAM_SEEK_CUR, 4}, {(1ll << 32) + 3, STREAM_SEEK_SET, (1ull << 32) + 3},  // past 4 GiB, where a file may point
        {-(1ll << 32), STREAM_SEEK_CUR, 3}, {-1, STREAM_SEEK_END, 3}, {1, 3, ~0ull}, {1, ~0u, ~0ull}, {0, STREAM_SEEK_CUR, 3},
        {0, STREAM_SEEK_SET, 0}};
    for (const auto& s : seeks) {
        LARGE_INTEGER by;
        by.QuadPart = s.by;
        ULARGE_INTEGER at = {};
        EXPECT_EQ(s.at, SUCCEEDED(stream->Seek(by, s.origin, &at)) ? at.QuadPart : ~0ull) << s.by << " from " << s.origin;
    }
    char text[16] = {};
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(text, sizeof text, &read));
    EXPECT_EQ("0123", std::string(text, read));

    STATSTG stat;
    FillMemory(&stat, sizeof stat, 0xCD);
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_DEFAULT));
    EXPECT_EQ(std::make_tuple(static_cast<LPOLESTR>(nullptr), static_cast<DWORD>(STGTY_STREAM), 4ull, 0ul),
              std::make_tuple(stat.pwcsName, stat.type, stat.cbSize.QuadPart,
                              stat.grfMode | stat.grfLocksSupported | stat.clsid.Data1 | stat.grfStateBits | stat.reserved));
    EXPECT_NE(0u, stat.mtime.dwLowDateTime | stat.mtime.dwHighDateTime);
    for (const IID* iid : {&IID_IStream, &IID_IUnknown, &IID_ISequentialStream}) {
        void* out = &stat;
        const bool answers = iid != &IID_ISequentialStream;
        EXPECT_EQ(answers ? S_OK : E_NOINTERFACE, stream->QueryInterface(*iid, &out));
        EXPECT_EQ(answers ? static_cast<void*>(stream.get()) : &stat, out);  // untouched when refused
        if (answers) stream->Release();
    }
}

}  // namespace
}  // namespace tarnix
