#include "requests/QueryRequest.h"

#include <cstring>

namespace tarnix {

void CQueryRequest::Configure(std::string host, std::string path) {
    Lock lock(m_lock);
    m_path = std::move(path);
    m_results.Clear();
    m_rowCount = 0;
    ConfigureCore(std::move(host));
}

void CQueryRequest::SetValue(ULONG row, const char* name, const char* value) {
    SetValue(row, name, std::string(value ? value : ""));
}

void CQueryRequest::SetValue(ULONG row, const char* name, std::string value) {
    Lock lock(m_lock);
    m_results.Set(row, name, std::move(value));
    if (m_rowCount < row + 1) m_rowCount = row + 1;
}

HRESULT STDMETHODCALLTYPE CQueryRequest::GetValue(ULONG row, const char* name, char* buffer, ULONG bufferSize) {
    return GuardHr([&]() -> HRESULT {
        Lock lock(m_lock);
        if (HRESULT hr = ResultsReadable(); hr != S_OK) return hr;
        const std::string* value = m_results.Find(row, name);
        if (!value) return E_INVALIDARG;
        if (value->size() + 1 > bufferSize) return E_INVALIDARG;
        if (!buffer) return E_POINTER;
        std::memcpy(buffer, value->c_str(), value->size() + 1);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CQueryRequest::GetValueLength(ULONG row, const char* name, ULONG* length) {
    return GuardHr([&]() -> HRESULT {
        Lock lock(m_lock);
        if (HRESULT hr = ResultsReadable(); hr != S_OK) return hr;
        const std::string* value = m_results.Find(row, name);
        if (!value) return E_INVALIDARG;
        if (!length) return E_POINTER;
        *length = static_cast<ULONG>(value->size());
        return S_OK;
    });
}

ULONG STDMETHODCALLTYPE CQueryRequest::GetRowCount() { return m_rowCount; }

}  // namespace tarnix
