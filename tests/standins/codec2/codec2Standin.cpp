// A stand-in for codec2's FreeDV interface: an identity "codec" in the
// shape of FreeDV 1600 (320 speech samples and 320 modem samples per frame,
// both at 8000 per second). Transmit turns each speech sample into one real
// modem sample of the same value; receive turns each modem sample (the
// mode's gain control scales them to int16 range) back into speech. A mode that places and collects the modem samples correctly thus
// hears its own microphone, one frame and the speech ring later.
//
// Modes other than 0 bend one figure: 1 decodes only 300 of every 320
// samples (less speech than the ring plays); 90 says its speech rate is 0,
// 91 its modem rate 96000, 92 that one decode may yield 20000 samples, and
// 93 that it sends 1900 modem samples at 48000 per 320 speech samples (less
// air time than the speech).
//
// One entry is left out at build time (STANDIN_CODEC2_WITHOUT_<name>), so
// that a loader meets a library lacking it. standin_codec2_calls(name) tells
// how often an entry was called.
#include "standins/standinKit.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

constexpr int frame = 320;
struct state {
    int mode;
};
standin::CallLog calls;

} // namespace

struct cplx {
    float real, imag;
};

STANDIN_API int standin_codec2_calls(const char* name) {
    auto lines = calls.lines();
    return int(std::count(lines.begin(), lines.end(), std::string(name)));
}

STANDIN_API void* freedv_open(int mode) {
    calls.add("freedv_open");
    return new state{mode};
}
STANDIN_API void freedv_close(void* f) {
    calls.add("freedv_close");
    delete static_cast<state*>(f);
}
STANDIN_API void freedv_tx(void*, int16_t* modem, int16_t* speech) {
    calls.add("freedv_tx");
    std::copy_n(speech, frame, modem);
}
STANDIN_API void freedv_comptx(void*, cplx* modem, int16_t* speech) {
    calls.add("freedv_comptx");
    for (int i = 0; i < frame; ++i) modem[i] = {float(speech[i]), 0.0f};
}
#ifndef STANDIN_CODEC2_WITHOUT_freedv_comprx
STANDIN_API int freedv_comprx(void* f, int16_t* speech, cplx* modem) {
    calls.add("freedv_comprx");
    const int yield = static_cast<state*>(f)->mode == 1 ? frame - 20 : frame;
    for (int i = 0; i < yield; ++i) speech[i] = int16_t(std::clamp(modem[i].real, -32768.0f, 32767.0f));
    return yield;
}
#endif
static int modeOf(void* f) { return static_cast<state*>(f)->mode; }

STANDIN_API int freedv_nin(void*) { return frame; }
STANDIN_API int freedv_get_n_max_speech_samples(void* f) { return modeOf(f) == 92 ? 20000 : frame; }
STANDIN_API int freedv_get_n_max_modem_samples(void* f) { return modeOf(f) == 93 ? 1900 : frame; }
STANDIN_API int freedv_get_speech_sample_rate(void* f) { return modeOf(f) == 90 ? 0 : 8000; }
STANDIN_API int freedv_get_modem_sample_rate(void* f) {
    return modeOf(f) == 91 ? 96000 : modeOf(f) == 93 ? 48000 : 8000;
}
STANDIN_API int freedv_get_n_nom_modem_samples(void* f) { return modeOf(f) == 93 ? 1900 : frame; }
STANDIN_API int freedv_get_n_speech_samples(void*) { return frame; }
STANDIN_API void freedv_set_squelch_en(void*, int) { calls.add("freedv_set_squelch_en"); }
STANDIN_API void freedv_set_snr_squelch_thresh(void*, float) { calls.add("freedv_set_snr_squelch_thresh"); }
#ifndef STANDIN_CODEC2_WITHOUT_freedv_set_clip
STANDIN_API void freedv_set_clip(void*, int) { calls.add("freedv_set_clip"); }
#endif
