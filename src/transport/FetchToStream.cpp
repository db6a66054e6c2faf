#include "transport/FetchToStream.h"

#include <algorithm>

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
    // The memory stream grows by what each write needs, and may copy all it holds to grow:
    // room is made ahead, for the announced length or twice what it holds, and trimmed at the end.
    ULONGLONG received = 0, room = exchange.AnnouncedLength();
    auto makeRoom = [&](ULONGLONG size) {
        ULARGE_INTEGER newSize;
        newSize.QuadPart = room = size;
        ThrowIfFailed(stream->SetSize(newSize));
    };
    if (room != 0) makeRoom(room);
    for (std::string_view block; !(block = exchange.Read()).empty();) {
        ThrowHrIf(received + block.size() > kMaxAnswerBytes, tooLarge);
        if (received + block.size() > room) makeRoom(std::max<ULONGLONG>(2 * room, received + block.size()));
        ThrowIfFailed(stream->Write(block.data(), static_cast<ULONG>(block.size()), nullptr));
        received += block.size();
    }
    makeRoom(received);

    LARGE_INTEGER start = {};
    ThrowIfFailed(stream->Seek(start, STREAM_SEEK_SET, nullptr));
    return stream;
}

ComPtr<IStream> FetchToStream(const CRequestCore& request, const std::string& host, const std::string& path) {
    return ExchangeToStream(request, host, path, "GET", [](CInetExchange& exchange) { exchange.Send(); });
}

}  // namespace tarnix
