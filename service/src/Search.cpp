#include "Search.h"

#include <fstream>
#include <iterator>
#include <set>

namespace tarnix::service {

namespace fs = std::filesystem;

namespace {

std::shared_ptr<const GedcomIndex> Load(const fs::path& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if ((!in && !in.eof()) || !LooksLikeGedcom(bytes)) return nullptr;
    return GedcomIndex::Build(bytes, limit);
}

}  // namespace

Collection::Collection(std::function<std::vector<fs::path>()> files, IndexLimits limits)
    : files_(std::move(files)), limits_(limits) {}

SearchCounts Collection::Count(const SearchQuery& query) {
    SearchCounts counts;
    std::lock_guard<std::mutex> lock(mutex_);
    auto paths = files_();
    // Indexes of files that left the collection go first, so they never add to the memory.
    std::set<fs::path> listed(paths.begin(), paths.end());
    for (auto it = kept_.begin(); it != kept_.end();) it = listed.count(it->first) ? std::next(it) : kept_.erase(it);

    std::map<fs::path, Indexed> kept;
    std::size_t keptBytes = 0;
    for (const auto& path : paths) {
        std::error_code error;
        auto size = fs::file_size(path, error);
        auto modified = fs::last_write_time(path, error);
        if (error) continue;  // gone since it was listed
        Indexed indexed;
        auto cached = kept_.find(path);
        if (cached != kept_.end() && cached->second.size == size && cached->second.modified == modified)
            indexed = std::move(cached->second);
        if (cached != kept_.end()) kept_.erase(cached);
        if (!indexed.index && size <= limits_.perFile) indexed = Indexed{modified, size, Load(path, limits_.perFile)};
        if (!indexed.index) continue;  // unreadable, not GEDCOM, or too large to search

        auto matches = indexed.index->Count(query);
        counts.matches += matches;
        counts.filesMatched += matches > 0 ? 1 : 0;
        counts.searched += static_cast<long long>(indexed.index->People());
        auto bytes = indexed.index->Bytes();
        if (keptBytes + bytes > limits_.total) continue;
        keptBytes += bytes;
        kept.emplace(path, std::move(indexed));
    }
    kept_ = std::move(kept);
    return counts;
}

std::size_t Collection::KeptIndexBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t bytes = 0;
    for (const auto& [path, indexed] : kept_) bytes += indexed.index->Bytes();
    return bytes;
}

}  // namespace tarnix::service
