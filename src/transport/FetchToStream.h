// The exchanges whose whole answer is wanted in memory: every gatekeeper operation's.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <functional>
#include <string>
#include <string_view>

#include "requests/RequestBase.h"
#include "support/Handles.h"

namespace tarnix {

class CInetExchange;

// Sends the request on an exchange that is opened.
using SendRequestFunction = std::function<void(CInetExchange& exchange)>;

// The road of every such exchange: opens `verb` for `path` on `host` on behalf of `request`
// (nothing at all is sent if its host has let go of it by then), lets `send` send the request,
// requires status 200 and gives back the whole body as a memory stream at position 0. Every
// failure is raised as an HResultError; a request given up on the way raises RequestAbandoned.
ComPtr<IStream> ExchangeToStream(const CRequestCore& request, const std::string& host, const std::string& path,
                                 const char* verb, const SendRequestFunction& send);

// ExchangeToStream with a GET: the gatekeeper queries.
ComPtr<IStream> FetchToStream(const CRequestCore& request, const std::string& host, const std::string& path);

}  // namespace tarnix
