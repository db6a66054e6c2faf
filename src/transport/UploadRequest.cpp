#include "transport/UploadRequest.h"

#include <vector>

#include "support/Text.h"
#include "support/UrlEscape.h"
#include "transport/Answer.h"
#include "transport/Exchange.h"
#include "transport/FetchToStream.h"
#include "transport/FileStream.h"

namespace tarnix {

namespace {

// Sends `size` bytes of `file` from its current position, block by block. A file that ends
// early fails the request: the body must never disagree with the length announced for it.
void SendFileBytes(CInetExchange& exchange, IStream* file, ULONGLONG size) {
    std::vector<char> block(kUploadBlockSize);
    for (ULONGLONG left = size; left > 0;) {
        const ULONG wanted = left < kUploadBlockSize ? static_cast<ULONG>(left) : kUploadBlockSize;
        ULONG read = 0;
        ThrowIfFailed(file->Read(block.data(), wanted, &read));
        ThrowHrIf(read == 0 || read > wanted, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
        exchange.Write(std::string_view(block.data(), read));
        left -= read;
    }
}

}  // namespace

void CUploadRequest::Configure(std::string host, std::string path, std::string localFile) {
    {
        Lock lock(m_lock);
        m_path = std::move(path);
        m_localFile = std::move(localFile);
    }
    ConfigureCore(std::move(host));
}

void CUploadRequest::Process() {
    ThrowIfAbandoned();
    ComPtr<IStream> answer = m_localFile.empty() ? FetchToStream(*this, Host(), m_path) : Post();
    // Only the verdict counts: the answer carries nothing else to keep.
    CheckAnswerStatus(LoadAnswerDocument(answer.get()).get());
    ThrowIfAbandoned();
    SetFinished();
}

std::string CUploadRequest::MoveTicketToCookie() {
    const size_t start = m_path.find(kTicketMarker);
    if (start == std::string::npos) return kNoTicketCookie;
    size_t end = m_path.find('&', start + 1);
    if (end == std::string::npos) end = m_path.size();
    const size_t valueStart = start + sizeof kTicketMarker - 1;
    const std::string ticket = m_path.substr(valueStart, end - valueStart);
    // The parameter goes; the '&' that followed it stays and joins the rest of the query.
    m_path.erase(start, end - start);
    return Format(kTicketCookieFormat, ticket.c_str());
}

ComPtr<IStream> CUploadRequest::Post() {
    // Every check that can fail comes before anything is sent.
    ComPtr<IStream> file =
        OpenFileStream(m_localFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    STATSTG stat;
    ThrowIfFailed(file->Stat(&stat, STATFLAG_NONAME));
    const ULONGLONG fileSize = stat.cbSize.QuadPart;

    // The whole path goes into the part header, not only its last component.
    const std::string partHeader = Format(kUploadPartHeaderFormat, kUploadBoundary, URLEncode(m_localFile).c_str());
    const std::string closing = Format(kUploadClosingFormat, kUploadBoundary);
    // The body's length travels in 32 bits: a longer body would be announced cut short.
    const ULONGLONG bodyLength = partHeader.size() + fileSize + closing.size();
    ThrowHrIf(bodyLength > MAXDWORD, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));

    const std::string cookie = MoveTicketToCookie();
    const std::string headers = Format(kUploadHeaderFormat, cookie.c_str(), kUploadBoundary,
                                       static_cast<unsigned long>(bodyLength));

    return ExchangeToStream(*this, Host(), m_path, "POST", [&](CInetExchange& exchange) {
        exchange.BeginSend(headers, static_cast<DWORD>(bodyLength));
        exchange.Write(partHeader);
        SendFileBytes(exchange, file.get(), fileSize);
        exchange.Write(closing);
        exchange.EndSend();
    });
}

}  // namespace tarnix
