#pragma once
// JTModDemod: the mode for the slotted protocols FT8, FT4 and JS8.
//
// Receive: the transceiver's stream (48000/s) is cut into periods aligned to
// the UTC clock (jt::utcMicros); each period's samples are kept, decimated,
// in a buffer that a thread of its own writes to disk as a WAV file (or, in
// SaveMode 1, a C2 file of samples mixed down by 1500 Hz). Each file written
// is announced on newFile as its path followed by the decode mode number;
// the host decodes it with ft8decode.
//
// Transmit: the host queues a message as tone numbers with queueMsg; while a
// period is being recorded the receive side starts it inside the period it
// belongs to by raising the transceiver's ptt, and modulate sends it as
// continuous-phase FSK, plain or Gaussian-smoothed, dropping ptt after the
// last symbol.
//
// Threads: host requests (property hooks, queueMsg) run on the mode's task
// group; demodulate and modulate on the transceiver's, which alone touches
// the recording, the active message and the oscillator. What crosses over:
// the checked settings (written only by the hooks, so demodulate never sees a
// refused value), the receive block length (written by demodulate, read by
// the recording checks), the queued message (under queueLock_), and the
// disable count by which the Enabled hook abandons a recording. The period
// writers touch only their own copies.
//
// Nothing a host sets keys the transmitter past its period: a start delay
// and a symbol must fit in the period, a message with its start delay too
// (checked when it is queued and again when it starts), a message starts
// only in the first half of its period, counted in the input samples the
// recording has taken, and keeps the symbol length it started with. A
// recording must end within its period, so that the next one is recorded
// and its messages start.
#include "core/modDemod.h"
#include "core/transmission.h"
#include "framework/asyncEvent.h"
#include "modes/data/checkedValue.h"

#include <atomic>
#include <climits>
#include <complex>
#include <deque>
#include <future>
#include <mutex>
#include <string>

class vtrx;

class JTModDemod : public modDemod {
public:
    using cplx = std::complex<float>;

    /// The largest period buffer accepted, in float slots (256 MB).
    static constexpr int maxSamplesPerBlock = 1 << 26;
    /// Samples of each receive block the transceiver hands over (its receive
    /// filter's block) until demodulate has seen one.
    static constexpr int defaultBlockLength = 512;
    /// Input samples a millisecond (48000 per second).
    static constexpr long long samplesPerMs = 48;
    /// The highest tone number of the protocols (8-tone FSK) and the highest
    /// frequency it may reach, the edge of the 48000/s transmit stream.
    static constexpr int highestTone = 7;
    static constexpr double maxToneHz = 24000.0;

    explicit JTModDemod(std::shared_ptr<syncTask> taskGroup);
    /// Waits for the period writers still running.
    ~JTModDemod() override;

    buff<float> demodulate(buff<cplx> block) override;
    void modulate(buff<cplx> in, buff<cplx> out) override;
    /// Drops the message on the air if it began before `before`.
    void dropTransmission(uint64_t before) override;
    /// The queued message goes with the transceiver's key when the host
    /// queued it before the let-go at `at`, and so does one queued before it
    /// that has yet to arrive; one queued after it waits for the mode's next
    /// transceiver.
    void transceiverLetGo(uint64_t at) override;

    /// Host method: replaces the queued message. tones: one tone number per
    /// symbol (a buffer of its own, not written afterwards); mode: the decode
    /// mode number (8 FT8, 10 JS8, other FT4); startTime: milliseconds since
    /// the start of the UTC hour inside the period to send in; at: the
    /// moment the host made the call. An empty buffer, or one holding a
    /// value that is not finite, is refused.
    void queueMsg(buff<float> tones, int mode, int startTime, uint64_t at = transmission::now());

    asyncProperty<std::string> saveDirectory;   // prefix of every recording's path, verbatim
    asyncProperty<int> samplesPerSymbol{7680};  // transmit symbol at 48000/s, > 0; with the start delay in a period;
                                                // a transmission keeps the one it started with
    asyncProperty<double> toneSpacing{6.25};    // transmit Hz per tone number; txFreq + 7 x it within +-24000 Hz
    // The recording (samplesPerBlock less endPadding, from the slots each
    // period's input keeps under Decimation and SaveMode) ends within a
    // period, whichever of them changes last.
    asyncProperty<int> samplesPerBlock{151200}; // period buffer, float slots, 1 .. maxSamplesPerBlock
    asyncProperty<int> endPadding{0};           // slots left zero at the buffer's end, >= 0
    asyncProperty<int> period{15000};           // ms, whole half seconds dividing the hour
    asyncProperty<int> Decimation{4};           // keep every n-th input sample; the recording ends within a period
    asyncProperty<int> SaveMode{0};             // 1: C2 mixed down by 1500 Hz, else WAV
    asyncProperty<int> FreqDevTable{0};         // < 1 plain FSK; 2, 10, 50 or other: Gaussian shape
    asyncProperty<int> TaperSamples{0};         // raised-cosine ramp at both ends (Gaussian FSK)
    asyncProperty<int> StartDelaySamples{0};    // transmit start delay at 48000/s, >= 0; with a symbol in a period
    asyncProperty<bool> Enabled{true};
    asyncEvent<std::string> newFile;

    // ---- slot recordings (any thread) ----

    /// Levels a period (peak to 32000, or clipped when the peak stands more
    /// than 15 times above the mean magnitude) and writes it in the format of
    /// saveMode. Returns the path, or empty when the file could not be
    /// written (logged).
    static std::string decode(buff<float> samples, double peak, double mean, const std::string& path,
                              double dialMHz, int saveMode);
    /// 16-bit mono WAV at 12000/s of samples x level, clipped to +-32766 when
    /// clip is set. False (logged) when the file could not be written.
    static bool writeToWav(const std::string& path, const buff<float>& samples, float level, bool clip);
    /// C2: 14 zero bytes, int32 2, the dial frequency in MHz as a double,
    /// then samples x level as float32.
    static bool writeToC2(const std::string& path, const buff<float>& samples, float level, double dialMHz);

private:
    friend class JTModDemodTestAccess;

    // ---- receive (transceiver's task group) ----
    bool periodStarts(long long micros);
    void record(const buff<cplx>& block);
    /// Records the input the clock says the recording missed, past a gap's
    /// length, as silence.
    void keepGapSilent(long long micros);
    /// Whether the recording has reached its completion point.
    bool periodFull() const;
    void completePeriod();
    void collectFiles();
    void abandonRecording();

    // ---- transmit (transceiver's task group) ----
    void startTest();
    void beginSymbol();
    /// Ramp of T samples at both ends of a Gaussian-FSK transmission.
    float taperGain(int q, int T) const;
    /// The message's last symbol went out.
    void endMessage();

    void onEnabled();
    /// Whether a symbol and the start delay before it fit in a period.
    static bool symbolFits(long long samplesPerSymbol, long long startDelay, long long periodMs);
    /// Whether a message of `symbols` symbols, after the start delay, ends
    /// within a period; logged under `what` when it does not.
    static bool messageFits(size_t symbols, long long samplesPerSymbol, long long startDelay, long long periodMs,
                            const char* what);

    // Checked settings, written only by the hooks.
    checkedValue<int> samplesPerSymbol_;
    checkedValue<double> toneSpacing_;
    checkedValue<int> samplesPerBlock_;
    checkedValue<int> endPadding_;
    checkedValue<int> period_;
    checkedValue<int> decimation_;
    checkedValue<int> startDelay_;
    checkedValue<int> saveMode_;
    std::atomic<int> blockLength_{defaultBlockLength}; // of the last receive block
    /// Counts Enabled going false; a recording started under another count
    /// is abandoned.
    std::atomic<unsigned> disabled_{0};

    // ---- the recording in progress ----
    struct Settings {
        int saveMode = 0;
        long long samplesPerBlock = 0;
        long long endPadding = 0;
        int decimation = 4;
        int period = 15000;
        unsigned disabled = 0;
    };
    /// The recording settings the hooks have let through.
    Settings inForce() const;
    /// Whether a recording under s ends within its period, from receive
    /// blocks of the length last seen; logged when it does not.
    bool recordingEndsInPeriod(const Settings& s) const;
    /// recordingEndsInPeriod with one setting at v and the others in force.
    template <class T>
    bool recordingEndsInPeriodWith(T Settings::*setting, int v) const {
        Settings s = inForce();
        s.*setting = v;
        return recordingEndsInPeriod(s);
    }

    bool recording_ = false;
    Settings rec_;
    uint64_t writePos_ = 0; // float slots
    uint64_t kept_ = 0;     // samples kept (a C2 sample takes two slots)
    uint64_t taken_ = 0;    // input samples the recording has taken, kept or not
    float peak_ = 0;
    double magSum_ = 0;
    double mixerPhase_ = 0; // never reset
    buff<float> periodBuffer_;
    int periodStart_ = 0; // ms since the start of the UTC hour
    long long startMicros_ = 0; // clock reading the recording started at
    long long recordedPeriod_ = LLONG_MIN; // clock at the start of the period recorded last
    std::string path_;

    int decodeMode_ = 8; // of the last transmission started

    struct PendingFile {
        std::future<std::string> path;
        int mode;
    };
    std::deque<PendingFile> pending_; // oldest first

    // ---- transmit ----
    struct Message {
        buff<float> tones;
        int mode = 8;
        int startTime = 0;
        uint64_t queuedAt = 0; // the moment of the host's call
    };
    std::mutex queueLock_;
    Message queued_;
    uint64_t letGoAt_ = 0; // under queueLock_: the latest let-go of the mode's transceiver

    /// A message cut short never resumes: it belongs to its period.
    void dropMessage();

    buff<float> active_;
    uint64_t activeSince_ = 0; // the moment it went on the air
    int symbolIndex_ = 0;
    int samplesLeft_ = 0;
    int symbolLength_ = 7680; // samplesPerSymbol taken at the transmission's start
    double prevHz_ = 0, curHz_ = 0, nextHz_ = 0;
    std::complex<double> phaseStep_{1.0, 0.0};
    std::complex<double> oscillator_{1.0, 0.0};
    long long emitted_ = 0;
};
