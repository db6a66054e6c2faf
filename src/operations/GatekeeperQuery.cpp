#include "operations/GatekeeperQuery.h"

#include "transport/FetchToStream.h"

namespace tarnix {

ComPtr<IXMLDOMNode> CGatekeeperQuery::FetchCheckedAnswer() {
    if (!Wanted()) return nullptr;
    ComPtr<IStream> answer = FetchToStream(*this, Host(), Path(), "GET", nullptr, 0, nullptr, 0);
    if (!Wanted()) return nullptr;
    ComPtr<IXMLDOMNode> document = CheckAnswerStatus(LoadAnswerDocument(answer.get()).get());
    if (!Wanted()) return nullptr;
    return document;
}

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
