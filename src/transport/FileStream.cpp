#include "transport/FileStream.h"

#include <new>

#include "support/Result.h"

namespace tarnix {

namespace {

// A failed call that left no last error must still fail: a read would pass for the end of the
// file, a write for a whole one.
HRESULT FileFailure() noexcept { return LastErrorFailure(); }

class CFileStream final : public IStream {
public:
    CFileStream(UniqueFile file, bool flushOnClose) noexcept : m_file(std::move(file)), m_flushOnClose(flushOnClose) {}
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
        if (!ReadFile(m_file.get(), data, count, &done, nullptr)) return FileFailure();
        if (read) *read = done;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG count, ULONG* written) override {
        DWORD done = 0;
        if (!WriteFile(m_file.get(), data, count, &done, nullptr)) return FileFailure();
        if (written) *written = done;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        static const DWORD kMethods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
        if (origin > STREAM_SEEK_END) return E_INVALIDARG;
        LONG high = move.HighPart;
        SetLastError(NO_ERROR);
        const DWORD low = SetFilePointer(m_file.get(), static_cast<LONG>(move.LowPart), &high, kMethods[origin]);
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
        return SetEndOfFile(m_file.get()) ? S_OK : FileFailure();
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
        if (!GetFileInformationByHandle(m_file.get(), &info)) return FileFailure();
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
        if (m_file && m_flushOnClose) FlushFileBuffers(m_file.get());
    }

    volatile LONG m_refs = 1;
    UniqueFile m_file;
    bool m_flushOnClose;
};

// A file that is deleted as it closes is not flushed first: writing a large download to disk
// only to delete it would hold whoever releases the stream last (the host, or a worker) for no
// gain.
ComPtr<IStream> StreamOn(UniqueFile file, bool flushOnClose) {
    return ComPtr<IStream>::Attach(new CFileStream(std::move(file), flushOnClose));
}

UniqueFile CreateFileOrThrow(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    UniqueFile file(CreateFileA(name, access, share, nullptr, disposition, flags, nullptr));
    ThrowLastErrorIf(!file);
    return file;
}

// A new, empty file with a unique name "TAR....tmp" in `directory`, made by the platform.
std::string NewTempFileName(const char* directory) {
    char name[MAX_PATH + 1];
    ThrowLastErrorIf(GetTempFileNameA(directory, "TAR", 0, name) == 0);
    return name;
}

UniqueFile CreateDeleteOnCloseTempFile() {
    char directory[MAX_PATH + 1];
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    ThrowLastErrorIf(length == 0);
    ThrowHrIf(length > MAX_PATH, HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW));
    const std::string name = NewTempFileName(directory);
    try {
        return CreateFileOrThrow(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
    } catch (...) {
        DeleteFileA(name.c_str());  // the empty file that GetTempFileNameA made must not stay behind
        throw;
    }
}

}  // namespace

ComPtr<IStream> OpenFileStream(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                               SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                               DWORD flagsAndAttributes, HANDLE templateFile) {
    UniqueFile file(CreateFileA(fileName, desiredAccess, shareMode, securityAttributes, creationDisposition,
                                flagsAndAttributes, templateFile));
    ThrowLastErrorIf(!file);
    return StreamOn(std::move(file), (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) == 0);
}

ComPtr<IStream> CreateTempFileStream() { return StreamOn(CreateDeleteOnCloseTempFile(), false); }

CDownloadFile::CDownloadFile(const std::string& destination) {
    if (destination.empty()) {
        m_file = CreateDeleteOnCloseTempFile();
        return;
    }
    char full[MAX_PATH + 1];
    char* namePart = nullptr;
    const DWORD length = GetFullPathNameA(destination.c_str(), sizeof full, full, &namePart);
    ThrowLastErrorIf(length == 0);
    ThrowHrIf(length > MAX_PATH || !namePart, HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    m_destination = full;
    // What the replace would refuse at the end is refused before the body is fetched.
    const DWORD attributes = GetFileAttributesA(full);
    ThrowHrIf(attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)),
              HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    const std::string folder(full, namePart);
    m_partial = NewTempFileName(folder.c_str());
    m_file = CreateFileOrThrow(m_partial.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
}

CDownloadFile::~CDownloadFile() {
    m_file.reset();
    if (!m_partial.empty()) DeleteFileA(m_partial.c_str());
}

void CDownloadFile::Write(std::string_view bytes) {
    DWORD written = 0;
    ThrowLastErrorIf(!WriteFile(m_file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ThrowHrIf(written != bytes.size(), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
}

ComPtr<IStream> CDownloadFile::Commit() {
    if (m_destination.empty()) {
        LARGE_INTEGER start = {};
        ThrowLastErrorIf(!SetFilePointerEx(m_file.get(), start, nullptr, FILE_BEGIN));
        return StreamOn(std::move(m_file), false);
    }
    // On disk before it takes the destination's name, so that a crash cannot leave a short file
    // there.
    ThrowLastErrorIf(!FlushFileBuffers(m_file.get()));
    m_file.reset();
    ThrowLastErrorIf(!MoveFileExA(m_partial.c_str(), m_destination.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    m_partial.clear();
    return StreamOn(CreateFileOrThrow(m_destination.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0),
                    false);
}

}  // namespace tarnix
