// Points WinINet in this process's Wine prefix at a local proxy (the TestService) for as long as
// the object lives, and puts the earlier setting back afterwards. WinINet opened with
// INTERNET_OPEN_TYPE_PRECONFIG reads these values at every InternetOpenA.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tarnix::test {

class ProxySetting {
public:
    // ProxyEnable = 1 and ProxyServer = "127.0.0.1:<port>".
    explicit ProxySetting(unsigned short port);
    // ProxyEnable = 0: WinINet resolves and connects by itself (ProxyServer is left as it is).
    static ProxySetting Off();
    ~ProxySetting() { Restore(); }

    // Not copied, nor moved: Off() and a choice between two settings hand over the object itself.
    ProxySetting(const ProxySetting&) = delete;
    ProxySetting& operator=(const ProxySetting&) = delete;

private:
    // An empty server leaves ProxyServer as it is.
    ProxySetting(DWORD enable, const std::string& server);
    void Restore() const noexcept;

    struct Saved {
        bool present = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    } m_saved[2];  // ProxyEnable, ProxyServer
};

}  // namespace tarnix::test
