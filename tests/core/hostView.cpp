#include "core/hostView.h"

#include "core/loopBackRig.h"

#include <cstdio>
#include <set>
#include <utility>

namespace keyhist {

HostView* HostView::current_ = nullptr;

const char* nameOf(watched w) {
    constexpr const char* names[] = {"A's ptt", "B's ptt", "the radio's ptt", "CW wpm", "CW freq"};
    return names[size_t(w)];
}

HostView::HostView() { current_ = this; }

HostView::~HostView() {
    if (current_ == this) current_ = nullptr;
}

void HostView::watch(watched w, void* object, double initial, binder bind) {
    entries_[size_t(w)] = {object, std::move(bind)};
    heard_[size_t(w)] = initial;
    entries_[size_t(w)].bind(false);
}

void HostView::hear(watched w, double v) {
    heard_[size_t(w)] = v;
    if (listener_) listener_(w, v);
}

HostView::reading HostView::probe() {
    std::set<void*> objects;
    for (size_t i = 0; i < watchedCount; ++i) {
        fresh_[i].clear();
        if (!entries_[i].bind) continue;
        entries_[i].bind(true);
        objects.insert(entries_[i].object);
    }
    for (void* o : objects) looprig::sync(o);
    reading r{heard_, fresh_};
    for (auto& e : entries_)
        if (e.bind) e.bind(false);
    // The host's own bind delivers the value again: it lands before the host
    // acts next, as it would for a host that re-binds and polls. It is no
    // news to the history.
    auto quiet = std::exchange(listener_, nullptr);
    for (void* o : objects) looprig::sync(o);
    listener_ = std::move(quiet);
    return r;
}

std::vector<std::string> HostView::disagreements(const reading& r) const {
    std::vector<std::string> out;
    for (size_t i = 0; i < watchedCount; ++i) {
        if (!entries_[i].bind || r.agrees(watched(i))) continue;
        char line[160];
        std::snprintf(line, sizeof line, "%s: the host's last word is %g, the library holds %g", nameOf(watched(i)),
                      r.heard[i], r.now(watched(i)));
        out.emplace_back(line);
    }
    return out;
}

} // namespace keyhist
