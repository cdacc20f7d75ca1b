#pragma once
// A text mode on a transceiver of a fake radio, everything on the test's one
// task group: the mode's sent characters are logged as "sent" and the
// transceiver's ptt as "ptt".
#include "core/testRadio.h"
#include "core/vtrx.h"
#include "framework/objectFixture.h"
#include "support/hostHarness.h"

#include <chrono>
#include <memory>
#include <mutex>

template <class Mode>
class TextModeRig : public ObjectTest {
protected:
    std::shared_ptr<FakeRadio> radio = std::make_shared<FakeRadio>(group);
    std::shared_ptr<vtrx> v = std::make_shared<vtrx>(group);
    std::shared_ptr<Mode> mode = std::make_shared<Mode>(group);

    void SetUp() override {
        v->owner = radio;
        v->mode = mode; // attached both ways, as setModulation attaches it
        mode->setOwner(v);
        mode->sentChars.bind(host::onText<"sent">, mode.get());
        v->ptt.bind(host::on<"ptt", bool>, v.get());
    }
    /// Keys and endings go through the transceiver's transmission, as
    /// create() has them, on a radio that takes the key: who keyed decides
    /// what ends it. The test calls modulate at its own pace, which is no
    /// stall.
    void keyThroughTheTransmission() {
        radio->canTransmit.reinit(true);
        {
            std::lock_guard<std::mutex> l(radio->listMutex);
            radio->vtrxList.push_back(v);
        }
        v->ptt.changeHook = [t = v.get()] { t->tx.pttChanged(); };
        v->tx.tailStallLimit = v->tx.keyedStallLimit = std::chrono::hours(1);
    }
    void TearDown() override {
        poll();
        host::Log::get().clear();
    }
};
