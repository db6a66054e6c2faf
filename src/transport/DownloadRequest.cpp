#include "transport/DownloadRequest.h"

#include <cstring>
#include <optional>

#include "support/DecimalText.h"
#include "support/Text.h"
#include "transport/Exchange.h"
#include "transport/FileStream.h"

namespace tarnix {

void CDownloadRequest::Configure(std::string host, std::string objectPath, const char* destination) {
    Lock lock(m_lock);
    m_objectPath = std::move(objectPath);
    m_destination = TextOrEmpty(destination);
    m_contentType.clear();
    m_totalBytes = 0;
    m_bytesReceived = 0;
    m_result.reset();
    ConfigureCore(std::move(host));
}

void CDownloadRequest::BeginTransfer(std::string contentType, ULONG totalBytes) {
    Lock lock(m_lock);
    m_state = REQUEST_STATE_RUNNING;
    m_contentType = std::move(contentType);
    m_totalBytes = totalBytes;
    m_bytesReceived = 0;
}

void CDownloadRequest::AddBytesReceived(ULONG count) {
    Lock lock(m_lock);
    // Compared without overflow: the sum may pass 32 bits when the announced length is short.
    m_bytesReceived = count < m_totalBytes - m_bytesReceived ? m_bytesReceived + count : m_totalBytes;
}

void CDownloadRequest::FinishTransfer(IStream* stream) {
    Lock lock(m_lock);
    m_state = REQUEST_STATE_DONE;
    m_bytesReceived = m_totalBytes;
    m_result = ComPtr<IStream>(stream);
}

void CDownloadRequest::Process() { DownloadFrom(InetAddress{Host(), 0, false, m_objectPath}); }

void CDownloadRequest::DownloadFrom(InetAddress address) {
    ThrowIfAbandoned();
    std::optional<CDownloadFile> file;
    for (int redirects = 0;; ++redirects) {
        CInetExchange exchange(*this, "GET", address, kFileBlockSize);
        exchange.Send();
        const long status = exchange.StatusCode();
        std::string location;
        if (status >= 300 && status <= 399 && exchange.QueryHeader(HTTP_QUERY_LOCATION, location)) {
            ThrowHrIf(redirects == kMaxRedirects, HRESULT_FROM_WIN32(ERROR_HTTP_REDIRECT_FAILED));
            address = ResolveLocation(address, location);
            continue;
        }
        // An error page is never handed over as the file: it fails before the destination is
        // touched, so that nothing is created and an existing file keeps its contents.
        ThrowHrIf(status < 200 || status > 299, HResultFromHttpStatus(status));

        std::string contentType, length;
        exchange.QueryHeader(HTTP_QUERY_CONTENT_TYPE, contentType);  // stays empty without one
        const ULONG total = exchange.QueryHeader(HTTP_QUERY_CONTENT_LENGTH, length) ? ParseContentLength(length) : 0;
        BeginTransfer(std::move(contentType), total);

        file.emplace(m_destination);
        // A body cut short of its announced length fails in Read, so that such a file never
        // passes for complete.
        for (std::string_view block; !(block = exchange.Read()).empty();) {
            file->Write(block);
            AddBytesReceived(static_cast<ULONG>(block.size()));
        }
        break;
    }
    // The platform's handles are closed before the file is the host's: nothing of the worker's
    // is left to wait for once the state says done.
    FinishTransfer(file->Commit().get());
}

HRESULT CDownloadRequest::TransferReadable() const noexcept {
    if (m_status != S_OK) return m_status;
    return m_state == REQUEST_STATE_PENDING ? E_PENDING : S_OK;
}

HRESULT STDMETHODCALLTYPE CDownloadRequest::GetContentType(char* buffer, ULONG bufferSize) {
    Lock lock(m_lock);
    if (HRESULT hr = TransferReadable(); hr != S_OK) return hr;
    if (m_contentType.size() + 1 > bufferSize) return E_INVALIDARG;
    if (!buffer) return E_POINTER;
    std::memcpy(buffer, m_contentType.c_str(), m_contentType.size() + 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDownloadRequest::GetTotalBytes(ULONG* totalBytes) {
    Lock lock(m_lock);
    if (HRESULT hr = TransferReadable(); hr != S_OK) return hr;
    if (!totalBytes) return E_POINTER;
    *totalBytes = m_totalBytes;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDownloadRequest::GetBytesReceived(ULONG* bytesReceived) {
    Lock lock(m_lock);
    if (HRESULT hr = TransferReadable(); hr != S_OK) return hr;
    if (!bytesReceived) return E_POINTER;
    *bytesReceived = m_bytesReceived;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDownloadRequest::GetStream(IStream** stream) {
    Lock lock(m_lock);
    if (HRESULT hr = ResultsReadable(); hr != S_OK) return hr;
    if (!stream) return E_POINTER;
    // A seek of a local file: the only I/O done under the lock, so that every caller gets the
    // stream at its first byte.
    LARGE_INTEGER start = {};
    if (HRESULT hr = m_result->Seek(start, STREAM_SEEK_SET, nullptr); FAILED(hr)) return hr;
    *stream = ComPtr<IStream>(m_result).release();
    return S_OK;
}

}  // namespace tarnix
