#include "Families.h"

#include <cstdio>
#include <fstream>

#include "RequestWait.h"
#include "TestFiles.h"

namespace tarnix::test {

namespace {

// The routes a fault can take; the tree download's other steps answer well.
const char* const kRoutes[kFamilyCount] = {"op=oftlist", "op=treesearchcount", "/files/data.bin",
                                           "collectionid=gate", "/exports/file.ged", "op=oftcreate"};

std::string Summary(const std::string& bytes) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
    char text[64];
    std::snprintf(text, sizeof text, "file of %zu bytes, %08x", bytes.size(), hash);
    return text;
}

std::string FileAddressAnswer(const TestService& service, const char* file) {
    return "<gatekeeper><ok/><GEDCOMFile>http://" + service.Address() + "/exports/" + file + "</GEDCOMFile></gatekeeper>";
}

}  // namespace

FamilyService::FamilyService()
    : m_good{"<gatekeeper><ok/><oft><SiteID>1</SiteID><OFTName>One</OFTName></oft>"
             "<oft><SiteID>2</SiteID><OFTName>Two</OFTName></oft></gatekeeper>",
             "57,3,12", Pattern(20000), FileAddressAnswer(service, "gate.ged"), Pattern(30011),
             "<gatekeeper><ok/></gatekeeper>"},
      m_localFile(TempPath("tarnix-families.ged")) {
    ReachDirectly(service);
    SetUploadSize(0);
    service.On("", [this](const ReceivedRequest& request) { return Answer(request); });
}

FamilyService::~FamilyService() { DeleteFileA(m_localFile.c_str()); }

const char* FamilyService::Name(Family family) {
    static const char* const names[] = {"query", "search count", "download", "tree download (gatekeeper)",
                                        "tree download (file)", "upload"};
    return names[family];
}

void FamilyService::SetUploadSize(uint64_t bytes) {
    std::ofstream file(m_localFile, std::ios::binary);
    file << "0 HEAD\r\n" << std::string(100000, 'g') << "\r\n0 TRLR\r\n";
    if (bytes > static_cast<uint64_t>(file.tellp())) file.seekp(bytes - 1).put('\0');
}

HRESULT FamilyService::Start(Family family, IRequest** request) const {
    *request = nullptr;
    switch (family) {
    case kQuery: return TarnixListOnlineFamilyTrees("tk", "cb", As<IQueryRequest>(request));
    case kCount:
        return TarnixSearchTree("Smith", nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                                As<ISearchCountRequest>(request));
    case kDownload: {  // where the gatekeeper's requests go now: the service, or a black hole
        char server[64] = "";
        GetEnvironmentVariableA("TARNIX_SERVICE", server, sizeof server);
        return TarnixGetInternetFile(server, "/files/data.bin", As<IDownloadRequest>(request));
    }
    case kTreeGatekeeper:
    case kTreeFile:
        return TarnixDownloadOnlineFamilyTree("tk", family == kTreeFile ? "file" : "gate", nullptr, "cb",
                                              As<IDownloadRequest>(request));
    case kUpload: return TarnixCreateOnlineFamilyTree("tk", m_localFile.c_str(), "4101", "Tree", FALSE, "cb", request);
    default: return E_INVALIDARG;
    }
}

void FamilyService::SetFault(Family family, std::optional<HttpAnswer> answer) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_faults[family] = std::move(answer);
}

void FamilyService::ClearFaults() {
    std::lock_guard<std::mutex> lock(m_lock);
    for (auto& fault : m_faults) fault.reset();
}

HttpAnswer FamilyService::Answer(const ReceivedRequest& request) {
    for (int f = 0; f < kFamilyCount; ++f) {
        if (request.target.find(kRoutes[f]) == std::string::npos) continue;
        std::lock_guard<std::mutex> lock(m_lock);
        HttpAnswer answer = m_faults[f] ? *m_faults[f] : HttpAnswer{200, "OK", {}, m_good[f]};
        for (auto& header : answer.headers)
            if (header.second == kThisAddress) header.second = "http://" + service.Address() + request.target;
        return answer;
    }
    if (request.target.find("collectionid=file") != std::string::npos)
        return HttpAnswer{200, "OK", {}, FileAddressAnswer(service, "file.ged")};
    if (request.target.find("/exports/gate.ged") != std::string::npos) return HttpAnswer{200, "OK", {}, m_good[kTreeFile]};
    return HttpAnswer{404, "Not Found"};
}

std::string FamilyService::Results(Family family, IRequest* request) {
    if (family == kQuery) {
        auto* query = static_cast<IQueryRequest*>(request);
        std::string text = "rows " + std::to_string(query->GetRowCount());
        for (ULONG row = 0; row < query->GetRowCount() && row < 4; ++row) {
            char value[64] = {};
            text += SUCCEEDED(query->GetValue(row, "oftname", value, sizeof value)) ? std::string(" ") + value : " <none>";
        }
        return text;
    }
    if (family == kCount) {
        auto* count = static_cast<ISearchCountRequest*>(request);
        LONG first = 0, second = 0, last = 0;
        if (FAILED(count->GetFirstValue(&first)) || FAILED(count->GetSecondValue(&second)) ||
            FAILED(count->GetLastValue(&last)))
            return "<unreadable>";
        return std::to_string(first) + " " + std::to_string(second) + " " + std::to_string(last);
    }
    if (family == kUpload) return "done";
    ComPtr<IStream> stream;
    if (FAILED(static_cast<IDownloadRequest*>(request)->GetStream(stream.put()))) return "<no stream>";
    std::string bytes;
    char block[65536];
    for (ULONG read = 0; SUCCEEDED(stream->Read(block, sizeof block, &read)) && read > 0;) bytes.append(block, read);
    return Summary(bytes);
}

std::string FamilyService::Expected(Family family, const std::string& delivered, const char* counts) const {
    switch (family) {
    case kQuery: return "rows 2 One Two";
    case kCount: return counts ? counts : "57 4 12";
    case kUpload: return "done";
    case kTreeGatekeeper: return Summary(m_good[kTreeFile]);
    default: return Summary(delivered);
    }
}

}  // namespace tarnix::test
