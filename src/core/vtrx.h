#pragma once
// vtrx: one virtual transceiver inside a radio's band: a tuned receive
// channel with its mode, filters, gain controls, spectrum and audio, and the
// transmitter while it holds the radio's PTT. Everything of a transceiver
// runs on its own task group; it reaches its radio only through data tasks
// ("radio.setPtt", "radio.setRxFrequency", "radio.removeVtrx",
// "radio.transmit"). The few members the radio reads from its own task group
// (slots, filter edges) are atomics.
#include "audio/AudioStreams.h"
#include "core/transmission.h"
#include "dsp/DownConverter2.h"
#include "dsp/FractionalDownConverter.h"
#include "dsp/denoise/channelDenoiser.h"
#include "dsp/lowLatFir.h"
#include "framework/asyncProperty.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <complex>
#include <memory>
#include <optional>

class Radio;
class agc;
class modDemod;
struct DenoiseState;

class vtrx : public asyncObject {
public:
    using cplx = std::complex<float>;
    using spectrumCallback = void (*)(void* line, int sampleRate, double low, double high);
    using audioCallback = void (*)(void* audio);
    using iqCallback = void (*)(void* iq, double frequency, int sampleRate);

    explicit vtrx(std::shared_ptr<syncTask> taskGroup);
    ~vtrx() override;

    asyncProperty<bool> ptt{false};
    asyncProperty<bool> tune{false};
    asyncProperty<long long> specFreq{14095600};
    asyncProperty<long long> specOffset{0};
    asyncProperty<double> specZoom{1.0};
    asyncProperty<int> audioInput{0};
    asyncProperty<int> audioOutput{0};
    asyncProperty<bool> muted{false};
    asyncProperty<std::shared_ptr<agc>> rxagc;
    asyncProperty<std::shared_ptr<agc>> txagc;
    asyncProperty<double> signalStrength{0.0};
    asyncProperty<bool> foregroundDisplay{false};
    asyncProperty<int> oversample{1};
    asyncProperty<int> waterfallSpeed{0};
    asyncProperty<long long> vfo{14095600};
    asyncProperty<int> TxOffset{0};
    asyncProperty<bool> useResampler{true};
    asyncProperty<double> micLevel{0.0};
    asyncProperty<bool> bandwidthSufficient{true};
    asyncProperty<bool> useVox{false};
    asyncProperty<double> VoxThreshold{0.4};
    asyncProperty<double> VoxHold{0.5};
    asyncProperty<int> drive{0};
    asyncProperty<int> ADCs{1};
    asyncProperty<double> ADC1Gain{1.0};
    asyncProperty<double> ADC1Phase{0.0};
    asyncProperty<float> Balance{0.5f};
    asyncProperty<bool> DelayAudio{false};
    asyncProperty<bool> SendAudio{false};
    asyncProperty<bool> SendIQ{false};
    asyncProperty<bool> TuningValid{true};
    asyncProperty<int> OwnerID{0};
    asyncProperty<bool> ModClosing{false};

    /// Host thread: the display events, delivered on the render queue.
    void bindnewSpectrum(spectrumCallback cb) { newSpectrum_.store(cb); }
    void bindnewAudio(audioCallback cb) { newAudio_.store(cb); }
    void bindnewIQ(iqCallback cb) { newIQ_.store(cb); }

    // ---- set-up and control (own task group) ----
    void create();
    void start();
    void stop();
    /// The host's removal, made at `at`.
    void remove(transmission::serial at = transmission::now());
    void setRxFrequency(long long f);
    void setRxFilter(int low, int high);
    /// Designs rxFir for the stored pass-band at rate, the rate the filter
    /// is to run at.
    void designRxFilter(int rate);
    void setTxFilter(int low, int high);
    /// Attaches mode (null detaches), as the host asked at `at`. A mode
    /// another transceiver still runs comes once that one has let go of it
    /// (takeMode).
    void setModulation(std::shared_ptr<modDemod> mode, transmission::serial at = transmission::now());
    /// The mode claimed at `at` arrives from the transceiver that ran it
    /// ("vtrx.takeMode"): it runs here unless the host has changed this
    /// transceiver's mode since. A transmission keyed since the attach
    /// takes it in as if it had been there when it began.
    void takeMode(std::shared_ptr<modDemod> m, transmission::serial at);
    /// The host attached m to another transceiver at `at`: if it runs here,
    /// it is detached as the host's own detach would; if it is on its way
    /// here, it is not wanted any more.
    void modeMovedAway(const std::shared_ptr<modDemod>& m, transmission::serial at);
    /// The moment of the host's attach that brought the mode running here,
    /// 0 when none runs. Own task group.
    transmission::serial modeSince() const { return mode ? modeSince_ : 0; }
    /// Sets signalStrength from one filter output block.
    void measureSignalStrength(buff<cplx> block);

    // ---- data tasks ----
    void processRxChunk(buff<cplx> block, long long frequency, int rate, buff<float> wideBand, double wideBandValue,
                        int slot);

    // ---- transmit ----
    /// Makes n transmit samples at 48000 per second and hands them to the
    /// radio ("radio.transmit"); once a released PTT has run out its tail and
    /// the silence after it, also unkeys the radio ("radio.setPtt"). While no
    /// transmission is on, the samples are silence. Own task group only.
    void modulate(unsigned long n);
    /// A radio's request for n transmit samples: modulate(n) queued on the
    /// transceiver's task group under `name`, the request counted as made
    /// now (see transmission). Any thread.
    void askToModulate(unsigned long n, const char* name);
    /// Samples of silence after the tail before the radio is unkeyed.
    static constexpr int txTrailingSilence = 504;
    /// The transmission: who keyed it, where it is, and every way it ends.
    transmission tx{*this};
    /// Samples at the start of the transmission that its lead silence and
    /// rise still take (0 once they are through): a mode whose first
    /// samples must arrive whole starts after them. Own task group only.
    int fadeInLeft() const { return rampUpPending ? std::max(rampUpLeft + 1, 0) : 0; }
    /// Work buffers of the transmit chain: microphone samples and the mode's
    /// input, reused from request to request.
    buff<float> txMic;
    buff<cplx> txModeInput;
    // ---- end of transmit ----

    /// Slots 0 to 3: indices of the radio's hardware receivers listened to,
    /// -1 when unused. Written by the radio, read here.
    std::array<std::atomic<int>, 4> hwReceiverSlots;
    /// The radio that made this transceiver; held weakly so that late tasks
    /// find it gone instead of dangling.
    std::weak_ptr<Radio> owner;
    /// The moment the host removed it from that radio, 0 while it is
    /// listed there. The radio's task group.
    transmission::serial removedAt = 0;
    /// From the key until the radio has been told that the transmission is
    /// over (its tail included). Own task group.
    bool transmitting() const { return tx.where() != transmission::phase::off; }
    std::atomic<int> rxFilterLow{-3000};
    std::atomic<int> rxFilterHigh{3000};
    /// The mode the host last gave this transceiver (vtrx_setModulation),
    /// as its calls go: compared, never read through. Host thread, and
    /// taken back there when the host attaches that mode elsewhere.
    std::atomic<const void*> hostsMode{nullptr};
    /// The transmit pass-band the host last set, handed to every mode
    /// attached later; none until the host sets one (each mode then keeps
    /// its own default).
    std::optional<std::pair<int, int>> txFilterEdges;

    AudioOutputStream outputStream;
    AudioInputStream inputStream{0};
    DownConverter2<float> rxDownConverter;
    DownConverter2<float> specDownConverter;
    lowLatFir rxFir, txFir;
    int rxFirRate = 0; // the rate rxFir was designed for
    FractionalDownConverter<float> rxResampler;
    std::shared_ptr<agc> innerAgc;
    std::shared_ptr<modDemod> mode;
    size_t txFirPos = 0;
    int rxFill = 0;
    int specFill = 0;
    buff<cplx> specBuffer{2048};
    long long specCentre = 0;
    int specMillis = 0;

    int tailLeft = 0;
    int rampDownLength = 512;
    bool rampUpPending = true;
    int txLeadSilence = 768;
    int rampUpLength = 512;
    int rampUpLeft = 0;
    bool running = false;

    buff<float> delayBuffer;
    size_t delayPos = 0;
    bool delayFull = false;

    // ---- spectrum ----
    /// Frames, windows and transforms a processed receive block into spectrum
    /// lines for newSpectrum. Own task group, from the receive chain only.
    void processRxSpectrumChunk(buff<cplx> block, long long frequency, int rate, buff<float> wideBand,
                                double wideBandValue);
    /// Hook of specZoom: a positive zoom restarts the frame; any other value
    /// is refused and the spectrum keeps the zoom it has.
    void specZoomChanged();
    /// 7-term Blackman-Harris window of 2048 points with a mean of 1, in both
    /// lanes of each complex value and as plain floats. Built at load and
    /// never destroyed.
    static const buff<cplx>& specWindow;
    static const buff<float>& bsSpecWindow;
    int specAverageCount = 0;
    buff<float> specSum{2048};
    double specZoomInUse = 1.0;
    buff<cplx> specWindowed{2048};
    buff<cplx> specTransform{2048};
    buff<float> specLine{2048};
    // Work buffers of a frame, kept so that a line costs no allocation
    // unless a host takes a copy.
    buff<float> specPower{2048};
    buff<float> specLog{2048};
    buff<float> specWideWindowed{2048};
    buff<cplx> specWideTransform{2048};

private:
    struct SpectrumPlan;
    SpectrumPlan planSpectrum(long long frequency, int rate) const;
    bool fillSpectrumFrame(const SpectrumPlan& p, buff<cplx> block, size_t& pos);
    void completeSpectrumFrame(const SpectrumPlan& p, const buff<float>& wideBand, double wideBandValue);
    void sendSpectrumLine(const buff<float>& line, int rate, double lo, double hi);
    // ---- end of spectrum ----

public:
    /// Posts work to the radio, if it is still there.
    template <class F>
    void toRadio(const char* name, F body);
    void applyStreamIds(bool output, bool input);

    // ---- receive chain ----
    buff<cplx> combineDiversity(const buff<cplx>& arrived);
    void processFilterBlock(buff<cplx> outBlock, double absStep);
    void denoise(buff<float> out, bool stereo, bool hold, float level);
    bool tuningValid();
    /// With ADCs 3, whether the radio left slot 0 or 1 without a receiver.
    bool diversityPartnerMissing() const;
    /// mayKey: the chain reached the switch (a mode, enough bandwidth);
    /// without it a transmission the switch keyed still runs out its hold.
    void voiceSwitch(double blockSeconds, bool mayKey);
    void sendIQ(const buff<cplx>& block, long long frequency, int rate);
    void sendAudio(const buff<float>& audio);

    int arrivedSlots = 0;
    std::array<buff<cplx>, 4> slotBlocks;
    bool diversityReported = false; // the missing partner was logged
    int lastBlockRate = 0;
    int lastModeRate = 0;
    int meterCount = 0;
    double micPeak = 0;
    double voxHoldLeft = 0;
    int pttHold = 0;
    int pttTail = 0;
    DenoiseState* denoiser = nullptr;
    // Interleaved stereo is reduced one channel at a time (left, right): a
    // frame of both would mix the channels and clear their difference.
    std::array<channelDenoiser, 2> nrStereo;

    /// The host let go of a handle: nobody is left to unkey the transceiver,
    /// so what it transmits is released ("vtrx.release()"), its tail runs
    /// out, and nothing keys it again. Host thread.
    void hostLetGo() override;

private:
    /// m runs here from now on, as the host attached it at `at`; true when
    /// it was not running here already.
    bool runMode(std::shared_ptr<modDemod> m, transmission::serial at);
    /// The receive filter and the host's transmit pass-band for the mode
    /// now attached (or none).
    void modeSettled();
    /// The moment of the host's latest change of this transceiver's mode.
    transmission::serial modeAskedAt_ = 0;
    transmission::serial modeSince_ = 0;

    std::atomic<spectrumCallback> newSpectrum_{nullptr};
    std::atomic<audioCallback> newAudio_{nullptr};
    std::atomic<iqCallback> newIQ_{nullptr};
};
