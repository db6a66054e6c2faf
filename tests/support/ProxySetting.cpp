#include "ProxySetting.h"

#include <stdexcept>
#include <utility>

namespace tarnix::test {
namespace {

void Check(LONG error, const char* what) {
    if (error != ERROR_SUCCESS) {
        throw std::runtime_error(std::string(what) + " failed with error " + std::to_string(error));
    }
}

class Key {
public:
    explicit Key(REGSAM access) {
        Check(RegCreateKeyExA(HKEY_CURRENT_USER, ProxySetting::kKey, 0, nullptr, 0, access, nullptr,
                              &m_key, nullptr),
              "opening the Internet Settings key");
    }
    ~Key() { RegCloseKey(m_key); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

constexpr const char* kEnable = "ProxyEnable";
constexpr const char* kServer = "ProxyServer";

}  // namespace

const char ProxySetting::kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

ProxySetting::ProxySetting(unsigned short port)
    : ProxySetting(1, "127.0.0.1:" + std::to_string(port)) {}

ProxySetting ProxySetting::Off() { return ProxySetting(0, std::string()); }

ProxySetting::ProxySetting(DWORD enable, const std::string& server) {
    Key key(KEY_QUERY_VALUE | KEY_SET_VALUE);
    for (auto [name, saved] : {std::make_pair(kEnable, &m_enable), std::make_pair(kServer, &m_server)}) {
        DWORD size = 0;
        LONG error = RegQueryValueExA(key.get(), name, nullptr, &saved->type, nullptr, &size);
        if (error == ERROR_FILE_NOT_FOUND) continue;
        Check(error, "reading the proxy setting");
        saved->data.resize(size);
        Check(RegQueryValueExA(key.get(), name, nullptr, &saved->type, saved->data.data(), &size),
              "reading the proxy setting");
        saved->data.resize(size);
        saved->present = true;
    }
    try {
        Check(RegSetValueExA(key.get(), kEnable, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                             sizeof enable),
              "setting ProxyEnable");
        if (!server.empty()) {
            Check(RegSetValueExA(key.get(), kServer, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(server.c_str()),
                                 static_cast<DWORD>(server.size() + 1)),
                  "setting ProxyServer");
        }
    } catch (...) {
        Restore();  // no destructor runs for a constructor that throws
        throw;
    }
}

ProxySetting::~ProxySetting() { Restore(); }

void ProxySetting::Restore() const noexcept {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    for (auto [name, saved] : {std::make_pair(kEnable, &m_enable), std::make_pair(kServer, &m_server)}) {
        if (saved->present) {
            RegSetValueExA(key, name, 0, saved->type, saved->data.data(),
                           static_cast<DWORD>(saved->data.size()));
        } else {
            RegDeleteValueA(key, name);
        }
    }
    RegCloseKey(key);
}

}  // namespace tarnix::test
