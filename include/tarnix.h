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
 * error (0x80072EE2 or 0x80072EFE). An answer cut off before its status line or before its
 * announced Content-Length fails with 0x80072EFE. TARNIXTerminate gives up exchanges still in
 * flight: a request that the host still holds then fails with E_ABORT (0x80004004), or stays
 * pending if it was still queued; either may still be released.
 *
 * Unloading: before the last FreeLibrary the host releases every request it holds and matches
 * every TARNIXInitialize with a TARNIXTerminate, in either order; nothing of the library may be
 * called after it, a request's Release included. The library then goes once its workers have
 * left; while WinINet still owes a given-up exchange its last callback, the library pins itself
 * in the process instead, so that the callback never finds it unmapped.
 *
 * Development: when the environment variable TARNIX_SERVICE holds "host" or "host:port" as the
 * outermost TARNIXInitialize runs, every gatekeeper request goes there directly (for instance a
 * local service at 127.0.0.1:8080) instead of to the built-in service host. Unset, or holding
 * anything else, it changes nothing. Browser addresses always name the built-in service host.
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

/* ---- Downloads (need TARNIXInitialize) ---------------------------------------------------- */
/*
 * IDownloadRequest: one file fetched with an HTTP GET and written to a local file as it arrives.
 *   slot 4 GetContentType, 5 GetTotalBytes, 6 GetBytesReceived, 7 GetStream.
 * GetStatus reports REQUEST_STATE_RUNNING once the answer's headers are in and the body is being
 * written, REQUEST_STATE_DONE once the whole body is in the file. Slots 4 to 6 answer from
 * RUNNING on, GetStream only when DONE; before that they give E_PENDING, after a failure the
 * failure. GetContentType needs a buffer of the type's length plus one (E_INVALIDARG and the
 * buffer untouched otherwise); an answer without the header gives an empty type.
 * GetTotalBytes is the answer's Content-Length, 0 when it has none or one that is not a number
 * of at most 32 bits; GetBytesReceived never exceeds it and equals it once DONE (so without a
 * length the host sees no progress until the end). GetStream hands out the downloaded file as
 * a stream at its first byte; every caller shares that one stream and its position.
 * Failures: an answer status outside 200-299 fails with 0x80190000 | status (404 gives
 * 0x80190194) before any file is created or an existing one truncated; a body that ends before
 * its Content-Length fails with 0x80072EFE. A temporary file goes with the last reference to the
 * request and its stream. A named file that a transfer had begun to fill, and that failed or
 * was given up (released by the host), stays on disk with the bytes written so far.
 */
#undef INTERFACE
#define INTERFACE IDownloadRequest
DECLARE_INTERFACE_(IDownloadRequest, IRequest)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
    STDMETHOD(GetContentType)(THIS_ char *buffer, ULONG bufferSize) PURE;
    STDMETHOD(GetTotalBytes)(THIS_ ULONG *totalBytes) PURE;
    STDMETHOD(GetBytesReceived)(THIS_ ULONG *bytesReceived) PURE;
    STDMETHOD(GetStream)(THIS_ IStream **stream) PURE;
};
#undef INTERFACE

#if !defined(__cplusplus) || defined(CINTERFACE)
#define IDownloadRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDownloadRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDownloadRequest_Release(p) (p)->lpVtbl->Release(p)
#define IDownloadRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
#define IDownloadRequest_GetContentType(p, a, b) (p)->lpVtbl->GetContentType(p, a, b)
#define IDownloadRequest_GetTotalBytes(p, a) (p)->lpVtbl->GetTotalBytes(p, a)
#define IDownloadRequest_GetBytesReceived(p, a) (p)->lpVtbl->GetBytesReceived(p, a)
#define IDownloadRequest_GetStream(p, a) (p)->lpVtbl->GetStream(p, a)
#endif

/*
 * Each queues a download and stores it, with one reference for the caller, in *request; on
 * failure (E_POINTER for a null request argument, E_FAIL when the library is not initialized
 * or the queue is full) nothing is stored. A null text reads as empty.
 */
/* GETs objectPath (path and query) from server (a host name, no scheme) over HTTP, port 80,
 * into a temporary file that the host reads through GetStream. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixGetInternetFile(const char *server, const char *objectPath,
    IDownloadRequest **request);
/* Asks the service where the export of the online tree collectionId lies (oftdownload; the
 * identifier is escaped, ticket and co-brand code are sent as given), then downloads that file
 * from the address's host and port, with TLS for an https address, into destinationFile (a
 * temporary file when null or empty). Until the file's answer arrives the state stays PENDING;
 * a service error answer becomes the status, an answer without an address gives E_FAIL. */
TARNIX_API HRESULT TARNIX_STDCALL TarnixDownloadOnlineFamilyTree(const char *ticket,
    const char *collectionId, const char *destinationFile, const char *cobrand,
    IDownloadRequest **request);

/* ---- Search counts and version checks (need TARNIXInitialize) ---------------------------- */

/*
 * ISearchCountRequest: how many results a search would give.
 *   slot 4 GetSecondValue, 5 GetLastValue, 6 GetFirstValue.
 * The service answers "first,second,...,last": first is the count of matches. GetSecondValue
 * gives the second number plus one. A first number that is not above 0 (or an empty answer)
 * finishes with all three at 0, so GetSecondValue then gives 1. Values read before the request
 * is done give E_PENDING and leave *value untouched; a failed request gives its failure
 * (E_FAIL when the service refused the search).
 */
#undef INTERFACE
#define INTERFACE ISearchCountRequest
DECLARE_INTERFACE_(ISearchCountRequest, IRequest)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
    STDMETHOD(GetSecondValue)(THIS_ LONG *value) PURE;
    STDMETHOD(GetLastValue)(THIS_ LONG *value) PURE;
    STDMETHOD(GetFirstValue)(THIS_ LONG *value) PURE;
};
#undef INTERFACE

#if !defined(__cplusplus) || defined(CINTERFACE)
#define ISearchCountRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define ISearchCountRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define ISearchCountRequest_Release(p) (p)->lpVtbl->Release(p)
#define ISearchCountRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
#define ISearchCountRequest_GetSecondValue(p, a) (p)->lpVtbl->GetSecondValue(p, a)
#define ISearchCountRequest_GetLastValue(p, a) (p)->lpVtbl->GetLastValue(p, a)
#define ISearchCountRequest_GetFirstValue(p, a) (p)->lpVtbl->GetFirstValue(p, a)
#endif

/*
 * Counts matches in the online trees (TarnixSearchTree) or in the service's records
 * (TarnixSearchData). The fields are those of the search addresses (escaped, absent when empty
 * or, for years, not above 0). Stores the request in *request as the query exports do.
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchTree(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand,
    ISearchCountRequest **request);
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchData(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand,
    ISearchCountRequest **request);

/*
 * Asks the service for the current versions of the application's executable, its web control
 * and this library: one row with "EXE", "WEBCTL" and "TARNIX" (no row when the service names
 * none). The four texts are sent as given, not escaped.
 */
TARNIX_API HRESULT TARNIX_CDECL TarnixCheckVelmoraFamilyTreeVersion(const char *exeVersion,
    const char *webctlVersion, const char *tarnixVersion, const char *cobrand,
    IQueryRequest **request);

/*
 * Starts the version check in the background and watches it with timer 305 (every 5 seconds) on
 * the window, which must belong to the calling thread, whose message loop runs the timer. When
 * the answer is in, writes HKEY_CURRENT_USER\software\<company>\<product>\VFTUpdates
 * "UpdateAvailable" (REG_DWORD): 1 when a component is newer on the service, else 0. A check
 * that fails writes nothing; one without an answer by the twelfth tick is given up. The window's
 * GWLP_USERDATA is taken over. A new check ends the one before, and the last TARNIXTerminate
 * ends a running check and kills its timer, from whichever thread. Returns the timer's
 * identifier, or 0 (no check) for a null window or when the check could not start, which is
 * also shown in a message box titled "Version Check".
 */
TARNIX_API UINT TARNIX_CDECL TarnixUpdateVelmoraFamilyTreeSilentCheck(HWND window,
    const char *companyKey, const char *productKey, const char *exeVersion,
    const char *webctlVersion, const char *tarnixVersion, const char *cobrand);

/* ---- The library's dialogs: the online tree browser and the update prompt ---------------- */
/*
 * Modal dialogs over the host's window (which may be null). They return 1 when the user
 * confirmed and 0 otherwise.
 *
 * The tree browser needs TARNIXInitialize: it lists the user's sites and online trees with the
 * ticket and co-brand code itself, and shows failures in message boxes titled with the caption,
 * with the HRESULT as eight hexadecimal digits. On 1 the chosen tree's site id, site name,
 * collection id (empty for a new tree in the save dialog), tree name, permission and download
 * status are copied into the caller's buffers: each cut to size - 1 bytes, zero-filled to its
 * end; a null buffer or a size of 0 is left alone. On 0 no buffer is touched.
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixOpenOnlineFamilyTreeDialog(HWND parent, const char *caption,
    const char *ticket, const char *cobrand, char *siteId, ULONG siteIdSize, char *siteName,
    ULONG siteNameSize, char *collectionId, ULONG collectionIdSize, char *treeName,
    ULONG treeNameSize, char *permission, ULONG permissionSize, char *downloadStatus,
    ULONG downloadStatusSize);
/* As above, for a tree to be saved; *worldTree (if not null) receives 1 when the user asked for
 * the tree to join the Velmora World Tree and accepted its terms, else 0. */
TARNIX_API BOOL TARNIX_STDCALL TarnixSaveOnlineFamilyTreeDialog(HWND parent, const char *caption,
    const char *ticket, const char *cobrand, char *siteId, ULONG siteIdSize, char *siteName,
    ULONG siteNameSize, char *collectionId, ULONG collectionIdSize, char *treeName,
    ULONG treeNameSize, char *permission, ULONG permissionSize, char *downloadStatus,
    ULONG downloadStatusSize, int *worldTree);
/* Asks whether to update the application now: 1 for "Yes, Update Velmora Family Tree Now",
 * 0 for "Remind Me Later" (or Esc, or the close box). Needs no initialization. __cdecl. */
TARNIX_API BOOL TARNIX_CDECL TarnixPromptUpdateVelmoraFamilyTreeDialog(HWND parent);

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
