#include "Search.h"

#include <fstream>
#include <iterator>

namespace tarnix::service {

Collection::Collection(std::function<std::vector<std::filesystem::path>()> files) : files_(std::move(files)) {}

SearchCounts Collection::Count(const SearchQuery& query) {
    SearchCounts counts;
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<std::filesystem::path, Indexed> current;  // keeps only the files still in the collection
    for (const auto& path : files_()) {
        std::error_code error;
        auto size = std::filesystem::file_size(path, error);
        auto modified = std::filesystem::last_write_time(path, error);
        if (error) continue;  // gone since it was listed
        auto cached = cache_.find(path);
        Indexed indexed;
        if (cached != cache_.end() && cached->second.size == size && cached->second.modified == modified) {
            indexed = cached->second;
        } else {
            std::ifstream in(path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!in && !in.eof()) continue;
            if (!LooksLikeGedcom(bytes)) continue;
            indexed = Indexed{modified, size, std::make_shared<const std::vector<IndexedPerson>>(IndexGedcom(bytes))};
        }
        long long matches = 0;
        if (query.HasCriteria())
            for (const auto& person : *indexed.people) matches += Matches(person, query) ? 1 : 0;
        counts.matches += matches;
        counts.filesMatched += matches > 0 ? 1 : 0;
        counts.searched += static_cast<long long>(indexed.people->size());
        current.emplace(path, std::move(indexed));
    }
    cache_ = std::move(current);
    return counts;
}

}  // namespace tarnix::service
