// The search counts: one collection of GEDCOM files, searched for the individuals that match a
// query. Files are read once and kept indexed while they stay unchanged.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Gedcom.h"

namespace tarnix::service {

struct SearchCounts {
    long long matches = 0;       // individuals that match
    long long filesMatched = 0;  // files (trees or record sets) with at least one of them
    long long searched = 0;      // individuals searched
};

class Collection {
public:
    // `files` lists the collection's files at the time of each search.
    explicit Collection(std::function<std::vector<std::filesystem::path>()> files);
    SearchCounts Count(const SearchQuery& query);

private:
    struct Indexed {
        std::filesystem::file_time_type modified;
        std::uintmax_t size = 0;
        std::shared_ptr<const std::vector<IndexedPerson>> people;
    };
    std::function<std::vector<std::filesystem::path>()> files_;
    std::mutex mutex_;
    std::map<std::filesystem::path, Indexed> cache_;
};

}  // namespace tarnix::service
