// CFileStream: the library's one way of touching local files, an IStream over a Win32 file
// handle. Downloads hand one to the host; uploads read the file to send through one.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <string_view>

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

// Where a download's body goes while it arrives. For a named destination: a new file "TAR....tmp"
// in the destination's own folder (so on its volume), which takes the destination's place in
// one step once it is whole; until then the destination stays exactly as it was, and an object
// destroyed uncommitted leaves nothing behind. Without a destination: a delete-on-close
// temporary file, as CreateTempFileStream makes.
class CDownloadFile {
public:
    // Fails with the platform's HRESULT when the destination cannot be written: a missing
    // folder, a read-only file, a folder in its place.
    explicit CDownloadFile(const std::string& destination);
    ~CDownloadFile();
    CDownloadFile(const CDownloadFile&) = delete;
    CDownloadFile& operator=(const CDownloadFile&) = delete;

    void Write(std::string_view bytes);
    // The whole file, flushed and in its place, as a stream at its first byte. A named file is
    // then open for reading only, sharing read, write and delete, so that the host may open,
    // rename or delete it by name at once.
    ComPtr<IStream> Commit();

private:
    std::string m_destination;  // full path; empty for a temporary file
    std::string m_partial;      // the file being written beside it, until it is committed
    UniqueFile m_file;
};

}  // namespace tarnix
