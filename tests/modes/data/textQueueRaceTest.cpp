// The host's requests racing the transmitter in the three text modes: the
// mode's task group resends the whole text again and again (with the base
// it began at, as a host does) and changes settings, while the
// transceiver's task group, on another worker, keys it. Whatever the
// interleaving, the characters sent are the text's first ones, each once,
// in order. Run under ThreadSanitizer, this is the check of the hand-over.
#include "modes/data/cw/cwModDemod.h"
#include "modes/data/hell/hellschreiberModDemod.h"
#include "modes/data/rtty/RTTYModDemod.h"

#include "core/testRadio.h"
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "support/hostHarness.h"
#include "support/waitFor.h"

#include <latch>
#include <string>
#include <thread>

namespace {

using cplx = std::complex<float>;

const std::string text = [] {
    std::string t;
    for (int i = 0; i < 12; ++i) t += "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG ";
    return t;
}();

class TextQueueRace : public ObjectTest {
protected:
    std::shared_ptr<syncTask> txGroup = std::make_shared<syncTask>(pool);
    std::shared_ptr<FakeRadio> radio = std::make_shared<FakeRadio>(group);
    std::shared_ptr<vtrx> v = std::make_shared<vtrx>(txGroup);

    void TearDown() override {
        poll();
        host::Log::get().clear();
    }

    /// f as a data task on obj's task group; waits for it.
    template <class F>
    static void runOn(const std::shared_ptr<asyncObject>& obj, F f) {
        std::latch done(1);
        seqTask t;
        t.fn = [&] {
            f();
            done.count_down();
        };
        t.name = "test.race";
        obj->asyncProcess(t);
        done.wait();
    }

    /// `host` rounds of requests on the mode's group against `blocks`
    /// modulate calls of n samples on the transceiver's, in two threads.
    template <class M, class Host>
    void race(const std::shared_ptr<M>& mode, int rounds, size_t n, Host host) {
        v->owner = radio;
        v->mode = mode;
        mode->setOwner(v);
        mode->sentChars.bind(host::onText<"sent">, mode.get());
        std::thread requests([&] {
            for (int i = 0; i < rounds; ++i) runOn(mode, [&] { host(*mode, i); });
        });
        std::thread transmitter([&] {
            auto modulate = [&] {
                runOn(v, [&] {
                    buff<cplx> out(n), mic(n);
                    mode->modulate(mic, out);
                });
            };
            for (int i = 0; i < rounds; ++i) modulate();
            // However late the first text came, on until enough of it went out.
            waitFor([&] { return modulate(), mode->sentCount() > 20; });
        });
        requests.join();
        transmitter.join();
        poll();
        const std::string sent = host::Log::get().joined("sent");
        EXPECT_EQ(long(sent.size()), mode->sentCount());
        EXPECT_GT(sent.size(), 20u);
        EXPECT_EQ(sent, text.substr(0, sent.size()));
    }
};

} // namespace

// At 2000 wpm a dot is 28 samples. The hand key goes down and up between
// the resends; a key that is up again hands back to the text keyer.
TEST_F(TextQueueRace, Cw) {
    auto mode = std::make_shared<cwModDemod>(group);
    mode->wpm.hostSet(2000);
    race(mode, 300, 256, [](cwModDemod& m, int i) {
        m.QueueText(text, 0);
        if (i % 50 == 10) m.KeyDown(0);
        if (i % 50 == 12) m.KeyUp(0);
        m.freq.hostSet(600 + i % 100);
    });
}

// One frame of 7920 samples per call.
TEST_F(TextQueueRace, Rtty) {
    auto mode = std::make_shared<RTTYModDemod>(group);
    race(mode, 200, 7920, [](RTTYModDemod& m, int) { m.QueueText(text, 0); });
}

// A row spacing of 24000 Hz: pixels of 3 samples, a character of at most 144.
TEST_F(TextQueueRace, Hellschreiber) {
    auto mode = std::make_shared<hellschreiberModDemod>(group);
    race(mode, 300, 128, [](hellschreiberModDemod& m, int i) {
        m.QueueText(text, 0);
        m.frequencyStep.hostSet(i % 2 ? 24000.0 : 16000.0);
    });
}
