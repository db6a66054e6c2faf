#include "operations/GatekeeperQuery.h"

#include "transport/FetchToStream.h"

namespace tarnix {

ComPtr<IXMLDOMNode> FetchCheckedAnswer(const CRequestCore& request, const std::string& host, const std::string& path) {
    request.ThrowIfAbandoned();
    ComPtr<IStream> answer = FetchToStream(request, host, path);
    ComPtr<IXMLDOMNode> document = CheckAnswerStatus(LoadAnswerDocument(answer.get()).get());
    request.ThrowIfAbandoned();
    return document;
}

ComPtr<IXMLDOMNode> CGatekeeperQuery::FetchCheckedAnswer() { return tarnix::FetchCheckedAnswer(*this, Host(), Path()); }

void CGatekeeperQuery::StoreRows(IXMLDOMNode* document, const char* pattern,
                                 std::initializer_list<const char*> fields) {
    ComPtr<IXMLDOMNodeList> nodes = SelectNodes(document, pattern);
    const long count = NodeCount(nodes.get());
    ThrowHrIf(count > kMaxAnswerRows, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
    for (long row = 0; row < count; ++row) {
        ThrowIfAbandoned();
        ComPtr<IXMLDOMNode> node = NodeAt(nodes.get(), row);
        for (const char* field : fields) SetValue(static_cast<ULONG>(row), field, ReadChildText(node.get(), field));
    }
}

}  // namespace tarnix
