// Points WinINet in this Wine prefix at a local proxy for the object's life (read at every
// InternetOpenA of INTERNET_OPEN_TYPE_PRECONFIG); then direct again. Only suites holding the proxy lock use it.
#pragma once

#include <windows.h>

#include <string>

namespace tarnix::test {

class ProxySetting {
public:
    explicit ProxySetting(unsigned short port) { Set(1, "127.0.0.1:" + std::to_string(port)); }
    ~ProxySetting() { Set(0, ""); }
    ProxySetting(const ProxySetting&) = delete;
    ProxySetting& operator=(const ProxySetting&) = delete;

private:
    static void Set(DWORD enable, const std::string& server) {
        const char key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
        RegSetKeyValueA(HKEY_CURRENT_USER, key, "ProxyEnable", REG_DWORD, &enable, sizeof enable);
        if (server.empty()) RegDeleteKeyValueA(HKEY_CURRENT_USER, key, "ProxyServer");
        else RegSetKeyValueA(HKEY_CURRENT_USER, key, "ProxyServer", REG_SZ, server.c_str(), DWORD(server.size() + 1));
    }
};

}  // namespace tarnix::test
