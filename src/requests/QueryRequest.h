// CQueryRequest: a request whose answer is read into rows of named text values.
#pragma once

#include <string>

#include "frame/Library.h"
#include "requests/RequestBase.h"
#include "requests/ResultTable.h"

namespace tarnix {

class CQueryRequest : public CRequestBase<IQueryRequest> {
public:
    // IQueryRequest
    HRESULT STDMETHODCALLTYPE GetValue(ULONG row, const char* name, char* buffer, ULONG bufferSize) override;
    HRESULT STDMETHODCALLTYPE GetValueLength(ULONG row, const char* name, ULONG* length) override;
    ULONG STDMETHODCALLTYPE GetRowCount() override;

    // Gives the request its host and gatekeeper path and makes it wanted, pending, without rows.
    void Configure(std::string host, std::string path);

protected:
    CQueryRequest() = default;
    ~CQueryRequest() override = default;

    // For Process: store one value (null name or value read as empty) and mark the request done.
    void SetValue(ULONG row, const char* name, const char* value);
    void SetValue(ULONG row, const char* name, std::string value);
    using CRequestCore::SetFinished;

    // The usual first step of Process: GET the path from the host.
    ComPtr<IStream> FetchAnswer() const;

    const std::string& Path() const noexcept { return m_path; }

private:
    std::string m_path;
    CResultTable m_results;
    volatile ULONG m_rowCount = 0;
};

// Queues a new request of type T on the general pool, configured for the service host and
// `path`, and hands it to the caller with one reference. On failure nothing is handed out.
template <class T>
HRESULT StartQueryRequest(std::string path, IQueryRequest** out) noexcept {
    if (!out) return E_POINTER;
    return GuardHr([&] {
        ComPtr<T> request(new T());  // the reference the caller receives
        request->Configure(ServiceHost(), std::move(path));
        QueueOnGeneralPool(request->Job());
        *out = request.release();
        return S_OK;
    });
}

}  // namespace tarnix
