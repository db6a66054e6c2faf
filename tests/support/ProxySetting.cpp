#include "ProxySetting.h"

#include <stdexcept>

namespace tarnix::test {
namespace {

const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";  // under HKCU
const char* const kNames[2] = {"ProxyEnable", "ProxyServer"};

void Check(LONG error, const char* what) {
    if (error != ERROR_SUCCESS) throw std::runtime_error(std::string(what) + " failed with error " + std::to_string(error));
}

}  // namespace

ProxySetting::ProxySetting(unsigned short port) : ProxySetting(1, "127.0.0.1:" + std::to_string(port)) {}

ProxySetting ProxySetting::Off() { return ProxySetting(0, std::string()); }

ProxySetting::ProxySetting(DWORD enable, const std::string& server) {
    for (int i = 0; i < 2; ++i) {
        Saved& saved = m_saved[i];
        DWORD size = 4096;
        saved.data.resize(size);
        const LONG error = RegGetValueA(HKEY_CURRENT_USER, kKey, kNames[i], RRF_RT_ANY | RRF_NOEXPAND, &saved.type,
                                        saved.data.data(), &size);
        if (error != ERROR_FILE_NOT_FOUND) Check(error, "reading the proxy setting");
        saved.data.resize(size);
        saved.present = error == ERROR_SUCCESS;
    }
    LONG error = RegSetKeyValueA(HKEY_CURRENT_USER, kKey, kNames[0], REG_DWORD, &enable, sizeof enable);
    if (error == ERROR_SUCCESS && !server.empty())
        error = RegSetKeyValueA(HKEY_CURRENT_USER, kKey, kNames[1], REG_SZ, server.c_str(), DWORD(server.size() + 1));
    if (error != ERROR_SUCCESS) Restore();  // no destructor runs for a constructor that throws
    Check(error, "setting the proxy");
}

void ProxySetting::Restore() const noexcept {
    for (int i = 0; i < 2; ++i) {
        if (m_saved[i].present)
            RegSetKeyValueA(HKEY_CURRENT_USER, kKey, kNames[i], m_saved[i].type, m_saved[i].data.data(),
                            DWORD(m_saved[i].data.size()));
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, kNames[i]);
    }
}

}  // namespace tarnix::test
