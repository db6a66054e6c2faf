#include "operations/GatekeeperQuery.h"

#include <vector>

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
        // One walk over the row's children, in place of a selection per field: a field takes the
        // text of the first child element of its name, as the selection would.
        std::vector<std::string> values(fields.size());
        std::vector<bool> found(fields.size());
        ComPtr<IXMLDOMNode> child;
        ThrowIfFailed(NodeAt(nodes.get(), row)->get_firstChild(child.put()));
        while (child) {
            DOMNodeType type = NODE_INVALID;
            ThrowIfFailed(child->get_nodeType(&type));
            if (type == NODE_ELEMENT) {
                const std::string name = NodeName(child.get());
                size_t i = 0;
                for (const char* field : fields) {
                    if (!found[i] && name == field) {
                        const std::wstring text = GetNodeText(child.get());
                        values[i] = WideToNarrow(CP_ACP, text.data(), static_cast<int>(text.size()));
                        found[i] = true;
                    }
                    ++i;
                }
            }
            ComPtr<IXMLDOMNode> next;
            ThrowIfFailed(child->get_nextSibling(next.put()));
            child = next;
        }
        size_t i = 0;
        for (const char* field : fields) SetValue(static_cast<ULONG>(row), field, std::move(values[i++]));
    }
}

}  // namespace tarnix
