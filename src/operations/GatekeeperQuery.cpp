#include "operations/GatekeeperQuery.h"

#include "transport/FetchToStream.h"

namespace tarnix {

ComPtr<IXMLDOMNode> FetchCheckedAnswer(const CRequestCore& request, const std::string& host, const std::string& path) {
    if (!request.Wanted()) return nullptr;
    ComPtr<IStream> answer = FetchToStream(request, host, path, "GET", nullptr, 0, nullptr, 0);
    if (!request.Wanted()) return nullptr;
    ComPtr<IXMLDOMNode> document = CheckAnswerStatus(LoadAnswerDocument(answer.get()).get());
    if (!request.Wanted()) return nullptr;
    return document;
}

ComPtr<IXMLDOMNode> CGatekeeperQuery::FetchCheckedAnswer() { return tarnix::FetchCheckedAnswer(*this, Host(), Path()); }

bool CGatekeeperQuery::StoreRows(IXMLDOMNode* document, const char* pattern,
                                 std::initializer_list<const char*> fields) {
    ComPtr<IXMLDOMNodeList> nodes = SelectNodes(document, pattern);
    long count = NodeCount(nodes.get());
    for (long row = 0; row < count; ++row) {
        if (!Wanted()) return false;
        ComPtr<IXMLDOMNode> node = NodeAt(nodes.get(), row);
        for (const char* field : fields) SetValue(static_cast<ULONG>(row), field, ReadChildText(node.get(), field));
    }
    return true;
}

}  // namespace tarnix
