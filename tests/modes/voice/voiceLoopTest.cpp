// Each voice mode on the loop-back test radio: a 1 kHz microphone tone
// transmitted by one transceiver, received by the other, measured in the
// on-air IQ and in the received audio.
#include "modes/voice/voiceLoop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>

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
    // An SSB transmission first, so the transmit filter's block holds audio,
    // then raw IQ on both sides while still keyed.
    microphone(1000, 0.5);
    void* ssb = ssbModDemod_create();
    use(tx, ssb, ssbModDemod_release);
    vtrx_setptt(tx, true);
    gather(4096, false);
    void* txRaw = RawIQModDemod_create();
    void* rxRaw = RawIQModDemod_create();
    use(tx, txRaw, RawIQModDemod_release);
    use(rx, rxRaw, RawIQModDemod_release);
    gather(8192, false);
    std::lock_guard<std::mutex> l(m);
    EXPECT_TRUE(audio.empty());
    for (auto s : iq) ASSERT_EQ(s, std::complex<float>{});
}
