// The version check (versioncompare): the service's current versions of the application's
// executable, its web control and this library.
#include "operations/GatekeeperQuery.h"
#include "support/Text.h"

namespace tarnix {

namespace {

class CVersionCheckRequest : public CGatekeeperQuery {
protected:
    // Row 0 from the answer's first xapi element; no row without one, and finished either way.
    void Process() override {
        ComPtr<IXMLDOMNode> answer = FetchCheckedAnswer();
        ComPtr<IXMLDOMNodeList> components = SelectNodes(answer.get(), "//xapi");
        if (NodeCount(components.get()) >= 1) {
            ComPtr<IXMLDOMNode> xapi = NodeAt(components.get(), 0);
            SetValue(0, "EXE", ReadChildText(xapi.get(), "exe"));
            SetValue(0, "WEBCTL", ReadChildText(xapi.get(), "webctl"));
            SetValue(0, "TARNIX", ReadChildText(xapi.get(), "tarnix"));
        }
        SetFinished();
    }
};

}  // namespace

}  // namespace tarnix

using namespace tarnix;

extern "C" HRESULT TARNIX_CDECL TarnixCheckVelmoraFamilyTreeVersion(const char* exeVersion, const char* webctlVersion,
                                                                    const char* tarnixVersion, const char* cobrand,
                                                                    IQueryRequest** request) {
    return GuardHr([&] {
        // The texts go into the query as the host gives them, without escaping.
        return StartQueryRequest<CVersionCheckRequest>(
            Format("%s?op=versioncompare&exe=%s&webctl=%s&tarnix=%s&cobrand=%s", kGatekeeperPath,
                   WireText(exeVersion).c_str(), WireText(webctlVersion).c_str(),
                   WireText(tarnixVersion).c_str(), WireText(cobrand).c_str()),
            request);
    });
}
