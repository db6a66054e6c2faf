// CQueryRequest: a request whose answer is read into rows of named text values.
#pragma once

#include <string>

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

    const std::string& Path() const noexcept { return m_path; }

private:
    std::string m_path;
    CResultTable m_results;
    volatile ULONG m_rowCount = 0;
};

}  // namespace tarnix
