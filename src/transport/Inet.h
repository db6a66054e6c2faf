// Reference-counted owners of the WinINet handles of one HTTP exchange. They form a chain:
// session -> connection -> request -> I/O object; each holds a reference on its parent, so
// handles close child first (request, then connection, then session) as the chain is released.
// The objects of one exchange never leave the worker thread that made them, so their counts
// are plain.
#pragma once

#include <windows.h>
#include <wininet.h>

namespace tarnix {

class CInetObject {
public:
    CInetObject() = default;
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out);
    virtual ULONG STDMETHODCALLTYPE AddRef();
    virtual ULONG STDMETHODCALLTYPE Release();

protected:
    virtual ~CInetObject() = default;
    CInetObject(const CInetObject&) = delete;
    CInetObject& operator=(const CInetObject&) = delete;

private:
    ULONG m_refs = 0;
};

class CInetConnection;
class CInetRequest;
class CInetRequestIo;

class CInetSession : public CInetObject {
public:
    // InternetOpenA; hands out an unconnected connection.
    virtual HRESULT Open(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                         DWORD flags, CInetConnection** connection);
    virtual HRESULT Init();
    HINTERNET Handle() const noexcept { return m_handle; }

protected:
    ~CInetSession() override;

private:
    HINTERNET m_handle = nullptr;
};

class CInetConnection : public CInetObject {
public:
    // InternetConnectA on the session; hands out an unopened request.
    virtual HRESULT Connect(const char* serverName, INTERNET_PORT port, const char* userName, const char* password,
                            DWORD service, DWORD flags, DWORD_PTR context, CInetRequest** request);
    virtual HRESULT Init(CInetSession* session);
    HINTERNET Handle() const noexcept { return m_handle; }

protected:
    ~CInetConnection() override;

private:
    HINTERNET m_handle = nullptr;
    CInetSession* m_parent = nullptr;
};

class CInetRequest : public CInetObject {
public:
    // HttpOpenRequestA on the connection; hands out the I/O object.
    virtual HRESULT OpenRequest(const char* verb, const char* objectName, const char* version, const char* referrer,
                                const char** acceptTypes, DWORD flags, DWORD_PTR context, CInetRequestIo** io);
    virtual HRESULT Init(CInetConnection* connection);
    HINTERNET Handle() const noexcept { return m_handle; }

protected:
    ~CInetRequest() override;

private:
    HINTERNET m_handle = nullptr;
    CInetConnection* m_parent = nullptr;
};

class CInetRequestIo : public CInetObject {
public:
    virtual HRESULT AddRequestHeaders(const char* headers, DWORD headersLength, DWORD modifiers);
    virtual HRESULT QueryInfo(DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index);
    virtual HRESULT ReadData(void* buffer, DWORD bytesToRead, DWORD* bytesRead);
    virtual HRESULT SendRequest(const char* headers, DWORD headersLength, const void* optional, DWORD optionalLength);
    virtual HRESULT Init(CInetRequest* request);

protected:
    ~CInetRequestIo() override;

private:
    HINTERNET RequestHandle() const noexcept;
    CInetRequest* m_parent = nullptr;
};

// Makes a session holding one reference for the caller; *session is null on failure.
HRESULT CreateInetSession(CInetSession** session);

// Which level of the chain a handle belongs to.
enum class InetLevel { Session, Connection, Request };

// Watches the handles of every chain as they are opened and just before they are closed.
// Only tests set it (through the static library), to prove that every handle is closed, child
// first, whatever way an exchange ends.
struct InetHandleObserver {
    void (*opened)(InetLevel level, HINTERNET handle);
    void (*closing)(InetLevel level, HINTERNET handle);
};
InetHandleObserver& InetHandleObservers() noexcept;

// Constants of every exchange with the service.
constexpr char kInetAgent[] = "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0";
constexpr char kHttpVersion[] = "HTTP/1.0";
constexpr DWORD kReadBlockSize = 4096;

}  // namespace tarnix
