#include "Throttle.h"

#include <algorithm>

#include "Text.h"

namespace tarnix::service {

namespace {

// Enough for every name and client that failed in the last quarter of an hour, as long as that
// is not a flood; in a flood, new keys go uncounted rather than take the memory.
constexpr std::size_t kMaxKeys = 10000;

std::string NameKey(std::string_view name) { return "name:" + LowerAscii(name); }
std::string ClientKey(std::string_view client) { return "client:" + std::string(client); }

}  // namespace

std::int64_t SignInThrottle::WaitLocked(const std::string& key, int free, std::int64_t now) {
    auto found = failures_.find(key);
    if (found == failures_.end() || found->second.count < free) return 0;
    auto wait = std::min<std::int64_t>(kLongestWait, std::int64_t(1) << std::min(found->second.count - free, 6));
    return std::max<std::int64_t>(0, found->second.last + wait - now);
}

std::int64_t SignInThrottle::WaitFor(std::string_view name, std::string_view client, std::int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::max(WaitLocked(NameKey(name), kFreePerName, now), WaitLocked(ClientKey(client), kFreePerClient, now));
}

void SignInThrottle::CountLocked(const std::string& key, std::int64_t now) {
    if (failures_.size() >= kMaxKeys && !failures_.count(key)) {
        for (auto it = failures_.begin(); it != failures_.end();)
            it = now - it->second.last > kForgetAfter ? failures_.erase(it) : std::next(it);
        if (failures_.size() >= kMaxKeys) return;
    }
    auto& failures = failures_[key];
    if (now - failures.last > kForgetAfter) failures.count = 0;
    ++failures.count;
    failures.last = now;
}

void SignInThrottle::Failed(std::string_view name, std::string_view client, std::int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    CountLocked(NameKey(name), now);
    CountLocked(ClientKey(client), now);
}

void SignInThrottle::Succeeded(std::string_view name) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.erase(NameKey(name));
}

}  // namespace tarnix::service
