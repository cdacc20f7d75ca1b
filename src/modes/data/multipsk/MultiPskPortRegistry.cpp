#include "modes/data/multipsk/MultiPskPortRegistry.h"

#include "framework/immortal.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace multipsk {

namespace {

struct registry {
    std::mutex lock;
    std::map<int, bool> ports;
};

registry& instance() {
    static auto& r = immortal<registry>();
    return r;
}

} // namespace

portSearch claimPort(int from, int attempts, const std::function<bool(int)>& tryPort) {
    auto& r = instance();
    std::lock_guard<std::mutex> l(r.lock);
    int p = std::max(from, 1);
    for (int tried = 0; tried < attempts && p <= 65535; ++p) {
        if (r.ports.count(p)) continue;
        ++tried;
        if (tryPort(p)) {
            r.ports[p] = true;
            return {true, p};
        }
    }
    return {false, std::min(p, 65535)};
}

void releasePort(int port) {
    auto& r = instance();
    std::lock_guard<std::mutex> l(r.lock);
    r.ports.erase(port);
}

bool portHeld(int port) {
    auto& r = instance();
    std::lock_guard<std::mutex> l(r.lock);
    return r.ports.count(port) > 0;
}

} // namespace multipsk
