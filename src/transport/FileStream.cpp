#include "transport/FileStream.h"

#include <new>

#include "support/Result.h"

namespace tarnix {

namespace {

// A failed call that left no last error must still fail: a read would pass for the end of the
// file, a write for a whole one.
HRESULT FileFailure() noexcept {
    HRESULT hr = HResultFromLastError();
    return FAILED(hr) ? hr : E_FAIL;
}

class CFileStream final : public IStream {
public:
    CFileStream(HANDLE file, bool flushOnClose) noexcept : m_file(file), m_flushOnClose(flushOnClose) {}
    CFileStream(const CFileStream&) = delete;
    CFileStream& operator=(const CFileStream&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        // IStream and IUnknown only: ISequentialStream is not answered.
        if (!IsEqualIID(iid, IID_IStream) && !IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *out = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    // References are taken and dropped on the worker that fills a download and on the host.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG count, ULONG* read) override {
        DWORD done = 0;
        if (!ReadFile(m_file, data, count, &done, nullptr)) return FileFailure();
        if (read) *read = done;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG count, ULONG* written) override {
        DWORD done = 0;
        if (!WriteFile(m_file, data, count, &done, nullptr)) return FileFailure();
        if (written) *written = done;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        static const DWORD kMethods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
        if (origin > STREAM_SEEK_END) return E_INVALIDARG;
        LONG high = move.HighPart;
        SetLastError(NO_ERROR);
        const DWORD low = SetFilePointer(m_file, static_cast<LONG>(move.LowPart), &high, kMethods[origin]);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return FileFailure();
        if (newPosition) {
            newPosition->LowPart = low;
            newPosition->HighPart = static_cast<DWORD>(high);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size.QuadPart);
        HRESULT hr = Seek(at, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr)) return hr;
        return SetEndOfFile(m_file) ? S_OK : FileFailure();
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD /*flags*/) override {
        if (!stat) return E_POINTER;
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(m_file, &info)) return FileFailure();
        // The name is never given, whatever the flag asks: the stream does not keep it.
        *stat = STATSTG();
        stat->type = STGTY_STREAM;
        stat->cbSize.HighPart = info.nFileSizeHigh;
        stat->cbSize.LowPart = info.nFileSizeLow;
        stat->mtime = info.ftLastWriteTime;
        stat->ctime = info.ftCreationTime;
        stat->atime = info.ftLastAccessTime;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~CFileStream() {
        if (m_file != INVALID_HANDLE_VALUE) {
            if (m_flushOnClose) FlushFileBuffers(m_file);
            CloseHandle(m_file);
        }
    }

    volatile LONG m_refs = 1;
    HANDLE m_file;
    bool m_flushOnClose;
};

// Hands the open file to a new stream, closing it if the stream cannot be made. A file that is
// deleted as it closes is not flushed first: writing a large download to disk only to delete it
// would hold whoever releases the stream last (the host, or a worker) for no gain.
ComPtr<IStream> StreamOn(HANDLE file, bool flushOnClose) {
    auto* stream = new (std::nothrow) CFileStream(file, flushOnClose);
    if (!stream) {
        CloseHandle(file);
        ThrowHr(E_OUTOFMEMORY);
    }
    return ComPtr<IStream>::Attach(stream);
}

}  // namespace

ComPtr<IStream> OpenFileStream(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                               SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                               DWORD flagsAndAttributes, HANDLE templateFile) {
    HANDLE file = CreateFileA(fileName, desiredAccess, shareMode, securityAttributes, creationDisposition,
                              flagsAndAttributes, templateFile);
    if (file == INVALID_HANDLE_VALUE) ThrowHr(FileFailure());
    return StreamOn(file, (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) == 0);
}

ComPtr<IStream> CreateTempFileStream() {
    char directory[MAX_PATH + 1];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    if (length == 0 || length > MAX_PATH) ThrowHr(length == 0 ? FileFailure() : E_FAIL);
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(directory, "TAR", 0, name) == 0) ThrowHr(FileFailure());
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const HRESULT hr = FileFailure();
        DeleteFileA(name);  // the empty file that GetTempFileNameA made must not stay behind
        ThrowHr(hr);
    }
    return StreamOn(file, false);
}

}  // namespace tarnix
