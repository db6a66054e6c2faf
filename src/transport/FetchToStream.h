// The one exchange of every gatekeeper operation: a request and its whole answer in memory.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "requests/RequestBase.h"
#include "support/Handles.h"

namespace tarnix {

// Sends `verb` for `path` to `host` on behalf of `request` (nothing at all if its host has let
// go of it by then), requires status 200 and gives back the whole body as a memory stream at
// position 0. A request given up on the way gives back what it has, without error; one whose
// pool stops raises E_ABORT. Every failure is raised as an HResultError.
ComPtr<IStream> FetchToStream(const CRequestCore& request, const std::string& host, const std::string& path,
                              const char* verb, const char* headers, DWORD headersLength, const void* body,
                              DWORD bodyLength);

}  // namespace tarnix
