#pragma once
// The PSK mode's hooks react to host sets only. A change the mode makes
// itself (the AFC moving rxFreq, a hook publishing the other property) is
// made inside a systemChange, which the hooks see and skip. The mark is per
// thread, so a host set running on another thread at the same moment still
// reaches its hook.
namespace psk {

class systemChange {
public:
    systemChange() { ++depth(); }
    ~systemChange() { --depth(); }
    systemChange(const systemChange&) = delete;
    systemChange& operator=(const systemChange&) = delete;

    static bool active() { return depth() > 0; }

private:
    static int& depth() {
        thread_local int d = 0;
        return d;
    }
};

} // namespace psk
