// The search counts: one collection of GEDCOM files, searched for the individuals that match a
// query. Files are indexed when first searched, and the indexes kept while the files stay
// unchanged, within a limit of memory.
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

struct IndexLimits {
    std::size_t perFile = 32 * 1024 * 1024;  // a larger file, or one whose index is larger, is not searched
    std::size_t total = 128 * 1024 * 1024;   // indexes kept between searches; the rest are built anew each time
};

class Collection {
public:
    // `files` lists the collection's files at the time of each search.
    Collection(std::function<std::vector<std::filesystem::path>()> files, IndexLimits limits);
    SearchCounts Count(const SearchQuery& query);
    std::size_t KeptIndexBytes();

private:
    struct Indexed {
        std::filesystem::file_time_type modified;
        std::uintmax_t size = 0;
        std::shared_ptr<const GedcomIndex> index;
    };
    std::function<std::vector<std::filesystem::path>()> files_;
    IndexLimits limits_;
    std::mutex mutex_;
    std::map<std::filesystem::path, Indexed> kept_;
};

}  // namespace tarnix::service
