// Reference-counted owners of the WinINet handles of one HTTP exchange. They form a chain:
// session -> connection -> request -> I/O object; each holds a reference on its parent, so
// handles close child first (request, then connection, then session) as the chain is released.
// The objects of one exchange never leave the worker thread that made them, so their counts
// are plain. The I/O calls return the platform's outcome as it is: on an asynchronous session an
// operation that goes on in the background gives HRESULT_FROM_WIN32(ERROR_IO_PENDING), and its
// end is reported to the request handle's CInetCompletion (below).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <vector>

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
    // Every buffer given to these calls must stay valid until the operation has ended, which on
    // an asynchronous session may be after the call returns.
    virtual HRESULT AddRequestHeaders(const char* headers, DWORD headersLength, DWORD modifiers);
    virtual HRESULT QueryInfo(DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index);
    // InternetReadFileExA into buffers->lpvBuffer; the count read comes back in dwBufferLength.
    // (InternetReadFile would zero a caller's count after an asynchronous read had filled it.)
    virtual HRESULT ReadData(INTERNET_BUFFERSA* buffers);
    virtual HRESULT SendRequest(const char* headers, DWORD headersLength, const void* optional, DWORD optionalLength);
    // A request whose body follows in pieces: HttpSendRequestExA, InternetWriteFile, HttpEndRequestA.
    virtual HRESULT SendRequestEx(INTERNET_BUFFERSA* buffersIn);
    virtual HRESULT WriteData(const void* data, DWORD length, DWORD* written);
    virtual HRESULT EndRequest();
    virtual HRESULT SetOption(DWORD option, DWORD value);
    virtual HRESULT Init(CInetRequest* request);

protected:
    ~CInetRequestIo() override;

private:
    HINTERNET RequestHandle() const noexcept;
    CInetRequest* m_parent = nullptr;
};

// The outcome of a WinINet call that reports failure by FALSE: the last error as an HRESULT, and
// E_FAIL when the call left none (a failed read must never end a body as if it were whole).
HRESULT InetCallResult(BOOL succeeded) noexcept;

// Makes a session holding one reference for the caller; *session is null on failure.
HRESULT CreateInetSession(CInetSession** session);

// What the platform reports about one asynchronous request handle, and everything it may still
// touch after the exchange that owns the handle has given up: the read and write buffers and the
// copy of a body being sent. The exchange holds one reference and the handle another, which the
// handle drops when the platform reports it closing (its last callback). Counted with interlocked
// operations: the callbacks arrive on the platform's threads.
class CInetCompletion {
public:
    // A new completion with one reference for the caller, or null when memory is short.
    static CInetCompletion* Create() noexcept;
    void AddRef() noexcept;
    void Release() noexcept;

    // The value to give the platform as the request handle's context.
    DWORD_PTR Context() noexcept { return reinterpret_cast<DWORD_PTR>(this); }
    // The handle opened with Context() now holds a reference, until it reports closing.
    void AttachHandle() noexcept;
    // Drops the handle's reference once, whoever comes first: the closing report, or the
    // exchange when opening the handle failed.
    void DetachHandle() noexcept;

    // Before an operation that may end in the background. The end of an operation is told by an
    // auto-reset event that the wait which sees it consumes, so nothing needs resetting here
    // unless an end was never waited for: a reset is a round trip to the system's kernel side
    // (the wineserver under Wine), which would be paid on every exchange and every block.
    void Arm() noexcept;
    // True once the operation armed last has ended (within `timeoutMs`). Says so once.
    bool WaitEnded(DWORD timeoutMs) noexcept;
    // How it ended: S_OK, or the failure the platform reported.
    HRESULT Outcome() const noexcept;

    // The status callback installed on every asynchronous session of the library.
    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                        DWORD infoLength);

    static constexpr DWORD kBlockSize = 4096;
    char readBlock[kBlockSize];
    INTERNET_BUFFERSA readBuffers;
    INTERNET_BUFFERSA sendBuffers;
    DWORD written = 0;
    std::vector<char> sendHeaders;  // headers of the request being sent
    std::vector<char> sendCopy;     // body or block being sent

private:
    CInetCompletion() noexcept;
    ~CInetCompletion();
    CInetCompletion(const CInetCompletion&) = delete;
    CInetCompletion& operator=(const CInetCompletion&) = delete;
    void Ended(DWORD_PTR result, DWORD error) noexcept;

    volatile LONG m_refs = 1;
    volatile LONG m_handleAttached = 0;
    HANDLE m_ended;
    volatile LONG m_signaled = 0;  // set with the event, cleared by the wait that sees it
    volatile DWORD_PTR m_result = 0;
    volatile DWORD m_error = 0;
};

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

// Counts for tests (through the static library; not visible to a host): the WinINet handles that
// the chains hold open now, and the completions alive. A completion outlives its exchange only
// while the platform still owes its handle's closing report (see support/Module.h CallbacksDue),
// which Wine sends once a given-up operation has ended on its own.
LONG OpenInetHandleCount() noexcept;
LONG LiveInetCompletionCount() noexcept;

// Constants of every exchange with the service.
constexpr char kInetAgent[] = "Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0";
constexpr char kHttpVersion[] = "HTTP/1.0";
constexpr DWORD kReadBlockSize = CInetCompletion::kBlockSize;

}  // namespace tarnix
