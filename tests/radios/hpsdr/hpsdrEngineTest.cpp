// The protocol 1 engine on the radio's own task group, its packets for the
// board captured instead of sent: the registers of every frame, queued
// register writes and their spacing, transmit packets around a press and a
// release, status and telemetry from receive packets, the wide band, and
// datagrams that must change nothing.
#include "radios/hpsdr/HpsdrRadio.h"

#include "audio/audioIO.h"
#include "core/coreObjectFixture.h"
#include "core/drainTasks.h"
#include "core/vtrx.h"
#include "radios/hpsdr/Ep4Packet.h"
#include "radios/hpsdr/colLerp.h"
#include "sim/hpsdrP1Sim.h"
#include "support/logCapture.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <set>

namespace {

using cplx = std::complex<float>;
using regs = std::array<int, 5>; // C0..C4

uint32_t be32(const regs& c) { return uint32_t(c[1]) << 24 | uint32_t(c[2]) << 16 | uint32_t(c[3]) << 8 | uint32_t(c[4]); }

class HpsdrEngine : public CoreObjects {
protected:
    void SetUp() override {
        h = HpsdrRadio_create();
        r = object<HpsdrRadio>(h);
        run([this] {
            r->packetSink = [this](const buff<char>& p) { sent.emplace_back(p.data, p.data + p.count); };
        });
    }
    void TearDown() override {
        run([this] { r->packetSink = nullptr; });
        r.reset();
        HpsdrRadio_release(h);
        CoreObjects::TearDown();
    }
    /// On the radio's task group, after the host requests made so far.
    template <class F>
    void run(F f) {
        onWorker(r, std::move(f));
    }
    static buff<char> datagram(const std::vector<uint8_t>& bytes) {
        buff<char> b(bytes.size());
        if (!bytes.empty()) std::memcpy(b.data, bytes.data(), bytes.size());
        return b;
    }
    void feed(const std::vector<uint8_t>& bytes) {
        run([&] { r->handleRxPacket(datagram(bytes)); });
    }
    /// count packets of stream numbered from first, in one turn.
    void feedStream(ep6Stream& stream, uint32_t first, uint32_t count) {
        run([&] {
            for (uint32_t s = first; s < first + count; ++s) r->handleRxPacket(datagram(stream.next(s)));
        });
    }
    regs reg(int index) {
        unsigned char f[512] = {};
        run([&] { r->setCommandControlBits(index, CommandControlFrame(f)); });
        return {f[3], f[4], f[5], f[6], f[7]};
    }
    ep2Packet send(const buff<cplx>& block) {
        run([&] { r->sendCommandControl(block); });
        auto p = decodeEp2(sent.back());
        EXPECT_TRUE(p);
        return p ? *p : ep2Packet{};
    }
    void setReceivers(const std::vector<long long>& frequencies) {
        run([&] {
            std::lock_guard<std::mutex> lock(r->listMutex);
            r->receivers.assign(frequencies.size(), hwReceiver{});
            for (size_t k = 0; k < frequencies.size(); ++k) {
                r->receivers[k].frequency = frequencies[k];
                r->receivers[k].slot = int(k % 4);
            }
        });
    }

    void* h = nullptr;
    std::shared_ptr<HpsdrRadio> r;
    std::vector<std::vector<uint8_t>> sent;
};

TEST_F(HpsdrEngine, RegistersCarryRateReceiversGainsAndFrequencies) {
    Radio_setSampleRate(h, 384000);
    setReceivers({7000000, 40000000, 80000000});
    EXPECT_EQ(reg(0), (regs{0x00, 3, 0, 0, 0x14}));
    EXPECT_EQ(be32(reg(2)), 7000000u);
    EXPECT_EQ(be32(reg(3)), 33728000u) << "folded into the first zone of 73728000";
    EXPECT_EQ(be32(reg(4)), 6272000u);
    EXPECT_EQ(reg(5)[0], 5 << 1);
    EXPECT_EQ(be32(reg(5)), 10000000u) << "an absent receiver";
    EXPECT_EQ(be32(reg(1)), 14095600u);
    EXPECT_EQ(reg(10)[4], 0x3B);
    EXPECT_EQ(reg(14), (regs{14 << 1, 0x24, 0, 0, 0}));
    EXPECT_EQ(reg(16), (regs{16 << 1, 30, 0, 0, 0}));
    EXPECT_EQ(reg(23), (regs{23 << 1, 0, 0, 22, 10}));
    EXPECT_EQ(reg(45), (regs{45 << 1, 0, 0, 0, 0}));

    Radio_setfrequencyCalibration(h, 1.0000015);
    Radio_setdrive(h, 300);
    Radio_setcwHangTime(h, 123);
    Radio_setmaxHwReceivers(h, 13);
    HpsdrRadio_setRXAntenna(h, true);
    HpsdrRadio_setTypeID(h, 6);
    HpsdrRadio_setenablePA(h, true);
    HpsdrRadio_setdisableTR(h, true);
    HpsdrRadio_setATUTune(h, true); // only with a tuning transceiver
    HpsdrRadio_setHLite2Gain(h, true);
    run([&] { r->setHLGain(); });
    EXPECT_EQ(be32(reg(5)), 10000015u);
    EXPECT_EQ(reg(9), (regs{9 << 1, 44, 12, 0, 0})) << "drive 300 is entry 44";
    EXPECT_EQ(reg(16), (regs{16 << 1, 30, 3, 0, 0}));
    EXPECT_EQ(be32(reg(23)), 10000015u) << "receiver 12 on boards with 13 or more";
    EXPECT_EQ(reg(0)[3], 0x20);
    EXPECT_EQ(reg(10)[4], 0x64);
    HpsdrRadio_setHLiteRxTxGain(h, true);
    HpsdrRadio_setrxGain(h, 30);
    EXPECT_EQ(reg(10)[4], 30 + 12 + 0x40);
    EXPECT_EQ(reg(14)[3], 0xCC); // 0 + 12 - 64

    // Filter-board outputs, band list first: the first band that covers it.
    run([&] {
        for (auto [edge, rx, tx] : {std::array<int, 3>{7300000, 1, 2}, {14350000, 3, 4}}) {
            auto band = std::make_shared<J16>(r->taskGroup());
            band->maxfrequency.reinit(edge);
            band->rx.reinit(rx);
            band->tx.reinit(tx);
            r->J16Set.add(band);
        }
        EXPECT_EQ(r->j16GetOutput(7000000, false), 1);
        EXPECT_EQ(r->j16GetOutput(7300000, true), 2);
        EXPECT_EQ(r->j16GetOutput(14000000, true), 4);
        EXPECT_EQ(r->j16GetOutput(20000000, false), 0);
    });
    EXPECT_EQ(reg(0)[2], 2) << "receiver 0 at 7 MHz: rx 1, times 2";
    Radio_setptt(h, true);
    EXPECT_EQ(reg(0)[2], 8) << "transmitting at 14095600: tx 4, times 2";
    Radio_setptt(h, false);

    // Filter set: receivers in bands 1 and 2 (80 MHz in none) pick row 6.
    HpsdrRadio_setUseJ16(h, false);
    run([&] {
        auto set = r->FilterSet.get();
        for (int b = 0; b < 3; ++b) {
            auto band = std::make_shared<J16FilterBands>(r->taskGroup());
            band->maxfrequency.reinit(5000000 * (b + 1) * (b + 1));
            band->tx.reinit(7 + b);
            set->FilterBands.add(band);
        }
        for (int m = 0; m < 8; ++m) {
            auto row = std::make_shared<J16FilterRx>(r->taskGroup());
            row->rx.reinit(100 + m);
            set->FilterRx.add(row);
        }
        EXPECT_EQ(r->j16GetOutput(0, false), 106);
        EXPECT_EQ(r->j16GetOutput(7000000, true), 8);
        EXPECT_EQ(r->j16GetOutput(90000000, true), 0);
        // Band positions from 64 on have no row; never a shift past 63.
        set->FilterBands.reset();
        for (int b = 0; b < 70; ++b) {
            auto band = std::make_shared<J16FilterBands>(r->taskGroup());
            band->maxfrequency.reinit(b < 65 ? 1000 : 100000000);
            set->FilterBands.add(band);
        }
        EXPECT_EQ(r->j16GetOutput(0, false), 0);
        r->FilterSet.set(nullptr, false);
        EXPECT_EQ(r->j16GetOutput(0, false), 0);
    });

    EXPECT_EQ(HpsdrRadio::hertz2fcode(0), 0);
    EXPECT_EQ(HpsdrRadio::hertz2fcode(1000), 1);
    EXPECT_EQ(HpsdrRadio::hertz2fcode(14095600), 102); // ln(751.86) × 15.47 + 0.5 = 102.95

    // Tuning: the next packet carries the receiver frequencies first.
    for (int i = 0; i < 3; ++i) send(r->emptyBlock);
    run([&] { r->tune(); });
    auto tuned = send(r->emptyBlock);
    EXPECT_EQ(tuned.frames[0].index(), 2);
    EXPECT_EQ(tuned.frames[1].index(), 3);
    const auto& f = tuned.frames[0];
    EXPECT_EQ(be32({f.c0, f.c1, f.c2, f.c3, f.c4}), be32(reg(2)));
}

TEST_F(HpsdrEngine, QueuedWritesTakeFramesSpacedByTheirWait) {
    HpsdrRadio_setbiasEnabled(h, true);
    HpsdrRadio_setFwVersion(h, 59);
    HpsdrRadio_setpaBias0(h, 10);
    HpsdrRadio_setFwVersion(h, 60);
    HpsdrRadio_setpaBias0(h, 0);
    HpsdrRadio_setpaBias0(h, 10);
    HpsdrRadio_writeBias(h);
    HpsdrRadio_writeIP(h, int(0xC0A80102u));
    HpsdrRadio_setIOBoardRxMode(h, 3);
    run([&] { r->writeIOCardFreq(14095600); });
    Radio_setptt(h, true); // MOX goes with every command too
    const std::vector<std::array<int, 3>> want = {
        {0xA8, 0x00, 0xF5}, {0xAC, 0x00, 0x00}, {0xAC, 0x00, 0x0A}, {0xAC, 0x20, 0x0A}, {0xAC, 0x30, 0x00},
        {0xAC, 0x80, 192},  {0xAC, 0x90, 168},  {0xAC, 0xA0, 1},    {0xAC, 0xB0, 2},    {0x1D, 0x01, 0x00},
        {0x1D, 0x02, 0xD7}, {0x1D, 0x03, 0x14}, {0x1D, 0x04, 0xF0}, {0x1D, 0x00, 0x00}, {0x1D, 0x0B, 3}};
    const std::vector<int> wait = {4, 4, 4, 40, 40, 40, 40, 40, 40, 4, 4, 4, 4, 4, 4};

    std::vector<std::array<int, 3>> got;
    std::vector<int> at;
    std::set<int> ordinary; // indices of ordinary frames
    for (int packet = 0; packet < 160; ++packet) {
        auto p = send(r->emptyBlock);
        for (int f = 0; f < 2; ++f) {
            auto& fr = p.frames[size_t(f)];
            EXPECT_TRUE(fr.mox());
            if (fr.c0 == 0xFB) {
                EXPECT_EQ(fr.c1, 0x06);
                got.push_back({fr.c2, fr.c3, fr.c4});
                at.push_back(2 * packet + f);
            } else {
                ordinary.insert(fr.index());
            }
        }
    }
    EXPECT_EQ(got, want);
    ASSERT_EQ(at.size(), want.size());
    EXPECT_EQ(at[0], 0) << "the first goes in the very next frame";
    for (size_t i = 1; i < at.size(); ++i) EXPECT_EQ(at[i] - at[i - 1], wait[i - 1] + 1) << i;
    // A command's frame skips its index; the rotation still covers them all.
    EXPECT_EQ(ordinary.size(), 46u);
    EXPECT_EQ(*ordinary.rbegin(), 45);

    // Frames counted for ever (no command for months) still let the next
    // command go at once.
    run([&] { r->frameCounter = INT_MAX; });
    reg(0);
    HpsdrRadio_writeStatus(h, 7);
    EXPECT_EQ(reg(0), (regs{0xFB, 0x06, 0xAC, 0x60, 7}));
}

TEST_F(HpsdrEngine, PressAndReleaseSendTheForcedPairAndLatchTheGain) {
    HpsdrRadio_settxGain(h, -6);
    const double rxScale = std::pow(10.0, -24.0 / 20), txScale = std::pow(10.0, 6.0 / 20);
    for (int i = 0; i < 5; ++i) send(r->emptyBlock); // settled, receiving
    Radio_setptt(h, true);

    // A short block of magnitude 2: clipped to 32766 with its phase, then zeros.
    buff<cplx> block(10);
    for (size_t k = 0; k < block.count; ++k) block[k] = std::polar(2.0f, 0.6f * float(k) - 2.5f);
    auto press = send(block);
    EXPECT_TRUE(press.frames[0].mox() && press.frames[1].mox());
    EXPECT_EQ(press.frames[0].index(), 0);
    EXPECT_EQ(press.frames[1].index(), 10);
    for (size_t k = 0; k < 63; ++k) {
        const auto& w = press.frames[0].iq[k];
        if (k >= block.count) {
            EXPECT_EQ(w[0] | w[1], 0) << "padded slot " << k;
            continue;
        }
        // Even zone: first word -I, second Q.
        EXPECT_NEAR(std::hypot(double(w[0]), double(w[1])), 32766.0, 1.0);
        EXPECT_NEAR(std::remainder(std::atan2(double(w[1]), -double(w[0])) - std::arg(block[k]), 2 * M_PI), 0.0, 1e-4);
    }
    for (auto& w : press.frames[1].iq) EXPECT_EQ(w[0] | w[1], 0);
    run([&] { EXPECT_EQ(r->rxScale, rxScale); });

    // The receive scale follows the board's gain from the fifth packet on.
    for (int i = 2; i <= 5; ++i) {
        auto p = send(r->emptyBlock);
        EXPECT_TRUE(p.frames[0].mox());
        if (i == 2) { EXPECT_EQ(p.frames[0].index(), 11); }
        run([&] { EXPECT_EQ(r->rxScale, i < 5 ? rxScale : txScale) << "packet " << i; });
    }

    Radio_setptt(h, false);
    auto release = send(r->emptyBlock);
    EXPECT_FALSE(release.frames[0].mox());
    EXPECT_EQ(release.frames[0].index(), 0);
    EXPECT_EQ(release.frames[1].index(), 1);
    for (int k = 1; k <= 49; ++k) {
        auto p = send(r->emptyBlock);
        bool transmitting = false;
        run([&] { transmitting = r->transmitting(); });
        if (k < 48) { EXPECT_TRUE(transmitting) << k; }
        const bool pair = p.frames[0].index() == 0 && p.frames[1].index() == 10;
        EXPECT_EQ(pair, k == 49) << k;
        if (k == 49) { EXPECT_FALSE(transmitting); }
    }
    run([&] { EXPECT_EQ(r->rxScale, rxScale); });
}

TEST_F(HpsdrEngine, StatusBecomesTelemetryAndTheRfAgcSteps) {
    HpsdrRadio_bindrxGain(h, host::on<"rxGain", int>);
    ep6Stream stream(1, {{{0.1, 0.01, 0.0}}});
    uint32_t seq = 0;
    auto packet = [&](simStatus a, simStatus b) { feed(stream.next(seq++, a, b)); };

    // Readings of 1000 (address 1) smooth towards 1000; published every
    // 82 frames at 48000 with one receiver.
    for (int i = 0; i < 120; ++i) packet({0x08, 0x03, 0xE8, 0, 0}, {0x08 | 0x01, 0x03, 0xE8, 0, 0});
    double reading = 0;
    run([&] {
        EXPECT_NEAR(r->Temp.get(), (1000.0 / 4096 * 3.26 - 0.5) / 0.01, 1e-4);
        EXPECT_TRUE(r->RadioPtt.get());
        EXPECT_FALSE(r->ptt.get()) << "the board's PTT never keys the radio";
        reading = r->temperatureReading;
    });
    EXPECT_NEAR(r->Temp.get(), 29.59, 0.01);
    // A register-write answer carries no status.
    packet({0x80 | 0x08, 0xFF, 0xFF, 0, 0}, {0x80, 0x01, 0, 0x80, 0});
    run([&] {
        EXPECT_EQ(r->temperatureReading, reading);
        EXPECT_TRUE(r->RadioPtt.get());
        EXPECT_FALSE(r->adcOvl.get());
    });

    // Power: the default curve at 647.9156 is 0.2164583 W; beyond the last
    // point it follows the last segment.
    run([&] {
        r->addFirstStartDefaults();
        EXPECT_NEAR(colLerp(r->FwdPwrCalibration, 647.9156f), 0.2164583, 1e-7);
        const double slope = (10.673214 - 8.820838) / (4952.746 - 4502.4966);
        EXPECT_NEAR(colLerp(r->FwdPwrCalibration, 5500), 10.673214 + (5500 - 4952.746) * slope, 1e-4);
    });

    // Overload in 2 % of a window of 1000 frames: 27 → 24 − 6.
    HpsdrRadio_setrfAgcMode(h, 2);
    HpsdrRadio_setrxGain(h, 27);
    run([&] { r->overloadFrames = r->cleanFrames = 0; });
    for (int i = 0; i < 501; ++i) packet({0, uint8_t(i % 50 == 0)}, {0, uint8_t(i % 50 == 1)});
    run([&] { EXPECT_EQ(r->rxGain.get(), 18); });
    // No overload: at 0.4 of full scale it stays, at 0.2 up 6 dB, capped at 30.
    HpsdrRadio_setrxGain(h, 25);
    std::vector<int16_t> wide(512, 0);
    for (int w = 0; w < 4; ++w) {
        wide[3] = int16_t(w == 0 ? -820 : -410);
        for (int i = 0; i < 501; ++i) {
            if (i % 40 == 0) feed(ep4Packet(uint32_t(i), wide));
            packet({}, {});
        }
        // (the window after the loud one may still see its peak)
        if (w != 1) run([&] { EXPECT_EQ(r->rxGain.get(), w == 0 ? 24 : 30) << "window " << w; });
    }
    EXPECT_NEAR(r->adcPeak.get(), 410.0 / 2048, 1e-12);
    // The steps after the host's set of 25 reach it, up to the last.
    ASSERT_TRUE(host::pollUntil([] { getUpdates(); }, [&] { return log.of("rxGain").size() >= 2; }));
    EXPECT_EQ(log.of("rxGain").back().args[0], "30");

    // Without a full scale: no ratio, no step up, and finite values.
    HpsdrRadio_setmaxAdcValue(h, 0);
    HpsdrRadio_setrxGain(h, 12);
    for (int i = 0; i < 501; ++i) packet({}, {});
    run([&] {
        EXPECT_EQ(r->rxGain.get(), 12);
        EXPECT_EQ(r->adcPeak.get(), 0.0);
        EXPECT_EQ(r->adcPeakDBFS.get(), -100.0);
    });
}

TEST_F(HpsdrEngine, TelemetryWhileTransmittingAndTheKeyInput) {
    run([&] { r->addFirstStartDefaults(); }); // a transmitting transceiver, the power curve
    std::shared_ptr<vtrx> tx;
    run([&] { tx = r->txVtrx(); });
    ASSERT_TRUE(tx);
    auto sidetone = [&] { return tx->outputStream.io->toneHardware.load(); };
    ep6Stream stream(1, {{simTone{}}});
    uint32_t seq = 0;
    auto packet = [&](simStatus a, simStatus b) { feed(stream.next(seq++, a, b)); };

    // The board's key input sounds the transmitting transceiver's sidetone;
    // a register answer carries no status, the key bit included.
    packet({0x04}, {0x04});
    EXPECT_TRUE(sidetone());
    packet({}, {});
    EXPECT_FALSE(sidetone());
    packet({0x80 | 0x04}, {0x80 | 0x04});
    EXPECT_FALSE(sidetone());

    // Readings of temperature 1000 and forward 1000 (address 1), reverse 200
    // and PA current 1000 (address 2), smoothed until they stand.
    Radio_setptt(h, true);
    for (int i = 0; i < 300; ++i) packet({1 << 3, 0x03, 0xE8, 0x03, 0xE8}, {2 << 3, 0x00, 0xC8, 0x03, 0xE8});
    // The default curve between its points (647.9156, 0.2164583) and
    // (1196.5935, 0.6654805), and (101.024536, 0.012752045) and
    // (265.29013, 0.05060093).
    const double fwd = 0.2164583 + (1000 - 647.9156) * (0.6654805 - 0.2164583) / (1196.5935 - 647.9156);
    const double rev = 0.012752045 + (200 - 101.024536) * (0.05060093 - 0.012752045) / (265.29013 - 101.024536);
    const double p = std::sqrt(rev / fwd);
    run([&] {
        EXPECT_NEAR(r->Temp.get(), 29.59, 0.01);
        EXPECT_NEAR(r->Current.get(), 505.3955, 1e-3) << "1000 / 4096 × 3.26 / 50 / 0.04 × 1270";
        EXPECT_NEAR(r->FwdPwr.get(), fwd, 1e-6);
        EXPECT_NEAR(r->RevPwr.get(), rev, 1e-6);
        EXPECT_NEAR(r->Swr.get(), (1 + p) / (1 - p), 1e-5);
    });

    // Transmit-buffer events (address 0, C3 bit 7; bit 6 tells underflow
    // from overflow) count while transmitting: 5 underflows, 3 overflows.
    // Levels (bit 7 clear) keep their minimum.
    const simStatus under{0, 0, 0, 0xC0}, over{0, 0, 0, 0x80}, underAll{0, 0, 0, 0xFF}, overAll{0, 0, 0, 0xBF};
    for (auto [a, b] : std::vector<std::pair<simStatus, simStatus>>{
             {under, underAll}, {under, over}, {overAll, under}, {under, over}})
        packet(a, b);
    for (int i = 0; i < 100; ++i) packet({0, 0, 0, 40}, {0, 0, 0, 90});
    run([&] {
        EXPECT_EQ(r->TxBufferUnderflow.get(), 5);
        EXPECT_EQ(r->TxBufferOverflow.get(), 3);
        EXPECT_EQ(r->MinTxBufferLevel.get(), 40);
    });

    // Receiving: no buffer events counted, and no current or power.
    Radio_setptt(h, false);
    for (int i = 0; i < 100; ++i) packet(under, over);
    run([&] {
        EXPECT_EQ(r->TxBufferUnderflow.get(), 5);
        EXPECT_EQ(r->TxBufferOverflow.get(), 3);
        EXPECT_EQ(r->Current.get(), 0.0);
        EXPECT_EQ(r->FwdPwr.get(), 0.0f);
        EXPECT_EQ(r->Swr.get(), 0.0f);
    });
}

TEST_F(HpsdrEngine, ReceiverCountsTheBoardCannotBeToldAreRefused) {
    LogCapture capture;
    // Register 0 tells the board count − 1 in five bits: 33 would read as 1,
    // and from 84 on a receive frame holds no sample at all.
    for (int bad : {33, 84, 1000, INT_MAX, 0}) Radio_setmaxHwReceivers(h, bad);
    run([&] { EXPECT_EQ(r->maxHwReceivers.get(), 1); });
    for (int bad : {33, 84, 1000, INT_MAX, 0})
        EXPECT_TRUE(capture.contains("error|Radio.maxHwReceivers.set " + std::to_string(bad) + " refused")) << bad;

    Radio_setmaxHwReceivers(h, 32);
    std::vector<long long> frequencies(32);
    for (size_t k = 0; k < frequencies.size(); ++k) frequencies[k] = 1000000LL * (long long)(k + 1);
    setReceivers(frequencies);
    EXPECT_EQ(reg(0)[4], 31 * 8 + 4);
    EXPECT_EQ(be32(reg(42)), 32000000u) << "receiver 31, the last one with a register";
    run([&] {
        EXPECT_EQ(r->maxHwReceivers.get(), 32);
        r->addHWReceiver(33000000);
        EXPECT_EQ(r->receivers.size(), 32u);
    });
    EXPECT_TRUE(capture.contains("error|HpsdrRadio receiver 33 refused: a board is told of 32 at most"));

    // Frames for 32 receivers: two samples each, the last one's read too.
    std::vector<std::vector<simTone>> tones(32, {simTone{}});
    ep6Stream stream(32, tones);
    feed(stream.next(0));
    run([&] {
        for (auto& rx : r->receivers) ASSERT_EQ(rx.fill, 4u);
    });
}

TEST_F(HpsdrEngine, AReceiverAddedWhileRunningRestartsTheBoardEvenWithAFullQueue) {
    Radio_setmaxHwReceivers(h, 2);
    run([&] {
        r->connected = r->running = true; // as after a start; packets go to the test
        r->addVtrx(14095600, 0, 0);
        sent.clear();
    });
    LogCapture capture;
    run([&] {
        // This worker's part of the radio's data queue, full as a flood of
        // datagrams leaves it; the receiver comes in the same turn.
        for (int i = 0; i < 1100; ++i) {
            seqTask t;
            t.fn = [] {};
            t.name = "test.filler";
            r->asyncProcess(t);
        }
        r->addVtrx(21000000, 0, 0);
        EXPECT_EQ(r->receivers.size(), 2u);
        EXPECT_TRUE(r->running);
        EXPECT_EQ(r->skipCount, 0);
    });
    ASSERT_TRUE(capture.contains("error|Can't queue seq process")) << "the queue was not full";

    // The board saw stop, the configuration for two receivers, start.
    const std::vector<uint8_t> stop = {0xEF, 0xFE, 0x04, 0x00}, start = {0xEF, 0xFE, 0x04, 0x03};
    ASSERT_EQ(sent.size(), 12u);
    EXPECT_EQ(sent.front().size(), 64u);
    EXPECT_EQ(std::vector<uint8_t>(sent.front().begin(), sent.front().begin() + 4), stop);
    for (size_t k = 1; k <= 10; ++k) {
        auto p = decodeEp2(sent[k]);
        ASSERT_TRUE(p) << k;
        EXPECT_EQ(p->sequence, k - 1);
        if (p->frames[0].index() == 0) { EXPECT_EQ(p->frames[0].c4, (2 - 1) * 8 + 4) << k; }
    }
    EXPECT_EQ(sent.back().size(), 64u);
    EXPECT_EQ(std::vector<uint8_t>(sent.back().begin(), sent.back().begin() + 4), start);
}

TEST_F(HpsdrEngine, PowerAndSwrStayFiniteOnAnyCurve) {
    Radio_setptt(h, true);
    auto curve = [&](std::vector<std::pair<double, double>> points) {
        run([&] {
            r->FwdPwrCalibration.reset();
            for (auto [in, out] : points) {
                auto p = std::make_shared<calibLine>(r->taskGroup());
                p->inp.reinit(in);
                p->outp.reinit(out);
                r->FwdPwrCalibration.add(p);
            }
        });
    };
    auto publish = [&](double forward, double reverse) {
        run([&] {
            r->forwardReading = forward;
            r->reverseReading = reverse;
            r->peakCounter = 1 << 20;
            r->publishTelemetry(1);
        });
    };
    curve({{0, 0}, {1000, 10}});
    publish(500, 125);
    const float f = 5.0f, rv = 1.25f, p = std::sqrt(rv / f);
    EXPECT_FLOAT_EQ(r->FwdPwr.get(), f);
    EXPECT_FLOAT_EQ(r->RevPwr.get(), rv);
    EXPECT_FLOAT_EQ(r->Swr.get(), (1 + p) / (1 - p));

    // Two points at one input, outputs below zero, nothing at all.
    for (auto points : std::vector<std::vector<std::pair<double, double>>>{
             {{100, 1}, {100, 5}}, {{0, 0}, {10, -1}}, {{0, -5}, {1, 1e300}}, {}}) {
        curve(points);
        for (auto [a, b] : {std::pair{100.0, 50.0}, {200.0, 200.0}, {0.0, 0.0}}) {
            publish(a, b);
            EXPECT_TRUE(std::isfinite(r->FwdPwr.get()) && std::isfinite(r->RevPwr.get()) && std::isfinite(r->Swr.get()))
                << points.size() << " points at " << a;
        }
    }
    EXPECT_EQ(r->Swr.get(), 1.0f) << "no curve: 0 W both ways";
}

TEST_F(HpsdrEngine, ClockCorrectionOnlyInRangeAndOncePerSlot) {
    using namespace std::chrono;
    const system_clock::time_point hour{hours(480000)}; // minute 0 of an hour
    // About 20 minutes of stream: both averages full of one ratio.
    auto feedRatio = [&](double ratio, system_clock::time_point at, int calls = 3000 + 2 * 180000) {
        run([&] {
            for (int i = 0; i < calls; ++i) r->calcClockError(ratio / 300, 1.0 / 300, at);
        });
    };
    HpsdrRadio_setautoFreqCalib(h, true);
    run([&] { r->resetCalcClockError(); });
    feedRatio(1.00002, hour); // slot 0, the one the radio starts in
    run([&] { EXPECT_NEAR(r->slowAverage.value(), 1.00002, 1e-9); });
    feedRatio(1.00002, hour + minutes(2), 1);
    run([&] {
        EXPECT_EQ(r->frequencyCalibration.get(), 1.0) << "outside 1 ± 1e-5";
        r->resetCalcClockError();
    });
    feedRatio(1.000004, hour + minutes(3)); // still the slot of the refusal
    run([&] { EXPECT_EQ(r->frequencyCalibration.get(), 1.0); });
    feedRatio(1.000004, hour + minutes(4), 1);
    run([&] { EXPECT_NEAR(r->frequencyCalibration.get(), 1.000004, 1e-9); });

    // A new rate starts the estimate again.
    Radio_setSampleRate(h, 96000);
    run([&] { EXPECT_FALSE(r->slowAverage.full() || r->ratioAverage.full() || r->skipCount); });
}

TEST_F(HpsdrEngine, WideBandFramesAndTheIoBoard) {
    std::vector<int16_t> samples(512);
    for (size_t i = 0; i < 512; ++i) samples[i] = int16_t(i * 64 - 16384);
    for (uint32_t s : {0u, 1u, 2u, 3u, 4u, 5u, 7u}) feed(ep4Packet(s, samples)); // 6 is lost
    run([&] {
        const float k = float(r->rxScale * 0.0004886962890625);
        ASSERT_EQ(r->wideBand.count, 2048u);
        EXPECT_FLOAT_EQ(r->wideBand[600], float(samples[88]) * k);
        EXPECT_FLOAT_EQ(r->wideBand[1536 + 511], float(samples[511]) * k);
        for (size_t i = 1024; i < 1536; ++i) ASSERT_EQ(r->wideBand[i], 0.0f) << "lost part reads as silence";
        EXPECT_EQ(r->widePeak, 16384);
    });
    HpsdrRadio_setmaxAdcValue(h, 32768);
    feed(ep4Packet(3, samples));
    run([&] {
        EXPECT_NEAR(r->wideBand[1536], samples[0] * r->rxScale * 0.0004886962890625 * 0.0625, 1e-6);
        EXPECT_EQ(r->wideBand[0], 0.0f);
    });

    // The I/O board follows the transmitter every 100 packets, and never
    // piles records up while the board drains none.
    HpsdrRadio_setHLite2Gain(h, true);
    run([&] { r->addVtrx(7074000, 0, 0); });
    for (uint32_t s = 0; s < 1000; ++s) feed(ep4Packet(s, samples));
    run([&] {
        ASSERT_EQ(r->commands.size(), 6u);
        EXPECT_EQ(r->commands[3].C4, 7074000 & 0xFF);
        EXPECT_EQ(r->txFrequency, 7074000);
        r->commands.clear();
    });
    for (uint32_t s = 0; s < 100; ++s) feed(ep4Packet(s, samples));
    run([&] { EXPECT_EQ(r->commands.size(), 6u); });
}

TEST_F(HpsdrEngine, PacingHoldsBeyond32BitsAndWithoutARate) {
    ep6Stream stream(1, {{simTone{}}});
    // No host sets such rates (the protocol's four are all it takes); the
    // pacing holds all the same for whatever the property holds.
    auto force = [&](int rate) {
        run([&] {
            r->SampleRate.reinit(rate);
            r->resetCalcClockError();
        });
    };
    // 20 MHz: 126 samples of 48 kHz are 52500 of the board's.
    force(20000000);
    feedStream(stream, 0, 1000);
    EXPECT_EQ(sent.size(), size_t(126 * 1000 / 52500));
    run([&] { EXPECT_EQ(r->skipCount, 1000); });
    for (int rate : {0, -48000, 100}) {
        force(rate);
        feedStream(stream, 1000, 100);
        run([&] {
            EXPECT_EQ(r->skipCount, 0) << "no expected interval, no estimate";
            EXPECT_EQ(r->expectedEp6Sequence, 1100u);
        });
        EXPECT_EQ(sent.size(), 2u) << rate;
    }
}

TEST_F(HpsdrEngine, BadDatagramsChangeNothing) {
    LogCapture capture;
    const auto t0 = std::chrono::steady_clock::now();
    ep6Stream stream(1, {{{0.5, 0.01, 0.0}}});
    feed(stream.next(0));
    const size_t before = sent.size();

    auto good = stream.next(1, {0x08, 0xFF, 0xFF, 0xFF, 0xFF}, {0x01 | 0x04, 1, 0, 0, 0});
    std::vector<std::vector<uint8_t>> bad = {{}, {0xEF, 0xFE, 0x01, 0x06}, std::vector<uint8_t>(good.begin(), good.end() - 1)};
    for (uint8_t b2 : {0x00, 0x02, 0xFF}) {
        bad.push_back(good);
        bad.back()[2] = b2;
    }
    for (uint8_t b3 : {0x00, 0x02, 0x05, 0x07}) {
        bad.push_back(good);
        bad.back()[3] = b3;
    }
    for (int k = 0; k < 50; ++k) bad.push_back(std::vector<uint8_t>(size_t(k * 20), uint8_t(k)));
    for (auto& d : bad) feed(d);

    run([&] {
        EXPECT_EQ(r->expectedEp6Sequence, 1u);
        EXPECT_EQ(r->ep6SeqErrors.get(), 0);
        EXPECT_EQ(r->temperatureReading, 0.0);
        EXPECT_FALSE(r->adcOvl.get() || r->RadioPtt.get());
        EXPECT_EQ(r->shortDatagrams, 53u);
        EXPECT_EQ(r->receivers[0].fill, 63u * 2);
    });
    EXPECT_EQ(sent.size(), before);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - t0).count();
    auto lines = capture.lines();
    const auto shortLines = std::count_if(lines.begin(), lines.end(),
                                          [](auto& l) { return l.find("bytes from the board dropped") != l.npos; });
    EXPECT_GE(shortLines, 1);
    EXPECT_LE(shortLines, 1 + seconds) << "one line, then at most one a second";
    EXPECT_TRUE(capture.contains("error|datagram of 0 bytes from the board dropped (1 short ones so far)"));

    // The packet itself is taken; the board's PTT shows and keys nothing.
    feed(good);
    run([&] {
        EXPECT_TRUE(r->RadioPtt.get() && r->adcOvl.get());
        EXPECT_FALSE(r->ptt.get());
    });
    // A gap is one error and resynchronises.
    feed(stream.next(5));
    feed(stream.next(6));
    run([&] {
        EXPECT_EQ(r->ep6SeqErrors.get(), 1);
        EXPECT_EQ(r->expectedEp6Sequence, 7u);
    });
}

} // namespace
