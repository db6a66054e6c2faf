// The common shape of the query operations: fetch the gatekeeper path, apply the answer
// convention, then store values row by row.
#pragma once

#include <initializer_list>

#include "operations/StartRequest.h"
#include "requests/QueryRequest.h"
#include "transport/Answer.h"

namespace tarnix {

// GETs `path` from `host` on behalf of `request` and gives back the checked answer's document
// node. A service error answer is raised as its HRESULT.
ComPtr<IXMLDOMNode> FetchCheckedAnswer(const CRequestCore& request, const std::string& host, const std::string& path);

class CGatekeeperQuery : public CQueryRequest {
protected:
    // GETs the path and gives back the checked answer's document node.
    ComPtr<IXMLDOMNode> FetchCheckedAnswer();

    // One row per node that `pattern` selects, numbered from 0 in document order, each holding
    // every name in `fields` (empty when the node lacks that child).
    void StoreRows(IXMLDOMNode* document, const char* pattern, std::initializer_list<const char*> fields);
};

}  // namespace tarnix
