// CDownloadRequest: one file fetched with an HTTP GET and written to a local file as it arrives,
// with counters that the host polls while it runs. The body passes through one block
// (kFileBlockSize) straight into the file, so a download of any size runs in constant memory;
// the request's lock guards the counters only and is never held across network or file I/O.
// A named destination is replaced only once the whole body is in (CDownloadFile): a download
// that fails or is given up leaves it as it was.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wininet.h>

#include <string>

#include "requests/RequestBase.h"
#include "support/Handles.h"
#include "transport/Exchange.h"

namespace tarnix {

class CDownloadRequest : public CRequestBase<IDownloadRequest> {
public:
    // IDownloadRequest
    HRESULT STDMETHODCALLTYPE GetContentType(char* buffer, ULONG bufferSize) override;
    HRESULT STDMETHODCALLTYPE GetTotalBytes(ULONG* totalBytes) override;
    HRESULT STDMETHODCALLTYPE GetBytesReceived(ULONG* bytesReceived) override;
    HRESULT STDMETHODCALLTYPE GetStream(IStream** stream) override;

    // Where to fetch from (plain HTTP to the default port) and where to put the body: a named
    // file, or a temporary one when `destination` is null or empty. Makes the request wanted and
    // pending, without counters or result.
    void Configure(std::string host, std::string objectPath, const char* destination);

    CDownloadRequest() = default;

protected:
    ~CDownloadRequest() override = default;

    // Fetches the configured host and path.
    void Process() override;
    // Fetches the file from `address`, following at most kMaxRedirects redirects, each to an
    // http or https address.
    void DownloadFrom(InetAddress address);
    const std::string& ObjectPath() const noexcept { return m_objectPath; }

    // The counters, each under the lock. Received never exceeds total; finishing makes it total.
    void BeginTransfer(std::string contentType, ULONG totalBytes);
    void AddBytesReceived(ULONG count);
    void FinishTransfer(IStream* stream);

private:
    // Fails with the stored status, or E_PENDING until the transfer has begun. Call under m_lock.
    HRESULT TransferReadable() const noexcept;

    std::string m_objectPath;
    std::string m_destination;
    std::string m_contentType;
    ULONG m_totalBytes = 0;
    ULONG m_bytesReceived = 0;
    ComPtr<IStream> m_result;
};

// The platform's HRESULT for an HTTP status: 0x80190000 | status (404 gives 0x80190194).
inline HRESULT HResultFromHttpStatus(long status) noexcept {
    return static_cast<HRESULT>(0x80190000u | (static_cast<unsigned long>(status) & 0xFFFFu));
}

}  // namespace tarnix
