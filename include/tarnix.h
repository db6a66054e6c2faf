/**
 * @file tarnix.h
 * @brief The public interface of tarnix.dll, the client of the online family-tree service.
 *
 * This header compiles as C and as C++; it is the one source of the API documentation.
 *
 * @mainpage Tarnix
 *
 * tarnix.dll is the library through which a desktop genealogy application (the host) reaches
 * its online family-tree service: sign-in and the user's sites, the online tree list, GEDCOM
 * upload (create, replace), export and download, search counts, browser addresses, version and
 * update checks, and the library's own modal dialogs. The host loads the x86 build; an x64 build
 * of the same sources exists too.
 *
 * @section conventions Conventions
 * - Every export is `__stdcall` (#TARNIX_STDCALL) except the three marked #TARNIX_CDECL:
 *   TarnixCheckVelmoraFamilyTreeVersion(), TarnixUpdateVelmoraFamilyTreeSilentCheck() and
 *   TarnixPromptUpdateVelmoraFamilyTreeDialog(). Interface methods are `__stdcall` with the
 *   interface pointer first. The x86 import libraries carry `_Name@N` for `__stdcall` exports
 *   and `_Name` for `__cdecl` ones; the DLL exports every name plain.
 * - Text is zero-terminated narrow text in the system ANSI code page. A null text argument
 *   reads as empty unless its export says otherwise.
 * - A buffer is a pointer and its size in bytes, terminator included.
 *
 * @section lifecycle Lifecycle
 * Call TARNIXInitialize() before any export that starts a request (the connectivity exports,
 * the address exports, TarnixURLEncode() and TarnixPromptUpdateVelmoraFamilyTreeDialog() need
 * nothing). Calls nest; each is undone by one TARNIXTerminate().
 *
 * Unloading: before the last FreeLibrary the host releases every request (and every stream a
 * download handed out) and matches every TARNIXInitialize() with a TARNIXTerminate(), in either
 * order; nothing of the library may be called after it, a request's Release included (their code
 * lives in the DLL). The library then goes once its workers have left; while WinINet still owes
 * a given-up exchange its last callback, the library pins itself in the process instead, so that
 * the callback never finds it unmapped.
 *
 * @section requests Requests
 * Every network operation is asynchronous. The export queues a request object on a worker pool
 * and hands the host an interface pointer with one reference at once. The host then
 * - polls IRequest::GetStatus until it returns a failure or reports #REQUEST_STATE_DONE
 *   (download requests report #REQUEST_STATE_RUNNING in between, while the body arrives);
 * - reads the results through the request's interface (IQueryRequest, IDownloadRequest,
 *   ISearchCountRequest; create, replace and export have the IRequest front alone);
 * - calls Release once. Releasing a request that has not finished gives it up: its worker
 *   leaves the network within a fraction of a second, whatever the server does, and nothing is
 *   reported for it any more.
 *
 * A failed request keeps its failure: GetStatus and every getter return it from then on, and the
 * state argument is left as the caller set it. Results read before they exist give
 * `E_PENDING`, with the out value untouched.
 *
 * @section threads Threads and COM
 * - Exports and interface methods may be called from any thread of the host; a request may be
 *   polled, read and released from another thread than the one that started it. Each request
 *   guards its results with a lock of its own; reference counts are interlocked.
 * - The host needs no COM initialisation: the library's worker threads enter COM themselves
 *   (for the XML reader), and no export requires the caller's apartment.
 * - The dialogs run modally on the calling thread, which needs no message loop of its own
 *   during the call. TarnixUpdateVelmoraFamilyTreeSilentCheck() needs a window of the calling
 *   thread and that thread's message loop, which runs its timer.
 * - TARNIXInitialize() and TARNIXTerminate() may be called from several threads; the last
 *   TARNIXTerminate() must not race exports that start requests on other threads.
 *
 * @section ownership Ownership
 * - An out-parameter that receives an interface (a request, a stream) receives one reference,
 *   which the receiver releases. On failure nothing is stored.
 * - Text arguments are read during the call only; the library copies what it keeps.
 * - Caller buffers are written during the call only, and only as each export says: either the
 *   whole text or nothing (`E_INVALIDARG` when too small), or the text cut to size - 1 bytes and
 *   terminated.
 *
 * @section hresults HRESULTs a host can get
 * | HRESULT | Meaning |
 * |---|---|
 * | `S_OK` (0) | done; or, from GetStatus, no failure so far (the state tells how far) |
 * | `E_PENDING` 0x8000000A | results read before they exist |
 * | `E_FAIL` 0x80004005 | the library is not initialized, the queue (1000 waiting requests) is full, the gatekeeper answered with an HTTP status other than 200, a search was refused ("Error"), an online tree has no download address, or an unexpected failure |
 * | `E_INVALIDARG` 0x80070057 | a value that does not exist, a buffer too small, or an answer that is not the XML the service sends |
 * | `E_POINTER` 0x80004003 | a required pointer argument is null |
 * | `E_OUTOFMEMORY` 0x8007000E | memory ran out |
 * | `E_ABORT` 0x80004004 | the library was terminated while the request was still running |
 * | `E_NOINTERFACE` 0x80004002 | QueryInterface for an interface the object does not have |
 * | 0x80190000 \| status | a download answered with an HTTP status outside 200-299 (404 gives 0x80190194) |
 * | 0x80072EFE | `ERROR_INTERNET_CONNECTION_ABORTED`: the connection was aborted, a download's body ended before its Content-Length, or (under Wine) a receive timed out |
 * | 0x80072EE2 | `ERROR_INTERNET_TIMEOUT`: the server was silent for longer than the timeout |
 * | 0x80072EE7 | `ERROR_INTERNET_NAME_NOT_RESOLVED`: the server's name could not be resolved |
 * | 0x80072EFD | `ERROR_INTERNET_CANNOT_CONNECT`: the server could not be reached |
 * | other 0x80072EEx-0x80072F8x | further WinINet errors (12001-12175), passed on as `0x80070000 \| error` |
 * | 0x80070002 | `ERROR_FILE_NOT_FOUND`: a local file to upload does not exist |
 * | 0x800700DF | `ERROR_FILE_TOO_LARGE`: a local file too large to upload (a body of 4 GiB or more) |
 * | 0x80070026 | `ERROR_HANDLE_EOF`: a local file ended before its size while it was uploaded |
 * | other 0x8007xxxx | the Win32 error of a failing file or system call |
 * | any other failure | the service's own HRESULT from an error answer (for instance 0x80070005 access denied) |
 *
 * @section network Network
 * Every exchange goes to the service host (built in), on port 80, and bypasses the WinINet cache;
 * it has timeouts of 30 s to connect and 60 s for each send and each receive. An answer is what
 * its Content-Length announces: one cut off before its status line or before that length fails
 * with 0x80072EFE. The system's
 * WinINet proxy setting applies. For development, when the environment variable
 * `TARNIX_SERVICE` holds `host` or `host:port` as the outermost TARNIXInitialize() runs, every
 * gatekeeper request goes there directly, past the proxy setting (for instance a local service
 * at 127.0.0.1:8080), as does any other request to that host and port, such as the files that
 * service hands out; unset, or holding anything else, it changes nothing. Browser addresses always name the
 * built-in service host.
 *
 * @section examples Examples
 * - @ref sign_in_and_list_trees.c "sign_in_and_list_trees.c": sign in and list the online trees (C)
 * - @ref download_with_progress.cpp "download_with_progress.cpp": a download with progress (C++)
 * - @ref choose_tree_dialog.c "choose_tree_dialog.c": the tree browser dialog (C)
 *
 * @example sign_in_and_list_trees.c
 * Sign in, then list the user's online trees (C, with the IQueryRequest_ macros).
 * @example download_with_progress.cpp
 * A web file downloaded with progress, then read through its stream (C++).
 * @example choose_tree_dialog.c
 * The user chooses an online tree in the library's dialog (C).
 */
#ifndef TARNIX_H
#define TARNIX_H

#include <windows.h>
#include <objbase.h>

#include "tarnix_version.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef TARNIX_BUILDING_LIBRARY
#define TARNIX_API
#else
/** Marks the library's exports as imported from tarnix.dll. */
#define TARNIX_API __declspec(dllimport)
#endif

/** The calling convention of every export but three. */
#define TARNIX_STDCALL __stdcall
/** The calling convention of the version check, the silent update check and the update prompt. */
#define TARNIX_CDECL __cdecl

/** @name Request states, as IRequest::GetStatus reports them
 *  @{ */
/** Queued or running; no results yet. */
#define REQUEST_STATE_PENDING 0
/** Download requests only: the answer's headers are in and the body is being written. */
#define REQUEST_STATE_RUNNING 1
/** Finished: the results can be read. */
#define REQUEST_STATE_DONE 2
/** @} */

/* ---- Request interfaces ------------------------------------------------------------------ */

#undef INTERFACE
#define INTERFACE IRequest
/**
 * The front every request interface begins with (slots 0 to 3). Create, replace and export
 * requests have this front alone; they yield no values, only their status.
 */
DECLARE_INTERFACE_(IRequest, IUnknown)
{
    /** Slot 0. Answers IID_IUnknown with the request's main interface.
     *  @param riid the interface identifier asked for
     *  @param ppv receives the interface with one reference; left unchanged on failure
     *  @return S_OK, E_NOINTERFACE for any other identifier, E_POINTER for a null ppv */
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    /** Slot 1. Adds a reference. @return the new count */
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    /** Slot 2. Gives up a reference; the last one destroys the request. A release that leaves
     *  at most one other holder (the worker) gives an unfinished request up.
     *  @return the new count */
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    /** Slot 3. How far the request has come.
     *  @param state receives #REQUEST_STATE_PENDING, #REQUEST_STATE_RUNNING or
     *  #REQUEST_STATE_DONE; left as it was when the request has failed
     *  @return S_OK, or the failure that ended the request (see @ref hresults) */
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
};
#undef INTERFACE

#define INTERFACE IQueryRequest
/**
 * Rows of named text values: sign-in, sites, online trees, versions (slots 4 to 6 after the
 * IRequest front). Names are matched without regard to the case of A-Z; values keep their case.
 */
DECLARE_INTERFACE_(IQueryRequest, IRequest)
{
    /** Slot 0, as IRequest::QueryInterface. @param riid interface asked for @param ppv receives it
     *  @return S_OK, E_NOINTERFACE or E_POINTER */
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    /** Slot 1, as IRequest::AddRef. @return the new count */
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    /** Slot 2, as IRequest::Release. @return the new count */
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    /** Slot 3, as IRequest::GetStatus. @param state receives the state @return S_OK or the failure */
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
    /** Slot 4. Copies one value with its terminator.
     *  @param row the row, from 0
     *  @param name the value's name (a null name is the empty name)
     *  @param buffer receives the value; untouched unless the result is S_OK
     *  @param bufferSize at least the value's length plus one
     *  @return S_OK; E_PENDING before the request is done; E_INVALIDARG when the row holds no
     *  such name or the buffer is too small; E_POINTER for a null buffer; or the request's
     *  failure */
    STDMETHOD(GetValue)(THIS_ ULONG row, const char *name, char *buffer, ULONG bufferSize) PURE;
    /** Slot 5. The length of one value, without its terminator.
     *  @param row the row, from 0
     *  @param name the value's name
     *  @param length receives the length in bytes
     *  @return as GetValue */
    STDMETHOD(GetValueLength)(THIS_ ULONG row, const char *name, ULONG *length) PURE;
    /** Slot 6. One more than the highest row written so far (0 before the request is done, and
     *  for an answer without rows). Not an HRESULT. @return the row count */
    STDMETHOD_(ULONG, GetRowCount)(THIS) PURE;
};
#undef INTERFACE

#define INTERFACE IDownloadRequest
/**
 * One file fetched with an HTTP GET and written to a local file as it arrives, through one
 * 4096-byte block: a download of any size runs in constant memory (slots 4 to 7).
 *
 * GetStatus reports #REQUEST_STATE_RUNNING once the answer's headers are in, #REQUEST_STATE_DONE
 * once the whole body is in the file. Slots 4 to 6 answer from RUNNING on, GetStream only when
 * DONE; before that they give E_PENDING, after a failure the failure.
 *
 * An answer status outside 200-299 fails with 0x80190000 | status before any file is created or
 * an existing one truncated: an error page is never handed over as the file. A body that ends
 * before its Content-Length fails with 0x80072EFE. A temporary file goes with the last reference
 * to the request and its stream. A named file that the transfer had begun to fill and that
 * failed or was given up stays on disk with the bytes written so far.
 */
DECLARE_INTERFACE_(IDownloadRequest, IRequest)
{
    /** Slot 0, as IRequest::QueryInterface. @param riid interface asked for @param ppv receives it
     *  @return S_OK, E_NOINTERFACE or E_POINTER */
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    /** Slot 1, as IRequest::AddRef. @return the new count */
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    /** Slot 2, as IRequest::Release: releasing mid-transfer stops the download. @return the new count */
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    /** Slot 3, as IRequest::GetStatus. @param state receives the state @return S_OK or the failure */
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
    /** Slot 4. The answer's Content-Type (empty without one), with its terminator.
     *  @param buffer receives the text; untouched unless the result is S_OK
     *  @param bufferSize at least the text's length plus one
     *  @return S_OK, E_PENDING, E_INVALIDARG for a buffer too small, E_POINTER, or the failure */
    STDMETHOD(GetContentType)(THIS_ char *buffer, ULONG bufferSize) PURE;
    /** Slot 5. The answer's Content-Length; 0 when it has none, or one that is not a decimal
     *  number of at most 32 bits (then there is no progress to show until the end).
     *  @param totalBytes receives the length
     *  @return S_OK, E_PENDING, E_POINTER or the failure */
    STDMETHOD(GetTotalBytes)(THIS_ ULONG *totalBytes) PURE;
    /** Slot 6. Bytes written so far: never above the total, equal to it once DONE.
     *  @param bytesReceived receives the count
     *  @return S_OK, E_PENDING, E_POINTER or the failure */
    STDMETHOD(GetBytesReceived)(THIS_ ULONG *bytesReceived) PURE;
    /** Slot 7. The downloaded file as a stream at its first byte. Every caller shares the one
     *  stream and its position.
     *  @param stream receives the stream with one reference, which the caller releases
     *  @return S_OK, E_PENDING before DONE, E_POINTER, or the failure */
    STDMETHOD(GetStream)(THIS_ IStream **stream) PURE;
};
#undef INTERFACE

#define INTERFACE ISearchCountRequest
/**
 * How many results a search would give (slots 4 to 6). The service answers
 * "first,second,...,last", first being the count of matches. A first number that is not above
 * 0, or an empty answer, finishes with all three at 0.
 */
DECLARE_INTERFACE_(ISearchCountRequest, IRequest)
{
    /** Slot 0, as IRequest::QueryInterface. @param riid interface asked for @param ppv receives it
     *  @return S_OK, E_NOINTERFACE or E_POINTER */
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    /** Slot 1, as IRequest::AddRef. @return the new count */
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    /** Slot 2, as IRequest::Release. @return the new count */
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    /** Slot 3, as IRequest::GetStatus. @param state receives the state @return S_OK or the failure */
    STDMETHOD(GetStatus)(THIS_ LONG *state) PURE;
    /** Slot 4. The second number plus one (so 1 when the search found nothing).
     *  @param value receives it; untouched unless the result is S_OK
     *  @return S_OK, E_PENDING, E_POINTER, or the failure (E_FAIL when the service refused the search) */
    STDMETHOD(GetSecondValue)(THIS_ LONG *value) PURE;
    /** Slot 5. The last number. @param value receives it @return as GetSecondValue */
    STDMETHOD(GetLastValue)(THIS_ LONG *value) PURE;
    /** Slot 6. The first number: the count of matches. @param value receives it @return as GetSecondValue */
    STDMETHOD(GetFirstValue)(THIS_ LONG *value) PURE;
};
#undef INTERFACE

#if !defined(__cplusplus) || defined(CINTERFACE)
/** @name Macros for C callers: Interface_Method(p, arguments) calls the method through the table
 *  @{ */
/** Calls IRequest::QueryInterface; the other IRequest_ macros call the method they name. */
#define IRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IRequest_Release(p) (p)->lpVtbl->Release(p)
#define IRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
/** @} */
/** @name
 *  @{ */
/** Calls IQueryRequest::QueryInterface; the other IQueryRequest_ macros call the method they name. */
#define IQueryRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IQueryRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IQueryRequest_Release(p) (p)->lpVtbl->Release(p)
#define IQueryRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
#define IQueryRequest_GetValue(p, a, b, c, d) (p)->lpVtbl->GetValue(p, a, b, c, d)
#define IQueryRequest_GetValueLength(p, a, b, c) (p)->lpVtbl->GetValueLength(p, a, b, c)
#define IQueryRequest_GetRowCount(p) (p)->lpVtbl->GetRowCount(p)
/** @} */
/** @name
 *  @{ */
/** Calls IDownloadRequest::QueryInterface; the other IDownloadRequest_ macros call the method they name. */
#define IDownloadRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDownloadRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDownloadRequest_Release(p) (p)->lpVtbl->Release(p)
#define IDownloadRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
#define IDownloadRequest_GetContentType(p, a, b) (p)->lpVtbl->GetContentType(p, a, b)
#define IDownloadRequest_GetTotalBytes(p, a) (p)->lpVtbl->GetTotalBytes(p, a)
#define IDownloadRequest_GetBytesReceived(p, a) (p)->lpVtbl->GetBytesReceived(p, a)
#define IDownloadRequest_GetStream(p, a) (p)->lpVtbl->GetStream(p, a)
/** @} */
/** @name
 *  @{ */
/** Calls ISearchCountRequest::QueryInterface; the other ISearchCountRequest_ macros call the method they name. */
#define ISearchCountRequest_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define ISearchCountRequest_AddRef(p) (p)->lpVtbl->AddRef(p)
#define ISearchCountRequest_Release(p) (p)->lpVtbl->Release(p)
#define ISearchCountRequest_GetStatus(p, a) (p)->lpVtbl->GetStatus(p, a)
#define ISearchCountRequest_GetSecondValue(p, a) (p)->lpVtbl->GetSecondValue(p, a)
#define ISearchCountRequest_GetLastValue(p, a) (p)->lpVtbl->GetLastValue(p, a)
#define ISearchCountRequest_GetFirstValue(p, a) (p)->lpVtbl->GetFirstValue(p, a)
/** @} */
#endif

/* ---- Lifecycle and connectivity ---------------------------------------------------------- */

/**
 * Starts the library's worker pools on the outermost call (a general pool of 2 workers and a
 * search pool of 5, each taking up to 1000 waiting requests). Calls nest.
 * @param reserved accepted and not used
 * @return S_OK, or the failure that kept a pool from starting (E_FAIL); the call still counts
 */
TARNIX_API HRESULT TARNIX_STDCALL TARNIXInitialize(DWORD reserved);
/**
 * Undoes one TARNIXInitialize(). The last one stops the pools: requests still waiting are
 * dropped (their status stays pending), requests still running end with E_ABORT, and it returns
 * within a few seconds whatever the network does; the host may still release either kind. An
 * unmatched call does nothing.
 */
TARNIX_API void TARNIX_STDCALL TARNIXTerminate(void);

/** Asks the system whether the machine is online. @return non-zero when it reports an Internet connection */
TARNIX_API BOOL TARNIX_STDCALL TarnixGetConnectedState(void);
/** Asks whether the machine reaches the Internet through a modem that the library may dial.
 *  @return 1 when the system's connection flags include the modem flag, else 0 */
TARNIX_API BOOL TARNIX_STDCALL TarnixCanConnect(void);
/**
 * Makes sure the machine is online: online already gives 1; with a modem the library dials it
 * (1 when that succeeds, 0 when it fails or is cancelled, without a message); otherwise it tells
 * the user in a message box (OK and Cancel) and returns 0 whichever is pressed.
 * @param owner the message box's owner window (may be null)
 * @param caption the message box's title
 * @return 1 when connected, else 0
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixConnect(HWND owner, const char *caption);

/* ---- URL encoding and browser addresses (no initialization needed) ---------------------- */

/**
 * Escapes text for a query value: ASCII letters, digits and ". - _ *" stay; every other byte
 * becomes '%' and two lower-case hexadecimal digits.
 * @param text the text (null gives E_POINTER)
 * @param buffer receives the escaped text, cut to bufferSize - 1 bytes; the rest of the buffer
 * is filled with zeros
 * @param bufferSize the buffer's size (0 gives E_INVALIDARG)
 * @return S_OK, E_POINTER or E_INVALIDARG; nothing is written on failure
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixURLEncode(const char *text, char *buffer, ULONG bufferSize);
/**
 * The address of the service's search page for its records, for the host's web browser. The
 * search fields follow in the order below in every search export; a text field that is empty
 * and a year that is not above 0 are left out, texts are escaped, years written with four digits.
 * @param surname the surname
 * @param givenNames the given names
 * @param birthPlace the place of birth
 * @param birthYear the year of birth
 * @param deathPlace the place of death
 * @param deathYear the year of death
 * @param father the father's name
 * @param mother the mother's name
 * @param spouse the spouse's name
 * @param cobrand the co-brand code (sent first)
 * @param method the search method; the address carries method - 1
 * @param buffer receives the whole address with its terminator, or nothing
 * @param bufferSize the buffer's size
 * @return S_OK; E_INVALIDARG (nothing written) when the address does not fit or the size is 0;
 * E_POINTER for a null buffer
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchDataURL(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand, int method,
    char *buffer, ULONG bufferSize);
/**
 * The address of the service's search page for its online trees; as TarnixSearchDataURL().
 * @param surname see TarnixSearchDataURL() @param givenNames see there @param birthPlace see there
 * @param birthYear see there @param deathPlace see there @param deathYear see there
 * @param father see there @param mother see there @param spouse see there @param cobrand see there
 * @param method see there @param buffer see there @param bufferSize see there
 * @return as TarnixSearchDataURL()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchTreeURL(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand, int method,
    char *buffer, ULONG bufferSize);
/**
 * The address of the service's search page for its message boards; as TarnixSearchDataURL().
 * @param surname see TarnixSearchDataURL() @param givenNames see there @param birthPlace see there
 * @param birthYear see there @param deathPlace see there @param deathYear see there
 * @param father see there @param mother see there @param spouse see there @param cobrand see there
 * @param method see there @param buffer see there @param bufferSize see there
 * @return as TarnixSearchDataURL()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchBoardsURL(const char *surname,
    const char *givenNames, const char *birthPlace, int birthYear, const char *deathPlace,
    int deathYear, const char *father, const char *mother, const char *spouse,
    const char *cobrand, int method, char *buffer, ULONG bufferSize);
/**
 * The address of the service's login page, with the co-brand code as given.
 * @param buffer receives the address, cut to bufferSize - 1 bytes; the rest is zero-filled
 * @param bufferSize the buffer's size (0 gives E_INVALIDARG)
 * @param cobrand the co-brand code
 * @return S_OK, E_INVALIDARG or E_POINTER
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixGetLoginURL(char *buffer, ULONG bufferSize,
    const char *cobrand);
/**
 * The address of the service's sign-up page; as TarnixGetLoginURL().
 * @param buffer see TarnixGetLoginURL() @param bufferSize see there @param cobrand see there
 * @return as TarnixGetLoginURL()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixGetSignUpURL(char *buffer, ULONG bufferSize,
    const char *cobrand);

/* ---- Sign-in, sites and online trees (need TARNIXInitialize) ----------------------------- */

/**
 * Signs in. The request's row 0 holds "att", the ticket that later operations take (empty when
 * the service sent none). User name and password are escaped for the query.
 * @param userName the user's name
 * @param password the user's password (never stored)
 * @param request receives the IQueryRequest with one reference
 * @return S_OK; E_POINTER for a null request (nothing queued); E_FAIL when the library is not
 * initialized or the queue is full. The sign-in's own outcome comes through GetStatus (the
 * service's HRESULT for a refused sign-in).
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixLogin(const char *userName, const char *password,
    IQueryRequest **request);
/**
 * The user's sites: one row each with "SiteID", "SiteName", "SiteRights" and "Rights" (empty
 * when the service left one out).
 * @param ticket the sign-in ticket, sent as given
 * @param request receives the IQueryRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixListUserSites(const char *ticket,
    IQueryRequest **request);
/**
 * The user's online trees: one row each with "SiteID", "SiteName", "CollectionID", "OFTName",
 * "Permission" and "DownloadStatus".
 * @param ticket the sign-in ticket, sent as given
 * @param cobrand the co-brand code, sent as given
 * @param request receives the IQueryRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixListOnlineFamilyTrees(const char *ticket,
    const char *cobrand, IQueryRequest **request);

/* ---- Create, replace and export online trees (need TARNIXInitialize) --------------------- */

/**
 * Uploads a GEDCOM file as a new online tree. The file is posted unchanged, in blocks (any size
 * in constant memory), as one multipart part, with the ticket in a cookie. GetStatus reports
 * #REQUEST_STATE_DONE once the service has accepted it. A file whose body would not fit 32 bits
 * fails with 0x800700DF, a missing one with 0x80070002, both before anything is sent; one that
 * ends before its size fails with 0x80070026.
 * @param ticket the sign-in ticket
 * @param localFile the full path of the GEDCOM file; empty or null sends a plain GET instead
 * @param siteId the site that receives the tree (escaped)
 * @param treeName the new tree's name (escaped)
 * @param submitToWorldTree non-zero also submits the tree to the shared World Tree
 * @param cobrand the co-brand code, sent as given
 * @param request receives the IRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixCreateOnlineFamilyTree(const char *ticket,
    const char *localFile, const char *siteId, const char *treeName, BOOL submitToWorldTree,
    const char *cobrand, IRequest **request);
/**
 * Replaces an online tree with a GEDCOM file; as TarnixCreateOnlineFamilyTree().
 * @param ticket the sign-in ticket
 * @param localFile the full path of the GEDCOM file; empty or null sends a plain GET instead
 * @param collectionId the tree to replace (escaped)
 * @param cobrand the co-brand code, sent as given
 * @param request receives the IRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixUpdateOnlineFamilyTree(const char *ticket,
    const char *localFile, const char *collectionId, const char *cobrand, IRequest **request);
/**
 * Asks the service to prepare the GEDCOM export of an online tree; the file is fetched later
 * with TarnixDownloadOnlineFamilyTree() (the tree list's "DownloadStatus" tells when).
 * @param ticket the sign-in ticket, sent as given
 * @param collectionId the tree (escaped)
 * @param cobrand the co-brand code, sent as given
 * @param request receives the IRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixExportOnlineFamilyTree(const char *ticket,
    const char *collectionId, const char *cobrand, IRequest **request);

/* ---- Downloads (need TARNIXInitialize) ---------------------------------------------------- */

/**
 * Downloads a web file over HTTP into a temporary file, which the host reads through
 * IDownloadRequest::GetStream and which goes with the request.
 * @param server the host name (no scheme; "host:port" names a port)
 * @param objectPath the path and query on that host
 * @param request receives the IDownloadRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixGetInternetFile(const char *server, const char *objectPath,
    IDownloadRequest **request);
/**
 * Downloads an exported online tree: asks the service where its GEDCOM file lies, then fetches
 * that address (its host and port; TLS for https). The state stays #REQUEST_STATE_PENDING until
 * the file's answer arrives. A service error answer becomes the status; an answer without an
 * address gives E_FAIL.
 * @param ticket the sign-in ticket, sent as given
 * @param collectionId the tree (escaped)
 * @param destinationFile the file to create (an existing one is replaced once the answer is
 * good); null or empty gives a temporary file. It stays open, unshared, while the request or a
 * stream from IDownloadRequest::GetStream() lives; the worker lets go of the request an instant
 * after it reports #REQUEST_STATE_DONE, so the host's Release() may not be the last one.
 * @param cobrand the co-brand code, sent as given
 * @param request receives the IDownloadRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixDownloadOnlineFamilyTree(const char *ticket,
    const char *collectionId, const char *destinationFile, const char *cobrand,
    IDownloadRequest **request);

/* ---- Search counts and version checks (need TARNIXInitialize) ---------------------------- */

/**
 * Counts the matches of a search in the online trees, on a pool of its own (counts never wait
 * behind other requests). The fields are those of TarnixSearchDataURL().
 * @param surname see TarnixSearchDataURL() @param givenNames see there @param birthPlace see there
 * @param birthYear see there @param deathPlace see there @param deathYear see there
 * @param father see there @param mother see there @param spouse see there @param cobrand see there
 * @param request receives the ISearchCountRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchTree(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand,
    ISearchCountRequest **request);
/**
 * Counts the matches of a search in the service's records; as TarnixSearchTree().
 * @param surname see TarnixSearchDataURL() @param givenNames see there @param birthPlace see there
 * @param birthYear see there @param deathPlace see there @param deathYear see there
 * @param father see there @param mother see there @param spouse see there @param cobrand see there
 * @param request receives the ISearchCountRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_STDCALL TarnixSearchData(const char *surname, const char *givenNames,
    const char *birthPlace, int birthYear, const char *deathPlace, int deathYear,
    const char *father, const char *mother, const char *spouse, const char *cobrand,
    ISearchCountRequest **request);

/**
 * Asks the service for the current versions of the application's executable, its web control
 * and this library: one row with "EXE", "WEBCTL" and "TARNIX" (no row when the service names
 * none). `__cdecl`.
 * @param exeVersion the installed executable's version, sent as given (not escaped)
 * @param webctlVersion the installed web control's version, sent as given
 * @param tarnixVersion the installed library's version, sent as given
 * @param cobrand the co-brand code, sent as given
 * @param request receives the IQueryRequest with one reference
 * @return as TarnixLogin()
 */
TARNIX_API HRESULT TARNIX_CDECL TarnixCheckVelmoraFamilyTreeVersion(const char *exeVersion,
    const char *webctlVersion, const char *tarnixVersion, const char *cobrand,
    IQueryRequest **request);

/**
 * Checks for updates in the background: starts the version check and watches it with timer
 * 305 (every 5 seconds) on the window, whose thread's message loop runs the timer. When the
 * answer is in, writes HKEY_CURRENT_USER\\software\\companyKey\\productKey\\VFTUpdates
 * "UpdateAvailable" (REG_DWORD): 1 when a component is newer on the service (versions compared
 * as numbers, major.minor.third), else 0. A check that fails writes nothing; one without an
 * answer by its twelfth tick is given up. The window's GWLP_USERDATA is taken over (and given
 * back as it was when the timer cannot be set). A new check ends the one before; the last
 * TARNIXTerminate() ends a running check and kills its timer.
 * `__cdecl`.
 * @param window the host's window for the timer (null: nothing starts, 0 is returned)
 * @param companyKey the first key name below HKEY_CURRENT_USER\\software; null or empty: the
 * check cannot start (`E_INVALIDARG` in its message box), nothing is written
 * @param productKey the second key name, below the first; null or empty as for companyKey
 * @param exeVersion the installed executable's version
 * @param webctlVersion the installed web control's version
 * @param tarnixVersion the installed library's version
 * @param cobrand the co-brand code
 * @return the timer's identifier, or 0 when no check runs; a check that could not start is
 * also shown in a message box titled "Version Check"
 */
TARNIX_API UINT TARNIX_CDECL TarnixUpdateVelmoraFamilyTreeSilentCheck(HWND window,
    const char *companyKey, const char *productKey, const char *exeVersion,
    const char *webctlVersion, const char *tarnixVersion, const char *cobrand);

/* ---- The library's dialogs --------------------------------------------------------------- */

/**
 * Lets the user choose one of the online trees of the sites the user may work on, in a modal
 * dialog that lists them itself (needs TARNIXInitialize()). Failures are shown in message boxes
 * titled with the caption, with the HRESULT as eight hexadecimal digits. On 1 the chosen tree's
 * six values are copied into the caller's buffers, each cut to size - 1 bytes and zero-filled to
 * its end; a null buffer or a size of 0 is left alone. On 0 no buffer is touched.
 * @param parent the dialog's owner window (may be null)
 * @param caption the title of its message boxes
 * @param ticket the sign-in ticket
 * @param cobrand the co-brand code
 * @param siteId receives the tree's site identifier @param siteIdSize its size
 * @param siteName receives the site's name @param siteNameSize its size
 * @param collectionId receives the tree's collection identifier @param collectionIdSize its size
 * @param treeName receives the tree's name @param treeNameSize its size
 * @param permission receives the tree's permission @param permissionSize its size
 * @param downloadStatus receives the tree's download status @param downloadStatusSize its size
 * @return 1 when the user chose a tree, else 0
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixOpenOnlineFamilyTreeDialog(HWND parent, const char *caption,
    const char *ticket, const char *cobrand, char *siteId, ULONG siteIdSize, char *siteName,
    ULONG siteNameSize, char *collectionId, ULONG collectionIdSize, char *treeName,
    ULONG treeNameSize, char *permission, ULONG permissionSize, char *downloadStatus,
    ULONG downloadStatusSize);
/**
 * Lets the user name a tree to save on one of the user's sites: a new one (its collection
 * identifier, permission and download status come back empty) or an existing one, which the
 * user confirms replacing; as TarnixOpenOnlineFamilyTreeDialog().
 * @param parent see TarnixOpenOnlineFamilyTreeDialog() @param caption see there
 * @param ticket see there @param cobrand see there
 * @param siteId see there @param siteIdSize see there @param siteName see there
 * @param siteNameSize see there @param collectionId see there @param collectionIdSize see there
 * @param treeName see there @param treeNameSize see there @param permission see there
 * @param permissionSize see there @param downloadStatus see there @param downloadStatusSize see there
 * @param worldTree if not null, receives 1 when the user asked for the tree to join the Velmora
 * World Tree and accepted its terms, else 0
 * @return 1 when the user confirmed, else 0
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixSaveOnlineFamilyTreeDialog(HWND parent, const char *caption,
    const char *ticket, const char *cobrand, char *siteId, ULONG siteIdSize, char *siteName,
    ULONG siteNameSize, char *collectionId, ULONG collectionIdSize, char *treeName,
    ULONG treeNameSize, char *permission, ULONG permissionSize, char *downloadStatus,
    ULONG downloadStatusSize, int *worldTree);
/**
 * Asks whether to update the application now (needs no initialization). `__cdecl`.
 * @param parent the dialog's owner window (may be null)
 * @return 1 for "Yes, Update Velmora Family Tree Now" (or Enter), 0 for "Remind Me Later" (or
 * Esc, or the close box)
 */
TARNIX_API BOOL TARNIX_CDECL TarnixPromptUpdateVelmoraFamilyTreeDialog(HWND parent);

/* ---- The library's dialogs: transfers under a progress window (need TARNIXInitialize) ---- */

/**
 * Uploads a GEDCOM file as a new online tree (TarnixCreateOnlineFamilyTree()) under the modal
 * "Export" dialog, which polls the upload twice a second and closes itself once it is in. Like
 * every transfer dialog, it names the server by the library's built-in service host, as the
 * browser addresses do; it shows failures in message boxes titled with the caption, the HRESULT
 * as eight hexadecimal digits: a failure to start (for instance E_FAIL when the library is not
 * initialized) as "An error has occured. The error code is %08X" over the parent, without a
 * dialog; a failure of the running request over the dialog, which then ends. Cancel (or Esc)
 * ends the dialog at once and gives the request up.
 * @param parent the dialog's owner window (may be null)
 * @param caption the title of its message boxes
 * @param ticket see TarnixCreateOnlineFamilyTree() @param localFile see there
 * @param siteId see there @param treeName see there (also shown in the dialog)
 * @param submitToWorldTree see there @param cobrand see there
 * @return 1 once the upload is in, 0 on failure or cancel
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixCreateOnlineFamilyTreeDialog(HWND parent,
    const char *caption, const char *ticket, const char *localFile, const char *siteId,
    const char *treeName, BOOL submitToWorldTree, const char *cobrand);
/**
 * Replaces an online tree (TarnixUpdateOnlineFamilyTree()) under the "Export" dialog; as
 * TarnixCreateOnlineFamilyTreeDialog().
 * @param parent see TarnixCreateOnlineFamilyTreeDialog() @param caption see there
 * @param ticket see TarnixUpdateOnlineFamilyTree() @param localFile see there
 * @param collectionId see there @param treeName the tree's name, shown in the dialog
 * @param cobrand see TarnixUpdateOnlineFamilyTree()
 * @return 1 once the upload is in, 0 on failure or cancel
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixUpdateOnlineFamilyTreeDialog(HWND parent,
    const char *caption, const char *ticket, const char *localFile, const char *collectionId,
    const char *treeName, const char *cobrand);
/**
 * Orders the export of an online tree (TarnixExportOnlineFamilyTree()) under the "Online Family
 * Tree" dialog, which says when the service has taken the order and then waits for the user to
 * close it; failures as in TarnixCreateOnlineFamilyTreeDialog().
 * @param parent see TarnixCreateOnlineFamilyTreeDialog() @param caption see there
 * @param ticket see TarnixExportOnlineFamilyTree() @param collectionId see there
 * @param treeName the tree's name, shown in the dialog
 * @param cobrand see TarnixExportOnlineFamilyTree()
 */
TARNIX_API void TARNIX_STDCALL TarnixExportOnlineFamilyTreeDialog(HWND parent,
    const char *caption, const char *ticket, const char *collectionId, const char *treeName,
    const char *cobrand);
/**
 * Downloads an exported online tree (TarnixDownloadOnlineFamilyTree()) into a file under the
 * "Download" dialog of TarnixDownloadFileDialog(), which shows the tree's name as what is
 * fetched; failures as in TarnixCreateOnlineFamilyTreeDialog().
 * @param parent see TarnixCreateOnlineFamilyTreeDialog() @param caption see there
 * @param ticket see TarnixDownloadOnlineFamilyTree() @param collectionId see there
 * @param treeName the tree's name, shown in the dialog
 * @param destinationFile see TarnixDownloadOnlineFamilyTree()
 * @param cobrand see there
 * @return 1 once the file is complete, else 0
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixDownloadOnlineFamilyTreeDialog(HWND parent,
    const char *caption, const char *ticket, const char *collectionId, const char *treeName,
    const char *destinationFile, const char *cobrand);
/**
 * Downloads a web file (as TarnixGetInternetFile()) into a file under the modal "Download"
 * dialog: the source, the destination's file name, the time left with the bytes copied, the
 * rate, a progress bar and the percentage in the title (the time left reads "unknown" while the
 * measured rate is below one byte per second). Failures as in
 * TarnixCreateOnlineFamilyTreeDialog(); an HTTP error status shows as 0x80190000 | status. A
 * cancelled or failed download leaves what it had written in the destination file.
 * @param parent the dialog's owner window (may be null)
 * @param caption the title of its message boxes
 * @param server see TarnixGetInternetFile() @param objectPath see there
 * @param destinationFile the file to create
 * @param contentType if not null and contentTypeSize is not 0, receives the answer's content type
 * once the file is complete
 * @param contentTypeSize its size
 * @return 1 once the file is complete (and the content type copied); 0 on failure, on cancel,
 * or when the content type does not fit (the file is complete nevertheless)
 */
TARNIX_API BOOL TARNIX_STDCALL TarnixDownloadFileDialog(HWND parent, const char *caption,
    const char *server, const char *objectPath, const char *destinationFile, char *contentType,
    ULONG contentTypeSize);

#ifdef __cplusplus
}
#endif

#endif /* TARNIX_H */
