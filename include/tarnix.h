/*
 * tarnix.h - public interface of tarnix.dll, the online family-tree service client.
 *
 * Every export is __stdcall unless marked TARNIX_CDECL. Text is zero-terminated narrow text in
 * the system ANSI code page. Buffers are (pointer, size in bytes including the terminator).
 *
 * Network operations are asynchronous: an export queues a request and hands the host an
 * interface pointer with one reference. The host polls GetStatus until it fails or reports
 * REQUEST_STATE_DONE, reads the results and calls Release. Releasing a request that has not
 * finished tells the library to give it up: its worker leaves the exchange within a fraction of
 * a second, whatever the server does.
 *
 * Every exchange bypasses the WinINet cache and has timeouts: 30 s to connect, 60 s for each
 * send and each receive; a server silent for longer fails the request with the platform's
 * error (0x80072EE2 or 0x80072EFE). TARNIXTerminate gives up exchanges still in flight: a request
 * that the host still holds then fails with E_ABORT (0x80004004). Release every request before
 * unloading the library.
 *
 * This header compiles as C and as C++.
 */
#ifndef TARNIX_H
#define TARNIX_H

#include <windows.h>
#include <objbase.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef TARNIX_BUILDING_LIBRARY
#define TARNIX_API
#else
#define TARNIX_API __declspec(dllimport)
#endif

#define TARNIX_STDCALL __stdcall
#define TARNIX_CDECL __cdecl

/* Request states reported by IRequest::GetStatus. */
#define REQUEST_STATE_PENDING 0
#define REQUEST_STATE_RUNNING 1 /* download requests only */
#define REQUEST_STATE_DONE 2

/*
 * IRequest: the front every request interface begins with.
 *   slot 0 QueryInterface, 1 AddRef, 2 Release (IUnknown), 3 GetStatus.
 * GetStatus returns the failure that ended the request if there is one (leaving *state
 * untouched), else S_OK with the state stored in *state.
 */
#undef INTERFACE
#define INTERFACE IRequest
DECLARE_INTERFACE_(IRequest, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
};

/*
 * IQueryRequest: rows of named text values.
 *   slot 4 GetValue, 5 GetValueLength, 6 GetRowCount.
 * Names are matched without regard to the case of A-Z. GetValue needs a buffer of the value's
 * length plus one; a smaller one gives E_INVALIDARG and is left untouched. Values read before
 * the request is done give E_PENDING; a (row, name) that holds nothing gives E_INVALIDARG.
 */
#undef INTERFACE
#define INTERFACE IQueryRequest
DECLARE_INTERFACE_(IQueryRequest, IRequest)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
    STDMETHOD(GetValue)(THIS_ ULONG row, const char *name, char *buffer, ULONG bufferSize) PURE;
    STDMETHOD(GetValueLength)(THIS_ ULONG row, const char *name, ULONG *length) PURE;
    STDMETHOD_(ULONG, GetRowCount)(THIS) PURE;
};
#undef INTERFACE

#if !defined(__cplusplus) || defined(CINTERFACE)
#define IQueryRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IQueryRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IQueryRequest_Release(p) (p)->lpVtbl->Release(p)
#define IQueryRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
#define IQueryRequest_GetValue(p, a, b, c, d) (p)->lpVtbl->GetValue(p, a, b, c, d)
#define IQueryRequest_GetValueLength(p, a, b, c) (p)->lpVtbl->GetValueLength(p, a, b, c)
#define IQueryRequest_GetRowCount(p) (p)->lpVtbl->GetRowCount(p)
#endif

/* ---- Lifecycle and connectivity ---------------------------------------------------------- */

/* Starts the worker pools on the outermost call; calls nest and are undone by TARNIXTerminate. */
TARNIX_API HRESULT TARNIX_STDCALL TARNIXInitialize(DWORD reserved);
TARNIX_API void TARNIX_STDCALL TARNIXTerminate(void);

/* Non-zero when the system reports an Internet connection. */
TARNIX_API BOOL TARNIX_STDCALL TarnixGetConnectedState(void);
/* 1 when the system reaches the Internet through a modem that may be dialled, else 0. */
TARNIX_API BOOL TARNIX_STDCALL TarnixCanConnect(void);
/* 1 when connected (dialling if a modem is configured); else tells the user and returns 0. */
TARNIX_API BOOL TARNIX_STDCALL TarnixConnect(HWND owner, const char *caption);

/* ---- URL encoding and browser addresses (no initialization needed) ---------------------- */
/*
 * Every buffer size counts the terminator. A size of 0 gives E_INVALIDARG and a null buffer
 * E_POINTER, with nothing written; a null text reads as empty (except TarnixURLEncode's text,
 * which gives E_POINTER). The search addresses carry method - 1 and the fields escaped; the
 * login and sign-up addresses carry the co-brand code as given.
 */
/* Escapes text for a query value; cuts to bufferSize - 1 bytes and zero-fills the buffer. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixURLEncode(const char *text, char *buffer, ULONG bufferSize);
/* Search of the service's data; E_INVALIDARG and nothing written when the buffer is too small. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchDataURL(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand, int method,
    char *buffer, ULONG bufferSize);
/* Search of the online trees; E_INVALIDARG and nothing written when the buffer is too small. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchTreeURL(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand, int method,
    char *buffer, ULONG bufferSize);
/* Search of the message boards; E_INVALIDARG and nothing written when the buffer is too small. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchBoardsURL(const char *surname,
    const char *givenNames, const char *birthPlace, int birthYear, const char *deathPlace,
    int deathYear, const char *father, const char *mother, const char *spouse,
    const char *cobrand, int method, char *buffer, ULONG bufferSize);
/* Login page; cuts to bufferSize - 1 bytes and zero-fills the buffer. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixGetLoginURL(char *buffer, ULONG bufferSize,
    const char *cobrand);
/* Sign-up page; cuts to bufferSize - 1 bytes and zero-fills the buffer. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixGetSignUpURL(char *buffer, ULONG bufferSize,
    const char *cobrand);

/* ---- Sign-in, sites and online trees (need TARNIXInitialize) ----------------------------- */
/*
 * Each queues a request and stores it, with one reference for the caller, in *request; on
 * failure (E_POINTER for a null request argument, E_FAIL when the library is not initialized
 * or the queue is full) nothing is stored. A null text reads as empty.
 */
/* Signs in: row 0 "att" holds the ticket. User name and password are escaped for the query. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixLogin(const char *userName, const char *password,
    IQueryRequest **request);
/* The user's sites: one row each with "SiteID", "SiteName", "SiteRights", "Rights". */
TARNIX_API HRESULT TARNIX_STDCALL TarnixListUserSites(const char *ticket,
    IQueryRequest **request);
/* The online trees: one row each with "SiteID", "SiteName", "CollectionID", "OFTName",
 * "Permission", "DownloadStatus". Ticket and co-brand code are sent as given. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixListOnlineFamilyTrees(const char *ticket,
    const char *cobrand, IQueryRequest **request);

/* ---- Create, replace and export online trees (need TARNIXInitialize) --------------------- */
/*
 * Each queues a request and stores it, with one reference for the caller, in *request (on
 * failure nothing is stored: E_POINTER for a null request argument, E_FAIL when the library is
 * not initialized or the queue is full). A null text reads as empty. The request has no values:
 * GetStatus reports S_OK with REQUEST_STATE_DONE once the service has accepted the upload or the
 * export order, else the failure (the local file's, the network's, E_FAIL for an HTTP status
 * other than 200, or the service's own HRESULT). Create and replace post the local file, sent
 * unchanged in blocks, with the ticket in a cookie. A local file whose body would not fit a
 * 32-bit length (4 GiB, less the 200-odd bytes of framing) fails with
 * HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) before anything is sent; one that ends before its size
 * fails with HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) before its body is complete. An empty local file name
 * sends a GET with the ticket in the query instead. Ticket and co-brand code are sent as given;
 * identifiers and the tree name are escaped.
 */
#if !defined(__cplusplus) || defined(CINTERFACE)
#define IRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IRequest_Release(p) (p)->lpVtbl->Release(p)
#define IRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
#endif
/* A new online tree on site siteId; submitToWorldTree non-zero also shares it (forvwt=Y). */
TARNIX_API HRESULT TARNIX_STDCALL TarnixCreateOnlineFamilyTree(const char *ticket,
    const char *localFile, const char *siteId, const char *treeName, BOOL submitToWorldTree,
    const char *cobrand, IRequest **request);
/* Replaces the online tree collectionId with the local file. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixUpdateOnlineFamilyTree(const char *ticket,
    const char *localFile, const char *collectionId, const char *cobrand, IRequest **request);
/* Asks the service to prepare the GEDCOM export of collectionId (always a GET). */
TARNIX_API HRESULT TARNIX_STDCALL TarnixExportOnlineFamilyTree(const char *ticket,
    const char *collectionId, const char *cobrand, IRequest **request);

#ifdef __cplusplus
}
#endif

#endif /* TARNIX_H */
