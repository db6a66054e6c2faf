// Creating, replacing and exporting online trees (oftcreate, oftreplace, oftexport): each
// hands the host an upload request, which posts the local file (create, replace) or sends a
// plain GET (export, or no file given).
#include "operations/StartRequest.h"
#include "support/Text.h"
#include "support/UrlEscape.h"
#include "transport/UploadRequest.h"

namespace tarnix {

namespace {

HRESULT StartUpload(std::string path, std::string localFile, IRequest** request) noexcept {
    return StartRequest<CUploadRequest>(request, [&](CUploadRequest& upload) {
        upload.Configure(ServiceHost(), std::move(path), std::move(localFile));
    });
}

}  // namespace

}  // namespace tarnix

using namespace tarnix;

// Ticket and co-brand code go in as the host gives them; the identifiers and the tree name are
// escaped, so that an '&' in a name cannot start a parameter of its own.
extern "C" HRESULT TARNIX_STDCALL TarnixCreateOnlineFamilyTree(const char* ticket, const char* localFile,
                                                               const char* siteId, const char* treeName,
                                                               BOOL submitToWorldTree, const char* cobrand,
                                                               IRequest** request) {
    return GuardHr([&] {
        return StartUpload(Format("%s?op=oftcreate&att=%s&siteid=%s&oftname=%s&forvwt=%s&cobrand=%s", kGatekeeperPath,
                                  WireText(ticket).c_str(), URLEncode(TextOrEmpty(siteId)).c_str(),
                                  URLEncode(TextOrEmpty(treeName)).c_str(), submitToWorldTree ? "Y" : "N",
                                  WireText(cobrand).c_str()),
                           TextOrEmpty(localFile), request);
    });
}

extern "C" HRESULT TARNIX_STDCALL TarnixUpdateOnlineFamilyTree(const char* ticket, const char* localFile,
                                                               const char* collectionId, const char* cobrand,
                                                               IRequest** request) {
    return GuardHr([&] {
        return StartUpload(Format("%s?op=oftreplace&att=%s&collectionid=%s&cobrand=%s", kGatekeeperPath,
                                  WireText(ticket).c_str(), URLEncode(TextOrEmpty(collectionId)).c_str(),
                                  WireText(cobrand).c_str()),
                           TextOrEmpty(localFile), request);
    });
}

extern "C" HRESULT TARNIX_STDCALL TarnixExportOnlineFamilyTree(const char* ticket, const char* collectionId,
                                                               const char* cobrand, IRequest** request) {
    return GuardHr([&] {
        // No local file: a GET whose path keeps the ticket.
        return StartUpload(Format("%s?op=oftexport&att=%s&collectionid=%s&cobrand=%s", kGatekeeperPath,
                                  WireText(ticket).c_str(), URLEncode(TextOrEmpty(collectionId)).c_str(),
                                  WireText(cobrand).c_str()),
                           std::string(), request);
    });
}
