#pragma once
// What a host last heard of the values it watches, against what the library
// holds.
//
// The host's last word on a value is the last one its bound callback
// delivered or it set itself, whichever came later on its thread: a value
// the host sets is never echoed, so its own set counts as heard. The
// library's value is read with a fresh bind: a bind of a published property
// delivers the value it holds at the next poll. The probe binds a callback
// of its own, polls until every object it read has echoed a ping (so every
// change posted before the bind has reached the host's callback, and the
// bind's value the probe's), then binds the host's callback again, which
// hears the value as any host that binds does.
//
// Host thread only.
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace keyhist {

enum class watched { pttA, pttB, pttRadio, cwWpm, cwFreq };
constexpr size_t watchedCount = 5;
const char* nameOf(watched w);

class HostView {
public:
    /// Binds the host's callback (probe false) or the probe's (true).
    using binder = std::function<void(bool probe)>;
    /// What a change the host heard looks like in the history.
    using listener = std::function<void(watched, double)>;

    HostView();
    ~HostView();
    HostView(const HostView&) = delete;
    HostView& operator=(const HostView&) = delete;

    /// Watches a value of `object` that starts at `initial` through its
    /// bind function (vtrx_bindptt, cwModDemod_bindwpm ...), binding the
    /// host's callback now.
    template <watched w, class T>
    void watch(void* object, double initial, void (*bind)(void*, void (*)(T))) {
        watch(w, object, initial, [=](bool probe) { bind(object, probe ? probed<w, T> : told<w, T>); });
    }
    void onTold(listener l) { listener_ = std::move(l); }

    /// The host set the value itself.
    void set(watched w, double v) { heard_[size_t(w)] = v; }
    double heard(watched w) const { return heard_[size_t(w)]; }

    /// What the host had heard of every watched value, and the library's
    /// value from a fresh bind: none when the property is unpublished (only
    /// the host ever set it, so its own last set is the value). A change
    /// racing the probe is read too: the first value is what the library
    /// held at the bind, the last what it held at the echo. A change whose
    /// value was stored before the bind read it, and whose callback was read
    /// after the bind stored the probe's, comes to the probe twice, once by
    /// the bind and once by itself, and never to the host's callback, which
    /// the probe had swapped out: a real host, having bound anew, hears it;
    /// the host's last word is then the value before it.
    struct reading {
        std::array<double, watchedCount> heard{};
        std::array<std::vector<double>, watchedCount> library{};
        bool agrees(watched w) const {
            auto& l = library[size_t(w)];
            const double h = heard[size_t(w)];
            const bool racedTheBind = l.size() >= 2 && l[0] == l[1];
            return l.empty() || h == l.front() || h == l.back() || racedTheBind;
        }
        /// The library's value now.
        double now(watched w) const {
            auto& l = library[size_t(w)];
            return l.empty() ? heard[size_t(w)] : l.back();
        }
    };
    reading probe();

    /// The values whose last word is not the library's, as "name: heard x,
    /// library holds y"; empty when they agree.
    std::vector<std::string> disagreements(const reading& r) const;

    // The callbacks, bound through the binders.
    template <watched w, class T>
    static void told(T v) {
        if (current_) current_->hear(w, double(v));
    }
    template <watched w, class T>
    static void probed(T v) {
        if (current_) current_->fresh_[size_t(w)].push_back(double(v));
    }

private:
    void watch(watched w, void* object, double initial, binder bind);
    void hear(watched w, double v);

    struct entry {
        void* object = nullptr;
        binder bind;
    };
    std::array<entry, watchedCount> entries_{};
    std::array<double, watchedCount> heard_{};
    std::array<std::vector<double>, watchedCount> fresh_{};
    listener listener_;
    static HostView* current_;
};

} // namespace keyhist
