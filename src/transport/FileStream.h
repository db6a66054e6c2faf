// CFileStream: the library's one way of touching local files, an IStream over a Win32 file
// handle. Downloads write into one (a named file or a temporary file) and hand the same stream
// to the host; uploads read the file to send through one.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "support/Handles.h"

namespace tarnix {

// Opens `fileName` with CreateFileA, passing the other values through unchanged, and gives back
// a stream on it. A failure is raised as the HRESULT of the last error (a missing file with
// OPEN_EXISTING gives 0x80070002).
ComPtr<IStream> OpenFileStream(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                               SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                               DWORD flagsAndAttributes, HANDLE templateFile);

// A stream on a new, uniquely named file "TAR....tmp" in the user's temporary directory, opened
// delete-on-close: the file goes when the stream's last reference does.
ComPtr<IStream> CreateTempFileStream();

}  // namespace tarnix
