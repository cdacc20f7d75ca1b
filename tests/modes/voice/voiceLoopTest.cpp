// Each voice mode on the loop-back test radio: a 1 kHz microphone tone
// transmitted by one transceiver, received by the other, measured in the
// on-air IQ and in the received audio.
#include "modes/voice/voiceLoop.h"

#include "support/logCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

using namespace voiceLoop;

namespace {

class VoiceLoop : public Rig {};

double db(double powerRatio) { return 10 * std::log10(powerRatio); }

} // namespace

// Upper sideband with a positive pass-band, lower with a negative one; the
// receiver's filter matches.
TEST_F(VoiceLoop, SsbSidebandsAreCleanAndTheOppositeOneIsSuppressed) {
    for (int sign : {+1, -1}) {
        SCOPED_TRACE(sign > 0 ? "upper sideband" : "lower sideband");
        microphone(1000, 0.5); // 0.5 at the clipper after the gain of 2: below clipping
        void* txMode = ssbModDemod_create();
        void* rxMode = ssbModDemod_create();
        use(tx, txMode, ssbModDemod_release);
        use(rx, rxMode, ssbModDemod_release);
        modDemod_bindOpLevel(txMode, host::on<"OpLevel", float>);
        if (sign > 0) {
            vtrx_setTxFilter(tx, 300, 2800);
            vtrx_setRxFilter(rx, 300, 2800);
        } else {
            vtrx_setTxFilter(tx, -2800, -300);
            vtrx_setRxFilter(rx, -2800, -300);
        }
        vtrx_setptt(tx, true);
        gather(fftLength);
        vtrx_setptt(tx, false);

        std::lock_guard<std::mutex> l(m);
        const double snr = -thdPlusNoiseDb(audio);
        auto p = spectrumOf(iq);
        const double suppression = db(lineAt(p, sign * 1000.0) / lineAt(p, -sign * 1000.0));
        std::printf("SSB %s: received tone SNR (THD+N) %.1f dB, opposite sideband %.1f dB down\n",
                    sign > 0 ? "USB" : "LSB", snr, suppression);
        EXPECT_GE(snr, 30.0);
        EXPECT_GE(suppression, 40.0);
        // The tone sits where the sideband puts it.
        EXPECT_GT(db(lineAt(p, sign * 1000.0) / lineAt(p, sign * 2000.0)), 40.0);
        // Below clipping, the meter reads full scale and no more.
        auto levels = host::Log::get().of("OpLevel");
        ASSERT_FALSE(levels.empty());
        EXPECT_EQ(levels.back().args[0], "1.000000");
        host::Log::get().forget("OpLevel");
        iq.clear();
        audio.clear();
    }
}

TEST_F(VoiceLoop, AmAtFullDriveKeepsItsEnvelopeCleanAroundAHalfScaleCarrierAt45Degrees) {
    // 0.99 reaches the clipper at 0.99: the limiter's ceiling then sets the
    // depth to 0.48 × 0.97 / 0.5, 93 %.
    microphone(1000, 0.99);
    void* txMode = amModDemod_create();
    void* rxMode = amModDemod_create();
    use(tx, txMode, amModDemod_release);
    use(rx, rxMode, amModDemod_release);
    vtrx_setRxFilter(rx, -3000, 3000);
    vtrx_setptt(tx, true);
    gather(fftLength);

    std::lock_guard<std::mutex> l(m);
    const double distortion = thd(audio, 1000.0);
    std::complex<double> mean = 0;
    for (size_t i = iq.size() - fftLength; i < iq.size(); ++i) mean += std::complex<double>(iq[i]);
    mean /= double(fftLength);
    double peak = 0, trough = 1e9;
    for (size_t i = iq.size() - fftLength; i < iq.size(); ++i) {
        peak = std::max(peak, double(std::abs(iq[i])));
        trough = std::min(trough, double(std::abs(iq[i])));
    }
    const double depth = (peak - trough) / (peak + trough);
    std::printf("AM full drive: received THD %.3f %%, carrier %.5f at %.3f degrees, depth %.1f %%\n",
                100 * distortion, std::abs(mean), std::arg(mean) * 180 / std::numbers::pi, 100 * depth);
    EXPECT_LE(distortion, 0.01);
    EXPECT_NEAR(std::abs(mean), 0.5, 0.005);
    EXPECT_NEAR(std::arg(mean) * 180 / std::numbers::pi, 45.0, 0.2);
    EXPECT_NEAR(depth, 0.93, 0.03);
    // The phase does not move with the audio: every sample on the 45 degree line.
    for (size_t i = iq.size() - fftLength; i < iq.size(); ++i)
        ASSERT_NEAR(iq[i].real(), iq[i].imag(), 1e-3) << i;
}

TEST_F(VoiceLoop, SignalGeneratorSendsTwoEqualLinesOrOneBelow) {
    void* gen = sigGenModDemod_create();
    use(tx, gen, sigGenModDemod_release);
    sigGenModDemod_setampl1(gen, 0.5);
    sigGenModDemod_setampl2(gen, 0.5);
    sigGenModDemod_setfreq2(gen, 1000.0);
    vtrx_setptt(tx, true);
    gather(fftLength, false);
    {
        std::lock_guard<std::mutex> l(m);
        auto p = spectrumOf(iq);
        const double carrier = lineAt(p, 0), tone = lineAt(p, 1000), below = lineAt(p, -1000);
        std::printf("Signal generator: lines at 0 and +1000 Hz differ by %.3f dB; -1000 Hz %.1f dB down\n",
                    db(carrier / tone), db(carrier / below));
        EXPECT_NEAR(db(carrier / tone), 0.0, 0.2);
        EXPECT_GT(db(carrier / below), 60.0);
    }
    sigGenModDemod_setampl1(gen, 0.0);
    sigGenModDemod_setfreq2(gen, -1000.0);
    gather(fftLength, false);
    std::lock_guard<std::mutex> l(m);
    auto p = spectrumOf(iq);
    const double below = lineAt(p, -1000);
    std::printf("Signal generator, one line below: 0 Hz %.1f dB and +1000 Hz %.1f dB under it\n",
                db(below / lineAt(p, 0)), db(below / lineAt(p, 1000)));
    EXPECT_GT(db(below / lineAt(p, 0)), 60.0);
    EXPECT_GT(db(below / lineAt(p, 1000)), 60.0);
}

TEST_F(VoiceLoop, RawIqReceivesWithoutAudioAndTransmitsSilence) {
    // An SSB transmission first, then raw IQ on both sides, keyed again
    // (the outgoing mode takes its transmission with it).
    microphone(1000, 0.5);
    void* ssb = ssbModDemod_create();
    use(tx, ssb, ssbModDemod_release);
    vtrx_setptt(tx, true);
    gather(4096, false);
    void* txRaw = RawIQModDemod_create();
    void* rxRaw = RawIQModDemod_create();
    use(tx, txRaw, RawIQModDemod_release);
    use(rx, rxRaw, RawIQModDemod_release);
    vtrx_setptt(tx, true);
    gather(8192, false);
    std::lock_guard<std::mutex> l(m);
    EXPECT_TRUE(audio.empty());
    for (auto s : iq) ASSERT_EQ(s, std::complex<float>{});
}

// Values whose arithmetic the chain cannot carry (a gain or an amplitude
// past a float, a tone no 48000 Hz chain can place), each sent through its
// exported setter while the mode transmits: refused with a line naming it,
// the value before it told back to the host, and every sample transmitted
// finite. The test radio's receiver says so: it replaces a sample that is
// not a number by 0, with a line the first time; and what it receives is not
// silence (but for FreeDV, which may lack its codec). Then an equaliser point
// that the root object hands on as it is: the chain keeps the curve it had.
namespace {
struct BadValue {
    std::string name; // as the refusal names it
    void* (*create)();
    void (*release)(void*);
    void (*bind)(void*, void (*)(double));
    void (*told)(double); // records under `name`
    void (*set)(void*, double);
    double bad;
    std::string refused; // the rest of the log line
    std::string kept;    // the value told back
};
template <host::name N>
BadValue bad(void* (*create)(), void (*release)(void*), void (*bind)(void*, void (*)(double)),
             void (*set)(void*, double), double value, std::string refused, std::string kept) {
    return {N.s, create, release, bind, host::on<N, double>, set, value, std::move(refused), std::move(kept)};
}
} // namespace

TEST_F(VoiceLoop, ValuesTheChainCannotCarryAreRefusedAndEverySampleOnTheAirStaysFinite) {
    const std::vector<BadValue> values = {
        bad<"ssbModDemod.compression">(ssbModDemod_create, ssbModDemod_release, ssbModDemod_bindcompression,
                                       ssbModDemod_setcompression, 1e300, "1e+300 refused, keeping 1", "1.000000"),
        bad<"amModDemod.compression">(amModDemod_create, amModDemod_release, amModDemod_bindcompression,
                                      amModDemod_setcompression, 1e300, "1e+300 refused, keeping 1", "1.000000"),
        bad<"fmModDemod.compression">(fmModDemod_create, fmModDemod_release, fmModDemod_bindcompression,
                                      fmModDemod_setcompression, -1e300, "-1e+300 refused, keeping 1", "1.000000"),
        bad<"fmModDemod.CTCSS">(fmModDemod_create, fmModDemod_release, fmModDemod_bindCTCSS, fmModDemod_setCTCSS,
                                1e308, "1e+308 refused, keeping 0", "0.000000"),
        bad<"FreeDVModDemod.compression">(FreeDVModDemod_create, FreeDVModDemod_release,
                                          FreeDVModDemod_bindcompression, FreeDVModDemod_setcompression, 1e300,
                                          "1e+300 refused, keeping 1", "1.000000"),
        bad<"sigGenModDemod.ampl1">(sigGenModDemod_create, sigGenModDemod_release, sigGenModDemod_bindampl1,
                                    sigGenModDemod_setampl1, 1e300, "1e+300 refused, keeping 1", "1.000000"),
        bad<"sigGenModDemod.ampl2">(sigGenModDemod_create, sigGenModDemod_release, sigGenModDemod_bindampl2,
                                    sigGenModDemod_setampl2, 1e39, "1e+39 refused, keeping 0", "0.000000"),
        bad<"sigGenModDemod.freq2">(sigGenModDemod_create, sigGenModDemod_release, sigGenModDemod_bindfreq2,
                                    sigGenModDemod_setfreq2, 1e308, "1e+308 refused, keeping 200", "200.000000"),
    };
    LogCapture log;
    auto transmittedFinite = [&] {
        return !log.contains("error|receiver 0 delivered samples that are not finite; they are replaced by 0");
    };
    auto level = [] {
        std::lock_guard<std::mutex> l(m);
        double s = 0;
        for (auto x : iq) s += std::norm(std::complex<double>(x));
        return std::sqrt(s / double(iq.size()));
    };
    microphone(1000, 0.5);
    vtrx_setptt(tx, true);
    for (const BadValue& v : values) {
        SCOPED_TRACE(v.name);
        void* mode = v.create();
        use(tx, mode, v.release); // ends the transmission of the mode before
        vtrx_setptt(tx, true);
        v.bind(mode, v.told);
        v.set(mode, v.bad);
        gather(8192, false);
        EXPECT_TRUE(transmittedFinite());
        if (!v.name.starts_with("FreeDV")) {
            EXPECT_GT(level(), 0.1);
        }
        EXPECT_TRUE(log.contains("error|" + v.name + " " + v.refused));
        const bool told = host::pollUntil(poll, [&] { return !host::Log::get().of(v.name).empty(); });
        EXPECT_TRUE(told);
        if (told) {
            EXPECT_EQ(host::Log::get().of(v.name).back().args[0], v.kept);
        }
    }

    // The root's equaliser, as a host reaches it: its points after Init, one
    // of them raised to 1e35 while SSB transmits through the curve. Taken
    // up, it would silence the transmitter (the clipper's measure of every
    // sample overflows) or fill it with NaN; the chain keeps the curve it
    // had and the tone goes on.
    void* ssb = ssbModDemod_create();
    use(tx, ssb, ssbModDemod_release);
    vtrx_setptt(tx, true);
    void* root = newHandle(Wireless::getInstance()->shared_from_this());
    Wireless_Init(root, ::testing::TempDir().c_str());
    Wireless_bindDefaultMicEQ(root, host::onCollection<"eq point", calibLine_release>);
    ASSERT_TRUE(host::pollUntil(poll, [] { return host::Log::get().of("eq point").size() >= 9; }));
    void* point = host::Log::get().of("eq point")[5].handle; // 1200 Hz
    gather(8192, false);
    const double before = level();
    calibLine_setoutp(point, 1e35);
    gather(8192, false);
    std::printf("SSB on a flat curve: %.4f rms on the air; with a point at 1e35: %.4f\n", before, level());
    EXPECT_TRUE(transmittedFinite());
    EXPECT_NEAR(level(), before, 0.01 * before);
    const auto lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with("error|microphone equaliser gain ") && l.find("refused") != std::string::npos;
    }));
    calibLine_setoutp(point, 1.0);
    gather(4096, false);
    Wireless_bindDefaultMicEQ(root, nullptr);
    Wireless_release(root);
}
