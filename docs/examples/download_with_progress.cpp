// Download a web file with progress, from C++.
//
//   download_with_progress SERVER PATH
//
// The request's counters answer once the answer's headers are in (REQUEST_STATE_RUNNING); the
// data is read through GetStream once it is done. Releasing the request before then gives the
// download up.
#include <cstdio>

#include "tarnix.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SERVER PATH\n", argv[0]);
        return 2;
    }
    if (FAILED(TARNIXInitialize(0))) return 1;

    IDownloadRequest* request = nullptr;
    HRESULT hr = TarnixGetInternetFile(argv[1], argv[2], &request);
    LONG state = REQUEST_STATE_PENDING;
    while (SUCCEEDED(hr) && SUCCEEDED(hr = request->GetStatus(&state)) && state != REQUEST_STATE_DONE) {
        ULONG received = 0, total = 0;
        if (state == REQUEST_STATE_RUNNING && SUCCEEDED(request->GetTotalBytes(&total)) &&
            SUCCEEDED(request->GetBytesReceived(&received)))
            std::printf("%lu of %lu bytes\n", received, total);
        Sleep(100);
    }

    unsigned long long size = 0;
    if (SUCCEEDED(hr)) {
        IStream* data = nullptr;
        hr = request->GetStream(&data);  // one reference, released below
        char block[4096];
        ULONG read = 0;
        while (SUCCEEDED(hr) && SUCCEEDED(data->Read(block, sizeof block, &read)) && read > 0) size += read;
        if (data) data->Release();
    }
    if (request) request->Release();
    TARNIXTerminate();

    if (FAILED(hr)) {
        std::fprintf(stderr, "failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("downloaded %llu bytes\n", size);
    return 0;
}
