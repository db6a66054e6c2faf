// CUploadRequest: the request behind the operations that change online trees. Given a local
// file, it posts the file as the one part of a multipart/form-data body, with the sign-in ticket
// moved from the query into a cookie; without one it sends a plain GET of its path. Either way
// it only checks the answer: there are no values to read, the host learns the outcome from
// GetStatus (state 0 straight to 2).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "requests/RequestBase.h"
#include "support/Handles.h"

namespace tarnix {

// The constants of the upload on the wire.
constexpr char kUploadBoundary[] = "----------------------------839J39AIFUE93CK";
constexpr char kUploadPartHeaderFormat[] =
    "--%s\r\nContent-Disposition: form-data; name=\"f1\"; filename=\"%s\"\r\nContent-Type: text/plain\r\n\r\n";
constexpr char kUploadClosingFormat[] = "\r\n--%s--\r\n";
constexpr char kUploadHeaderFormat[] =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows NT)\r\nCookie: %s\r\n"
    "Content-Type: multipart/form-data; boundary=%s\r\nContent-Length: %lu\r\n\r\n";
constexpr char kTicketMarker[] = "&att=";
constexpr char kTicketCookieFormat[] = "ATT=%s;";
constexpr char kNoTicketCookie[] = ";";

// The file is read and sent in blocks of this size, so an upload of any size takes the same
// memory, and a host that lets go stops it at the next block.
constexpr DWORD kUploadBlockSize = 64 * 1024;

class CUploadRequest : public CRequestBase<IRequest> {
public:
    CUploadRequest() = default;

    // Gives the request its host, its gatekeeper path (query formatted and escaped already) and
    // the local file to post (empty: a GET of the path), and makes it wanted and pending.
    void Configure(std::string host, std::string path, std::string localFile);

protected:
    ~CUploadRequest() override = default;

    void Process() override;

private:
    // Posts the local file; gives back the answer.
    ComPtr<IStream> Post();
    // Takes the "&att=" parameter out of the path and gives back the cookie that carries it.
    std::string MoveTicketToCookie();

    std::string m_path;
    std::string m_localFile;
};

}  // namespace tarnix
