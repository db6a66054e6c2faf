// CResultTable: the rows of named text values that a query request collects, keyed by
// "<row>:<name in lower case>" in a fixed table of 101 hashed buckets. Plain C++, no platform
// headers, so that it can be checked natively.
#pragma once

#include <cstdint>
#include <string>

namespace tarnix {

class CResultTable {
public:
    static constexpr uint32_t kBucketCount = 101;

    CResultTable();
    ~CResultTable();
    CResultTable(const CResultTable&) = delete;
    CResultTable& operator=(const CResultTable&) = delete;

    // Stores a value. Storing a key again puts the new value in front of the old one, so
    // lookups see the newer value.
    void Set(uint32_t row, const char* name, std::string value);
    // The value stored under (row, name), or null.
    const std::string* Find(uint32_t row, const char* name) const;
    void Clear() noexcept;

    // "%lu:%s" of the row and the name with A-Z lowered (nothing else changes); null is "".
    static std::string MakeKey(uint32_t row, const char* name);
    static uint32_t Hash(const std::string& key) noexcept;

private:
    struct Entry {
        Entry* prev;
        Entry* next;
        std::string key;
        std::string value;
    };
    struct Bucket {
        Entry sentinel;          // circular chain: sentinel.next is the head
        uint32_t length = 0;
        Bucket* nextNonEmpty = nullptr;
    };

    Bucket* m_buckets;           // kBucketCount, made with the table
    Bucket* m_firstNonEmpty = nullptr;
};

}  // namespace tarnix
