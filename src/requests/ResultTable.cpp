#include "requests/ResultTable.h"

#include "support/Text.h"

namespace tarnix {

CResultTable::CResultTable() : m_buckets(new Bucket[kBucketCount]) {
    for (uint32_t i = 0; i < kBucketCount; ++i) {
        Entry& s = m_buckets[i].sentinel;
        s.prev = s.next = &s;
    }
}

CResultTable::~CResultTable() {
    Clear();
    delete[] m_buckets;
}

std::string CResultTable::MakeKey(uint32_t row, const char* name) {
    std::string key = Format("%lu:%s", static_cast<unsigned long>(row), name ? name : "");
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

uint32_t CResultTable::Hash(const std::string& key) noexcept {
    uint32_t h = 0;
    for (char c : key) {
        // Each byte counts as a signed 8-bit value widened to 32 bits.
        uint32_t widened = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
        h = ((h * 214013u + 2531011u) ^ (h << 5)) ^ widened;
    }
    return h;
}

void CResultTable::Set(uint32_t row, const char* name, std::string value) {
    std::string key = MakeKey(row, name);
    Bucket& bucket = m_buckets[Hash(key) % kBucketCount];
    Entry* sentinel = &bucket.sentinel;

    Entry* same = sentinel->next;
    while (same != sentinel && same->key != key) same = same->next;

    // A repeated key goes in front of its older entry; a new key goes at the tail.
    Entry* before = same;
    Entry* entry = new Entry{before->prev, before, std::move(key), std::move(value)};
    if (bucket.length == 0) {
        bucket.nextNonEmpty = m_firstNonEmpty;
        m_firstNonEmpty = &bucket;
    }
    before->prev->next = entry;
    before->prev = entry;
    ++bucket.length;
}

const std::string* CResultTable::Find(uint32_t row, const char* name) const {
    std::string key = MakeKey(row, name);
    const Bucket& bucket = m_buckets[Hash(key) % kBucketCount];
    for (const Entry* e = bucket.sentinel.next; e != &bucket.sentinel; e = e->next)
        if (e->key == key) return &e->value;
    return nullptr;
}

void CResultTable::Clear() noexcept {
    // Only the buckets that ever received an entry are visited.
    for (Bucket* bucket = m_firstNonEmpty; bucket;) {
        Entry* sentinel = &bucket->sentinel;
        for (Entry* e = sentinel->next; e != sentinel;) {
            Entry* next = e->next;
            delete e;
            e = next;
        }
        sentinel->prev = sentinel->next = sentinel;
        bucket->length = 0;
        Bucket* next = bucket->nextNonEmpty;
        bucket->nextNonEmpty = nullptr;
        bucket = next;
    }
    m_firstNonEmpty = nullptr;
}

}  // namespace tarnix
