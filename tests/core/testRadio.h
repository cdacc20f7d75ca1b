#pragma once
// A back-end for tests: receivers at chosen rates, a counting tune(), and a
// writer that feeds a known ramp from its own thread.
#include "core/Radio.h"
#include "core/vtrx.h"

#include <atomic>
#include <chrono>
#include <complex>
#include <thread>

/// For a radio whose transmit requests come at the test's own pace, however
/// slow the machine: a pause between them is no stall, so its transceivers
/// wait for the next one as long as the test takes. Radio's task group; the
/// harness radios call it from tune(), with which every placement of a new
/// transceiver ends.
inline void pacedByTheTest(Radio& radio) {
    std::vector<std::shared_ptr<vtrx>> list;
    {
        std::lock_guard<std::mutex> l(radio.listMutex);
        list = radio.vtrxList;
    }
    for (auto& v : list) {
        seqTask t;
        t.fn = [v] { v->tx.tailStallLimit = v->tx.keyedStallLimit = std::chrono::hours(1); };
        t.name = "test.pacedByTheTest";
        v->asyncProcess(t);
    }
}

class FakeRadio : public Radio {
public:
    explicit FakeRadio(std::shared_ptr<syncTask> group, int rate = 48000, long long frequency = 7000000)
        : Radio(std::move(group)), rate_(rate) {
        hwReceiver r;
        r.frequency = frequency;
        r.sampleRate = rate;
        appendReceiver(r);
    }

    void tune() override {
        tunes.fetch_add(1);
        pacedByTheTest(*this);
    }
    void addHWReceiver(long long frequency) override {
        if (!canAdd) return; // a device with one receiver adds nothing
        hwReceiver r;
        r.frequency = frequency;
        r.sampleRate = rate_;
        appendReceiver(r);
    }

    /// Writes n samples whose real parts count up from `next`, as a back-end
    /// thread would, in pieces of `piece`.
    void feed(size_t n, int hwRx, size_t piece = 100, bool deferred = false) {
        while (n > 0) {
            size_t c = std::min(piece, n);
            auto fill = [this](std::complex<float>* d, size_t k) {
                for (size_t i = 0; i < k; ++i) d[i] = {float(next++), 0.0f};
            };
            if (deferred)
                unlockedWrite(fill, c, hwRx);
            else
                write(fill, c, hwRx);
            n -= c;
        }
    }

    std::atomic<int> tunes{0};
    bool canAdd = true;
    long next = 0;

private:
    int rate_;
};
