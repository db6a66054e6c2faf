// The HTTP side of the service: routes the gatekeeper endpoint and the served files, in both
// the absolute target form that a proxy receives and the plain path form, on 127.0.0.1 only.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "Connection.h"
#include "Gatekeeper.h"

namespace tarnix::service {

struct ServiceOptions {
    GatekeeperOptions gatekeeper;
    ConnectionLimits connections;
    // Names of this service that addresses in answers may carry, besides 127.0.0.1 and localhost.
    std::vector<std::string> hostNames{"trees.tarnix.example"};
    // Receives one line per request, without secrets; empty: standard error.
    std::function<void(const std::string&)> log;
};

class Service {
public:
    explicit Service(ServiceOptions options);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    Gatekeeper& gatekeeper() { return gatekeeper_; }

    // Binds 127.0.0.1:port (0 picks a free port) and gives back the port; throws on failure.
    int Bind(int port);
    // Serves until Stop; call after Bind.
    void Run();
    // Bind, then Run on a thread of its own; gives back the port.
    int Start(int port);
    void Stop();

private:
    void Handle(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader* body);
    bool ReadUpload(const httplib::Request& request, const httplib::ContentReader& body, const UploadSink& sink);
    std::string Authority(const Target& target, const httplib::Request& request) const;
    void ServeFile(const httplib::Request& request, const std::string& name, httplib::Response& response);
    void Log(const httplib::Request& request, const httplib::Response& response);

    ServiceOptions options_;
    Gatekeeper gatekeeper_;
    GuardedServer server_;
    std::thread thread_;
};

}  // namespace tarnix::service
