// The MultiPSK bridge on a transceiver of the noisy loop-back radio, with a
// MultiPSK stand-in on a real loop-back TCP connection: byte-exact replies,
// receive IQ and its gain, transmit IQ from the client looped back into a
// second transceiver, the underrun and disconnect stops, and the ports.
#include "modes/data/multipsk/MultiPskModDemod.h"
#include "modes/data/multipsk/MultiPskPortRegistry.h"
#include "modes/data/multipsk/asyncTcpIpPacketServer.h"

#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "support/logCapture.h"
#include "support/noisyLoopRadio.h"

#include "multiPskClient.h"

#include <cmath>
#include <mutex>
#include <numeric>
#include <random>

namespace {

using namespace mpsktest;
using cplx = std::complex<float>;

/// Keeps every receive block the transceiver hands it.
struct Listener : modDemod {
    using modDemod::modDemod;
    buff<float> demodulate(buff<cplx> block) override {
        std::lock_guard<std::mutex> l(m);
        blocks.emplace_back(block.begin(), block.end());
        return buff<float>(block.count, 0.0f);
    }
    std::mutex m;
    std::vector<std::vector<cplx>> blocks;
};

std::string reply(const std::string& keyword, const std::string& payload = "") {
    return frame(keyword + payload);
}
std::string capabilities(char level) {
    std::string b = "HWMPcapa";
    for (const std::string& s : std::vector<std::string>{"VireoSDR", "2.0", "Hello", std::string(1, level), "48000", "24000..40000000"})
        b += char(s.size()) + s;
    return frame(b + std::string(1, '\0'));
}

/// n samples of a tone at hz (48000/s), amplitude a, from sample `first`.
std::vector<std::pair<int16_t, int16_t>> tone(double hz, double a, long first, size_t n) {
    std::vector<std::pair<int16_t, int16_t>> out;
    for (size_t k = 0; k < n; ++k) {
        const double ph = 2 * M_PI * hz * double(first + long(k)) / 48000.0;
        out.emplace_back(int16_t(a * std::cos(ph)), int16_t(a * std::sin(ph)));
    }
    return out;
}

class MultiPskMode : public ObjectTest {
protected:
    static constexpr long long centre = 14000000;
    std::shared_ptr<NoisyLoopRadio> radio = std::make_shared<NoisyLoopRadio>(group, 48000, centre, 3);
    std::shared_ptr<vtrx> tx, rx;
    std::shared_ptr<MultiPskModDemod> mode = std::make_shared<MultiPskModDemod>(group);
    std::shared_ptr<Listener> listener = std::make_shared<Listener>(group);
    Client client;

    void SetUp() override {
        radio->setClean();
        onGroup(radio, [&] {
            radio->addVtrx(centre, 0, 0);
            radio->addVtrx(centre, 0, 0);
        });
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            ASSERT_EQ(radio->vtrxList.size(), 2u);
            tx = radio->vtrxList[0];
            rx = radio->vtrxList[1];
        }
        onGroup(mode, [&] { mode->hostSetPort(freePort()); });
        onGroup(tx, [&] {
            tx->start();
            tx->setModulation(mode);
        });
        onGroup(rx, [&] {
            rx->start();
            rx->setModulation(listener);
        });
        ASSERT_NE(mode->servedPort(), 0);
        EXPECT_EQ(mode->port.get(), mode->servedPort());
        ASSERT_TRUE(client.connect(mode->servedPort()));
        ASSERT_TRUE(waitFor([&] { return mode->connected.get(); }));
    }
    void TearDown() override {
        client.close();
        EXPECT_TRUE(waitFor([&] { return !mode->connected.get(); }));
        onGroup(tx, [&] { tx->ptt.hostSet(false); });
        radio->settle();
        poll();
    }

    /// Sends the body, then a "Pversion" whose reply proves that everything
    /// before it was handled; returns the frames that came before that
    /// reply (receive IQ left out).
    std::vector<std::string> exchange(const std::string& body) {
        client.sendBody(body);
        client.sendBody("Pversion");
        std::vector<std::string> frames;
        while (auto f = client.readFrameSkipping("TXHWdata")) {
            if (f->compare(4, 8, "Pversion") == 0) return frames;
            frames.push_back(*f);
        }
        ADD_FAILURE() << "no Pversion reply";
        return frames;
    }
    /// Sends samples and waits for their "Received" (so they are in the ring).
    void sendSamples(const std::vector<std::pair<int16_t, int16_t>>& pairs) {
        ASSERT_TRUE(client.sendBody(samplesBody(pairs)));
        for (;;) {
            auto f = client.readFrameSkipping("TXHWdata");
            ASSERT_TRUE(f);
            if (f->compare(4, 8, "Received") == 0) return;
        }
    }
    std::vector<cplx> modulateDirectly(size_t n) {
        buff<cplx> out(n);
        onGroup(tx, [&] { mode->modulate(buff<cplx>(n, cplx{}), out); });
        return {out.begin(), out.end()};
    }
};

TEST_F(MultiPskMode, RepliesByteExactlyAndTunesOnlyWhileSending) {
    LogCapture log;
    // Version: 11 bytes keep the flag, byte 11 "1" sets it.
    ASSERT_TRUE(client.sendBody("Pversion1.1"));
    EXPECT_EQ(client.readFrame(), reply("Pversion", std::string(1, '\0')));
    EXPECT_EQ(exchange("HWMPcapa"), std::vector<std::string>{capabilities('3')});
    ASSERT_TRUE(client.sendBody("Pversion2.01"));
    EXPECT_EQ(client.readFrame(), reply("Pversion", "\x01"));
    EXPECT_EQ(mode->versionFlag(), 1);
    EXPECT_EQ(exchange("HWMPcapa"), std::vector<std::string>{capabilities('5')}) << "a radio that transmits";

    testing::internal::CaptureStdout();
    EXPECT_TRUE(exchange("Received").empty());
    EXPECT_TRUE(exchange("Received+").empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "mlr\r\n");
    EXPECT_TRUE(exchange("Hello!xyz").empty());
    EXPECT_TRUE(exchange("InitHWMP" + std::string(9, '\0')).empty()); // 17 bytes: unknown
    EXPECT_TRUE(exchange("Seven").empty());                          // below 8: ignored
    EXPECT_TRUE(exchange(std::string("Whatever%s%n{}\0z", 16)).empty());
    EXPECT_EQ(log.count("error|multipsk unknown msg Hello!xy"), 1u);
    EXPECT_EQ(log.count("error|multipsk unknown msg InitHWMP"), 1u);
    EXPECT_EQ(log.count("error|multipsk unknown msg Whatever%s%n{}"), 1u);

    // Not sending: the frequency changes and nothing goes back.
    EXPECT_TRUE(exchange("Set_HWLO" + le32(7040000)).empty());
    EXPECT_EQ(tx->vfo.get(), 7040000);
    onGroup(tx, [&] { tx->vfo.hostSet(7041000); });
    EXPECT_TRUE(exchange("Received").empty());
    // "InitHWMP" tunes first, then starts sending: no report of its own.
    std::string init = "InitHWMP" + std::string(5, 'x') + le32(uint32_t(-1000)) + "y";
    EXPECT_TRUE(exchange(init).empty());
    EXPECT_EQ(tx->vfo.get(), -1000);
    EXPECT_TRUE(mode->sending.get());
    EXPECT_EQ(exchange("Set_HWLO" + le32(10123456)), std::vector<std::string>{reply("Set_HWLO", le32(10123456))});
    onGroup(tx, [&] { tx->vfo.hostSet(5000000000LL); }); // reported as its low 32 bits
    EXPECT_EQ(exchange("Received"), std::vector<std::string>{reply("Set_HWLO", le32(uint32_t(5000000000LL)))});

    EXPECT_TRUE(exchange("Bug_on_P" + std::string("oops!")).empty());
    EXPECT_EQ(log.count("error|multipsk Bug_on_P Bug_on_Poops"), 1u);
    EXPECT_FALSE(mode->sending.get());
    onGroup(tx, [&] { tx->vfo.hostSet(3500000); });
    EXPECT_TRUE(exchange("Received").empty());

    // No samples: still acknowledged (and the first rate announced, the
    // last one being the initial 100).
    EXPECT_EQ(exchange(samplesBody({})), (std::vector<std::string>{reply("Received"), reply("ADJUrate", "\x78")}));
    EXPECT_EQ(exchange(samplesBody({})), std::vector<std::string>{reply("Received")});
    // Bodies too short for their samples, or with a negative count (the
    // framing reads the count unsigned, so that one comes from elsewhere).
    EXPECT_TRUE(exchange("TXHWdata").empty());
    const std::string negative = "TXHWdata" + le32(uint32_t(-8)) + "abcdefgh";
    buff<char> body(negative.size());
    std::copy(negative.begin(), negative.end(), body.data);
    onGroup(mode, [&] { mode->multiPskMsg(body); });
    EXPECT_TRUE(exchange("Received").empty()) << "no reply to either";
    EXPECT_EQ(log.count("error|multipsk TXHWdata of 8 bytes ignored"), 1u);
    EXPECT_EQ(log.count("error|multipsk TXHWdata count -8 ignored"), 1u);
}

TEST_F(MultiPskMode, StreamsReceiveIqWithTheGainThatKeepsPartsIn32000) {
    std::string init = "InitHWMP" + std::string(5, '\0') + le32(14000000) + "?";
    EXPECT_TRUE(exchange(init).empty());
    ASSERT_TRUE(mode->sending.get());

    auto iq = [&](std::vector<cplx> samples) {
        buff<cplx> b(samples.size());
        std::copy(samples.begin(), samples.end(), b.data);
        onGroup(tx, [&] { mode->sendMultiPsk(b); });
        auto f = client.readFrame();
        std::vector<int> parts;
        if (!f || f->size() != 16 + 4 * samples.size() || readLe32(*f, 0) != 12 + 4 * samples.size() ||
            f->compare(4, 8, "TXHWdata") != 0 || readLe32(*f, 12) != 4 * samples.size()) {
            ADD_FAILURE() << "not a TXHWdata frame of " << samples.size() << " samples";
            return parts;
        }
        for (size_t k = 0; k < 2 * samples.size(); ++k) parts.push_back(readLe16(*f, 16 + 2 * k));
        return parts;
    };
    EXPECT_EQ(iq({{0.25f, -0.125f}, {0.5f, 0.1f}, {0.015625f, -0.5f}}),
              (std::vector<int>{32000, -16000, 32000, 6400, 1000, -32000}))
        << "the gain falls per part: 128000 for the first sample, 64000 after";
    EXPECT_EQ(mode->iqGain(), 64000.0);
    // Smaller chunks keep the gain; bad samples go out as 0 and leave it.
    const float nan = std::nanf("");
    EXPECT_EQ(iq({{0.25f, nan}, {INFINITY, -0.001f}}), (std::vector<int>{16000, 0, 0, -64}));
    EXPECT_EQ(mode->iqGain(), 64000.0);

    // The chain's own chunks, as the radio delivers them.
    ASSERT_TRUE(radio->step(4));
    size_t samples = 0;
    while (samples < 4 * 512) {
        auto f = client.readFrame();
        ASSERT_TRUE(f);
        ASSERT_EQ(f->compare(4, 8, "TXHWdata"), 0);
        ASSERT_EQ(f->size(), 16 + readLe32(*f, 12));
        samples += readLe32(*f, 12) / 4;
    }
    EXPECT_EQ(samples, 4u * 512);
}

TEST_F(MultiPskMode, TransmitsTheClientsToneIntoTheOtherTransceiver) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(exchange("SwitchTX"), std::vector<std::string>{reply("ADJUrate", "\x78")});
    ASSERT_TRUE(waitFor([&] { return tx->ptt.get(); }));

    // The first samples fill the start: the block stays silent.
    const double a = 16000, hz = 1500;
    long sent = 0;
    ASSERT_TRUE(client.sendBody(samplesBody(tone(hz, a, sent, 512))));
    EXPECT_EQ(client.readFrame(), reply("Received"));
    EXPECT_EQ(client.readFrame(), reply("ADJUrate", "\x78")) << "first rate after the initial 100";
    for (sent = 512; sent < 6144; sent += 512) sendSamples(tone(hz, a, sent, 512));
    for (auto s : modulateDirectly(256)) ASSERT_EQ(s, cplx{});

    // One more: the first sample received comes out first, scaled and
    // through the DC removal.
    sendSamples(tone(hz, a, sent, 512));
    sent += 512;
    auto out = modulateDirectly(64);
    const cplx x0 = cplx(float(int16_t(a)), 0.0f) * (1.0f / 33000.0f);
    cplx dc{};
    dc += (x0 - dc) * 0.01f;
    EXPECT_EQ(out[0], x0 - dc);

    // Now through the radio: the second transceiver hears the tone.
    for (int step = 0; step < 40; ++step) {
        sendSamples(tone(hz, a, sent, 512));
        sent += 512;
        ASSERT_TRUE(radio->step(1));
    }
    {
        std::lock_guard<std::mutex> l(listener->m);
        ASSERT_GE(listener->blocks.size(), 20u);
        double phase = 0, power = 0;
        size_t n = 0;
        for (size_t b = listener->blocks.size() - 10; b < listener->blocks.size(); ++b) {
            const auto& x = listener->blocks[b];
            for (size_t k = 1; k < x.size(); ++k) {
                phase += std::arg(x[k] * std::conj(x[k - 1]));
                power += std::norm(x[k]);
                ++n;
            }
        }
        EXPECT_NEAR(phase / double(n) * 48000 / (2 * M_PI), hz, 2.0);
        EXPECT_GT(power / double(n), 0.1 * std::pow(a / 33000, 2));
    }

    // MultiPSK stops sending: the backlog runs out and the transmission ends.
    for (int step = 0; step < 60 && tx->ptt.get(); ++step) ASSERT_TRUE(radio->step(1));
    EXPECT_FALSE(tx->ptt.get());
    const std::string out2 = testing::internal::GetCapturedStdout();
    EXPECT_NE(out2.find("120 adj\r\n"), std::string::npos);
    EXPECT_NE(out2.find("#####TO\r\n"), std::string::npos);
}

TEST_F(MultiPskMode, AsksForSlowerWhileMoreThanHalfTheRingWaits) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(exchange("SwitchTX"), std::vector<std::string>{reply("ADJUrate", "\x78")});
    long sent = 0;
    EXPECT_EQ(exchange(samplesBody(tone(1000, 8000, sent, 512))),
              (std::vector<std::string>{reply("Received"), reply("ADJUrate", "\x78")}));
    // Nothing is taken: exactly half a ring waiting is not yet too much...
    for (sent = 512; sent < 32768; sent += 512) sendSamples(tone(1000, 8000, sent, 512));
    EXPECT_EQ(exchange("Received"), std::vector<std::string>{});
    // ...one packet more is, and once the transmitter has taken some the
    // rate goes back up.
    EXPECT_EQ(exchange(samplesBody(tone(1000, 8000, sent, 512))),
              (std::vector<std::string>{reply("Received"), reply("ADJUrate", "\x50")}));
    sent += 512;
    modulateDirectly(1024);
    EXPECT_EQ(exchange(samplesBody(tone(1000, 8000, sent, 512))),
              (std::vector<std::string>{reply("Received"), reply("ADJUrate", "\x78")}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "120 adj\r\n80 adj\r\n120 adj\r\n");
}

TEST_F(MultiPskMode, AClientThatVanishesMidTransmissionUnkeys) {
    std::string init = "InitHWMP" + std::string(5, '\0') + le32(14000000) + "?";
    EXPECT_TRUE(exchange(init).empty());
    EXPECT_EQ(exchange("SwitchTX").size(), 1u);
    ASSERT_TRUE(waitFor([&] { return tx->ptt.get(); }));
    sendSamples(tone(1000, 8000, 0, 1024)); // below the start: no underrun stop
    ASSERT_TRUE(radio->step(30));
    EXPECT_TRUE(tx->ptt.get());
    client.close();
    EXPECT_TRUE(waitFor([&] { return !tx->ptt.get(); }));
    EXPECT_FALSE(mode->connected.get());
    EXPECT_FALSE(mode->sending.get());
    // A client that never keyed leaves a host's PTT alone.
    ASSERT_TRUE(client.connect(mode->servedPort()));
    ASSERT_TRUE(waitFor([&] { return mode->connected.get(); }));
    onGroup(tx, [&] { tx->ptt.hostSet(true); });
    client.close();
    ASSERT_TRUE(waitFor([&] { return !mode->connected.get(); }));
    onGroup(tx, [] {}); // the hand-over to the transceiver has run
    EXPECT_TRUE(tx->ptt.get());
}

// Seeded random streams, each on a connection of its own: frames of every
// keyword with random payloads and counts, wrong length fields and raw
// garbage, while the radio runs. The bridge must come through serving.
TEST_F(MultiPskMode, RandomStreamsLeaveItServing) {
    testing::internal::CaptureStdout();
    LogCapture quiet;
    std::mt19937 rng(2027);
    const char* keywords[] = {"Pversion", "HWMPcapa", "InitHWMP", "Received", "Set_HWLO",
                              "SwitchRX", "SwitchTX", "TXHWdata", "Bug_on_P", "Zzzzzzzz"};
    auto bytes = [&](size_t n) {
        std::string s(n, '\0');
        for (auto& c : s) c = char(rng());
        return s;
    };
    for (int round = 0; round < 24; ++round) {
        std::string wire;
        for (int k = 0; k < 40; ++k) {
            std::string body;
            switch (rng() % 6) {
            case 0:
                wire += bytes(rng() % 64); // unframed
                continue;
            case 1: {
                const uint32_t count = rng() % 2 ? rng() % 4000 : uint32_t(rng());
                body = "TXHWdata" + le32(count) + bytes(std::min<uint32_t>(count, rng() % 4000));
                break;
            }
            default:
                body = std::string(keywords[rng() % 10]) + bytes(rng() % 24);
            }
            wire += rng() % 8 ? frame(body) : le32(rng() % 20000) + body;
        }
        ASSERT_TRUE(client.write(wire));
        ASSERT_TRUE(radio->step(2));
        client.close();
        ASSERT_TRUE(waitFor([&] { return !mode->connected.get(); })) << "round " << round;
        ASSERT_TRUE(client.connect(mode->servedPort()));
        ASSERT_TRUE(waitFor([&] { return mode->connected.get(); })) << "round " << round;
    }
    EXPECT_FALSE(tx->ptt.get()) << "every client that keyed has gone";
    ASSERT_TRUE(client.sendBody("Pversion"));
    auto f = client.readFrame();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->size(), 13u);
    EXPECT_EQ(f->substr(0, 12), le32(9) + "Pversion");
    testing::internal::GetCapturedStdout();
}

TEST_F(MultiPskMode, InstancesTakeTheirOwnPortsAndFreeThem) {
    LogCapture log;
    const int first = mode->servedPort();
    EXPECT_TRUE(multipsk::portHeld(first));
    auto second = std::make_shared<MultiPskModDemod>(group);
    onGroup(second, [&] {
        second->hostSetPort(first); // starts where the first serves
        second->init();
    });
    const int taken = second->servedPort();
    EXPECT_GT(taken, first);
    EXPECT_LE(taken, first + 20);
    EXPECT_EQ(second->port.get(), taken);
    EXPECT_EQ(second->server()->localEndpoint().address().to_string(), "127.0.0.1");
    // Not attached: what would tune or key a transceiver is logged and
    // dropped, the rest is still answered.
    for (const std::string keyword : {"SwitchTX", "SwitchRX", "Set_HWLO", "InitHWMP"}) {
        const std::string b = keyword + std::string(10, '\0');
        buff<char> body(b.size());
        std::copy(b.begin(), b.end(), body.data);
        onGroup(second, [&] { second->multiPskMsg(body); });
        EXPECT_EQ(log.count("error|multipsk " + keyword + " without a transceiver ignored"), 1u);
    }
    EXPECT_FALSE(second->sending.get());

    // Destroyed: its entry goes, and once its socket is closed the port
    // serves the next instance.
    second.reset();
    ASSERT_TRUE(waitFor([&] { return !multipsk::portHeld(taken); }));
    ASSERT_TRUE(waitFor([&] { return !Client().connect(taken); }));
    auto third = std::make_shared<MultiPskModDemod>(group);
    onGroup(third, [&] {
        third->hostSetPort(taken);
        third->init();
    });
    EXPECT_EQ(third->servedPort(), taken);

    onGroup(third, [&] {
        third->hostSetPort(0);
        third->hostSetPort(65536);
    });
    EXPECT_EQ(third->port.get(), taken);
    EXPECT_EQ(log.count("error|MultiPskModDemod port 0 refused, keeping " + std::to_string(taken)), 1u);
    EXPECT_EQ(log.count("error|MultiPskModDemod port 65536 refused, keeping " + std::to_string(taken)), 1u);

    // The search skips held ports and ends at 65535.
    std::vector<int> offered;
    auto r = multipsk::claimPort(first, 3, [&](int p) {
        offered.push_back(p);
        return false;
    });
    EXPECT_FALSE(r.found);
    EXPECT_EQ(std::count(offered.begin(), offered.end(), first), 0);
    offered.clear();
    r = multipsk::claimPort(65534, 20, [&](int p) {
        offered.push_back(p);
        return false;
    });
    EXPECT_EQ(offered, (std::vector<int>{65534, 65535}));
    EXPECT_EQ(r.port, 65535);
}

} // namespace
