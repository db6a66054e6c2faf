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

// The most rows an answer may bring (a user's sites and trees are a few dozen): one with more
// fails with HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) before any is stored.
constexpr long kMaxAnswerRows = 50000;

class CGatekeeperQuery : public CQueryRequest {
protected:
    // GETs the path and gives back the checked answer's document node.
    ComPtr<IXMLDOMNode> FetchCheckedAnswer();

    // One row per node that `pattern` selects, numbered from 0 in document order, each holding
    // every name in `fields` (empty when the node lacks that child). Asks between rows whether
    // to go on, so that a host letting go or a pool stopping ends the storing.
    void StoreRows(IXMLDOMNode* document, const char* pattern, std::initializer_list<const char*> fields);
};

}  // namespace tarnix
