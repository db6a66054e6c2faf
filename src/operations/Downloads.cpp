// Downloads: any web file, and the export of an online tree (oftdownload tells where the
// prepared GEDCOM file lies, then that file is downloaded like any other).
#include "operations/GatekeeperQuery.h"
#include "operations/UrlEncode.h"
#include "support/Text.h"
#include "transport/DownloadRequest.h"

namespace tarnix {

class COnlineTreeDownloadRequest final : public CDownloadRequest {
protected:
    void Process() override {
        // A host that lets go during the gatekeeper exchange stops it there: no file is made.
        ComPtr<IXMLDOMNode> answer = FetchCheckedAnswer(*this, Host(), ObjectPath());
        const std::string address = ReadChildText(answer.get(), "//GEDCOMFile");
        ThrowHrIf(address.empty(), E_FAIL);
        RetargetTo(address);
        // The wanted flag is left as the host left it: a request given up meanwhile must not
        // come back to life for the file download.
        CDownloadRequest::Process();
    }

private:
    // Host, port and path with query of the address; the scheme decides TLS and the default
    // port, so that an address naming a port or https is fetched where it points.
    void RetargetTo(const std::string& address) {
        URL_COMPONENTSA parts = {};
        parts.dwStructSize = sizeof parts;
        // Non-zero lengths without buffers: the platform points into `address`.
        parts.dwHostNameLength = static_cast<DWORD>(address.size());
        parts.dwUrlPathLength = static_cast<DWORD>(address.size());
        ThrowLastErrorIfNull(InternetCrackUrlA(address.c_str(), 0, 0, &parts));
        const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        const bool namesPort = parts.lpszHostName && parts.lpszHostName[parts.dwHostNameLength] == ':';
        const INTERNET_PORT port = namesPort ? parts.nPort : secure ? INTERNET_DEFAULT_HTTPS_PORT : 0;
        Retarget(std::string(parts.lpszHostName ? parts.lpszHostName : "", parts.dwHostNameLength), port, secure,
                 parts.lpszUrlPath ? parts.lpszUrlPath : "");
    }
};

}  // namespace tarnix

using namespace tarnix;

extern "C" HRESULT TARNIX_STDCALL TarnixGetInternetFile(const char* server, const char* objectPath,
                                                        IDownloadRequest** request) {
    return StartRequest<CDownloadRequest>(request, [&](CDownloadRequest& download) {
        download.Configure(WireText(server), WireText(objectPath), nullptr);
    });
}

extern "C" HRESULT TARNIX_STDCALL TarnixDownloadOnlineFamilyTree(const char* ticket, const char* collectionId,
                                                                 const char* destinationFile, const char* cobrand,
                                                                 IDownloadRequest** request) {
    return GuardHr([&] {
        // Only the collection identifier is escaped; ticket and co-brand code go as given.
        std::string path = Format("%s?op=oftdownload&att=%s&collectionid=%s&cobrand=%s", kGatekeeperPath,
                                  WireText(ticket).c_str(), URLEncode(TextOrEmpty(collectionId)).c_str(),
                                  WireText(cobrand).c_str());
        return StartRequest<COnlineTreeDownloadRequest>(request, [&](COnlineTreeDownloadRequest& download) {
            download.Configure(ServiceHost(), std::move(path), destinationFile);
        });
    });
}
