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
        // The scheme decides TLS and the default port, so that an address naming a port or
        // https is fetched where it points; what it may not hold is refused before anything
        // is sent.
        DownloadFrom(ParseInetAddress(address));
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
