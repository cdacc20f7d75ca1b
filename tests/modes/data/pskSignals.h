#pragma once
// PSK test signals made by the system's own modulator: a text source for
// CPSKMod and the modulator's output as real audio.
#include "modes/data/psk/CPSKMod.h"
#include "support/hostHarness.h"

#include <complex>
#include <string>
#include <vector>

namespace psktest {

/// Serves a text once, then idle (or the end marker when endAfter is set).
struct TextSource {
    std::string text;
    size_t next = 0;
    bool endAfter = false;
    static int get(void* p) {
        auto* s = static_cast<TextSource*>(p);
        if (s->next < s->text.size()) return static_cast<unsigned char>(s->text[s->next++]);
        return s->endAfter ? CPSKMod::sourceEnd : CPSKMod::sourceIdle;
    }
    bool done() const { return next >= text.size(); }
};

/// A modulator at 48000 samples/s serving `source` on `hz`.
inline void startModulator(CPSKMod& mod, TextSource& source, int mode, double hz) {
    mod.setCharSource(&TextSource::get, &source);
    mod.InitPSKMod(48000, 0.707);
    mod.setCarrier(hz);
    mod.SetTXMode(mode);
}

/// n complex samples of the modulator.
inline std::vector<std::complex<float>> iq(CPSKMod& mod, size_t n) {
    std::vector<std::complex<float>> out(n);
    mod.CalcPSK(reinterpret_cast<float*>(out.data()), int(2 * n), 1);
    return out;
}

/// Real audio at 8000 samples/s: the modulator's text, then `tailSeconds`
/// of what follows it. The real part of every 6th sample: the signal lies
/// far below 4000 Hz, so nothing aliases.
inline std::vector<float> audio8k(int mode, const std::string& text, double hz, double tailSeconds = 1.0,
                                  float scale = 1.0f, bool endAfter = false) {
    CPSKMod mod;
    TextSource source{text, 0, endAfter};
    startModulator(mod, source, mode, hz);
    std::vector<float> out;
    size_t tail = 0;
    while (tail < size_t(tailSeconds * 8000)) {
        auto block = iq(mod, 4800);
        for (size_t i = 0; i < block.size(); i += 6) out.push_back(scale * block[i].real());
        if (source.done()) tail += 800;
    }
    return out;
}

/// All text a host callback received, joined.
inline std::string joined(const std::string& what) {
    std::string s;
    for (auto& c : host::Log::get().of(what)) s += c.args.at(0);
    return s;
}

} // namespace psktest
