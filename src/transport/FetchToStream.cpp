#include <cstdlib>

#include "requests/RequestBase.h"
#include "transport/Inet.h"

namespace tarnix {

ComPtr<IStream> CRequestCore::FetchToStream(const std::string& host, const std::string& path, const char* verb,
                                            const char* headers, DWORD headersLength, const void* body,
                                            DWORD bodyLength) const {
    ComPtr<IStream> stream;
    ThrowIfFailed(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));

    // Declared in this order so that they are released I/O, request, connection, session.
    ComPtr<CInetSession> session;
    ComPtr<CInetConnection> connection;
    ComPtr<CInetRequest> request;
    ComPtr<CInetRequestIo> io;

    ThrowIfFailed(CreateInetSession(session.put()));
    ThrowIfFailed(session->Open(kInetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0, connection.put()));
    ThrowIfFailed(connection->Connect(host.c_str(), 0 /* the service's default port, 80 */, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0, request.put()));

    // A request the host has already let go of sends nothing.
    if (!Wanted()) return stream;

    const char* acceptTypes[] = {"*/*", nullptr};
    ThrowIfFailed(request->OpenRequest(verb, path.c_str(), kHttpVersion, nullptr, acceptTypes, 0, 0, io.put()));
    ThrowIfFailed(io->SendRequest(headers, headersLength, body, bodyLength));

    char status[256];
    DWORD statusLength = 255;
    DWORD index = 0;
    ThrowIfFailed(io->QueryInfo(HTTP_QUERY_STATUS_CODE, status, &statusLength, &index));
    status[statusLength < 255 ? statusLength : 255] = '\0';
    // Only 200 carries an answer; other codes, 2xx included, fail without reading the body.
    ThrowHrIf(std::strtol(status, nullptr, 10) != 200, E_FAIL);

    // The flag is tested before every block, so a request given up mid-body stops after the
    // block in hand, without error.
    char block[kReadBlockSize];
    while (Wanted()) {
        DWORD read = 0;
        ThrowIfFailed(io->ReadData(block, sizeof block, &read));
        if (read == 0) break;
        ThrowIfFailed(stream->Write(block, read, nullptr));
    }

    LARGE_INTEGER start = {};
    ThrowIfFailed(stream->Seek(start, STREAM_SEEK_SET, nullptr));
    return stream;
}

}  // namespace tarnix
