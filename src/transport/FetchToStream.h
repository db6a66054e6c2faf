// The exchanges whose whole answer is wanted in memory: every gatekeeper operation's.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <functional>
#include <string>

#include "requests/RequestBase.h"
#include "support/Handles.h"

namespace tarnix {

class CInetExchange;

// Sends the request on an exchange that is connected and opened; false when it was given up.
using SendRequestFunction = std::function<bool(CInetExchange& exchange)>;

// The road of every such exchange: connects to `host`, opens `verb` for `path` on behalf of
// `request` (nothing at all is sent if its host has let go of it by then), lets `send` send the
// request, requires status 200 and gives back the whole body as a memory stream at position 0.
// A request given up on the way gives back what it has, without error; one whose pool stops
// raises E_ABORT. Every failure is raised as an HResultError.
ComPtr<IStream> ExchangeToStream(const CRequestCore& request, const std::string& host, const std::string& path,
                                 const char* verb, const SendRequestFunction& send);

// ExchangeToStream with a request sent in one piece: the headers (may be null with length 0)
// and the whole body (may be null with length 0).
ComPtr<IStream> FetchToStream(const CRequestCore& request, const std::string& host, const std::string& path,
                              const char* verb, const char* headers, DWORD headersLength, const void* body,
                              DWORD bodyLength);

}  // namespace tarnix
