#include "audio/jackConnectionWatch.h"

#include <thread>

jackConnectionWatch::jackConnectionWatch(const std::string& port) {
    jack_status_t status;
    client_ = jack_client_open("vireo port watch", JackNoStartServer, &status);
    if (!client_) return;
    port_ = jack_port_by_name(client_, port.c_str());
    if (port_) before_ = connections();
}

jackConnectionWatch::~jackConnectionWatch() {
    if (client_) jack_client_close(client_);
}

std::set<std::string> jackConnectionWatch::connections() const {
    // Those of the graph the server runs; libjack first lets a period pass
    // when a change is pending, which paces the wait.
    std::set<std::string> names;
    const char** all = jack_port_get_all_connections(client_, port_);
    for (size_t i = 0; all && all[i]; ++i) names.insert(all[i]);
    jack_free(all);
    return names;
}

bool jackConnectionWatch::waitForNew(const std::string& portName, std::chrono::milliseconds limit) {
    if (!port_) return false;
    const std::string suffix = ":" + portName;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (const auto& name : connections())
            if (!before_.contains(name) && name.ends_with(suffix)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
