#include "transport/FetchToStream.h"

#include "transport/Exchange.h"

namespace tarnix {

ComPtr<IStream> ExchangeToStream(const CRequestCore& request, const std::string& host, const std::string& path,
                                 const char* verb, const SendRequestFunction& send) {
    ComPtr<IStream> stream;
    ThrowIfFailed(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));

    CInetExchange exchange(request);
    exchange.Connect(host, 0 /* the service's default port, 80 */);
    // A request the host has already let go of sends nothing.
    if (!exchange.Proceed()) return stream;
    exchange.OpenRequest(verb, path);
    if (!send(exchange)) return stream;

    // Only 200 carries an answer; other codes, 2xx included, fail without reading the body.
    ThrowHrIf(exchange.StatusCode() != 200, E_FAIL);

    // Asked before every block: a request given up mid-body stops after the block in hand,
    // without error.
    const char* block = nullptr;
    DWORD read = 0;
    while (exchange.Read(block, read) && read > 0) ThrowIfFailed(stream->Write(block, read, nullptr));

    LARGE_INTEGER start = {};
    ThrowIfFailed(stream->Seek(start, STREAM_SEEK_SET, nullptr));
    return stream;
}

ComPtr<IStream> FetchToStream(const CRequestCore& request, const std::string& host, const std::string& path,
                              const char* verb, const char* headers, DWORD headersLength, const void* body,
                              DWORD bodyLength) {
    return ExchangeToStream(request, host, path, verb, [&](CInetExchange& exchange) {
        return exchange.Send(headers, headersLength, body, bodyLength);
    });
}

}  // namespace tarnix
