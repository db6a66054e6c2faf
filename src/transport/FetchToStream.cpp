#include "transport/FetchToStream.h"

#include "transport/Exchange.h"

namespace tarnix {

ComPtr<IStream> ExchangeToStream(const CRequestCore& request, const std::string& host, const std::string& path,
                                 const char* verb, const SendRequestFunction& send) {
    ComPtr<IStream> stream;
    ThrowIfFailed(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));

    CInetExchange exchange(request, verb, InetAddress{host, 0, false, path});
    send(exchange);
    // Only 200 carries an answer; other codes, 2xx and redirects included, fail without reading
    // the body.
    ThrowHrIf(exchange.StatusCode() != 200, E_FAIL);
    const HRESULT tooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    ThrowHrIf(exchange.AnnouncedLength() > kMaxAnswerBytes, tooLarge);
    ULONGLONG received = 0;
    for (std::string_view block; !(block = exchange.Read()).empty();) {
        ThrowHrIf((received += block.size()) > kMaxAnswerBytes, tooLarge);
        ThrowIfFailed(stream->Write(block.data(), static_cast<ULONG>(block.size()), nullptr));
    }

    LARGE_INTEGER start = {};
    ThrowIfFailed(stream->Seek(start, STREAM_SEEK_SET, nullptr));
    return stream;
}

ComPtr<IStream> FetchToStream(const CRequestCore& request, const std::string& host, const std::string& path) {
    return ExchangeToStream(request, host, path, "GET", [](CInetExchange& exchange) { exchange.Send(); });
}

}  // namespace tarnix
