// The sign-in slowdown. After five failed sign-ins for one user name, or twenty from one client
// address, the next attempt must wait a second after the last failure, and each further failure
// doubles the wait, up to a minute. An attempt within the wait is refused at once, without
// trying the password, so nothing sleeps and nothing waits behind it. A success clears the
// name's count; counts are forgotten a quarter of an hour after their last failure.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tarnix::service {

class SignInThrottle {
public:
    static constexpr int kFreePerName = 5, kFreePerClient = 20;
    static constexpr std::int64_t kLongestWait = 60, kForgetAfter = 15 * 60;

    // Seconds (at `now`) until this name may be tried from this client; 0: at once.
    std::int64_t WaitFor(std::string_view name, std::string_view client, std::int64_t now);
    void Failed(std::string_view name, std::string_view client, std::int64_t now);
    void Succeeded(std::string_view name);

private:
    struct Failures {
        int count = 0;
        std::int64_t last = 0;
    };
    std::int64_t WaitLocked(const std::string& key, int free, std::int64_t now);
    void CountLocked(const std::string& key, std::int64_t now);

    std::mutex mutex_;
    std::unordered_map<std::string, Failures> failures_;  // by "name:" or "client:" key
};

}  // namespace tarnix::service
