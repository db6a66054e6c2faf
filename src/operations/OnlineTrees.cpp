// The user's online family trees (oftlist).
#include "operations/GatekeeperQuery.h"
#include "support/Text.h"

namespace tarnix {

class CListOnlineFamilyTreesRequest : public CGatekeeperQuery {
protected:
    // One row per oft element, with the six values the service sends for each tree.
    void Process() override {
        StoreRows(FetchCheckedAnswer().get(), "//oft",
                  {"SiteID", "SiteName", "CollectionID", "OFTName", "Permission", "DownloadStatus"});
        SetFinished();
    }
};

}  // namespace tarnix

using namespace tarnix;

extern "C" HRESULT TARNIX_STDCALL TarnixListOnlineFamilyTrees(const char* ticket, const char* cobrand,
                                                              IQueryRequest** request) {
    return GuardHr([&] {
        // Both values are sent as the host gives them, without escaping.
        return StartQueryRequest<CListOnlineFamilyTreesRequest>(
            Format("%s?op=oftlist&att=%s&cobrand=%s", kGatekeeperPath, WireText(ticket).c_str(),
                   WireText(cobrand).c_str()),
            request);
    });
}
