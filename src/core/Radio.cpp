#include "core/Radio.h"

#include "core/vtrx.h"
#include "dsp/dspMath.h"
#include "dsp/iqbalancer/iq_balancer.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

Radio::Radio(std::shared_ptr<syncTask> group)
    : asyncObject(group ? std::make_shared<syncTask>(group->pool()) : nullptr) {
    // What a host may set; anything else is refused with a log line.
    constexpr double anyFinite = std::numeric_limits<double>::max();
    // An upper bound only: receivers are added one per transceiver at most,
    // and a back-end whose packets hold fewer says so itself.
    maxHwReceivers.hostRange(1, std::numeric_limits<int>::max());
    maxADCs.hostRange(1, 64);
    rxLevelCalibration.hostRange(-anyFinite, anyFinite);
    TransceiverOffset.hostRange(-maxRadioFrequency, maxRadioFrequency);
    ValidBandwidthRatio.hostRange(std::numeric_limits<double>::min(), 1.0);
    frequencyCalibration.hostRange(-anyFinite, anyFinite);
    // SampleRate has no host range: a rate outside what the radio delivers
    // goes to the hook, which refuses it and tells the host the rate in force
    // again. Without a device, only a negative rate is no rate at all; every
    // back-end narrows this to what it delivers.
    acceptSampleRates("Radio", [](int rate) { return rate >= 0; }, [] {});
    // A transmitter it no longer has ends every transmission through it.
    canTransmit.changeHook = [this] {
        const auto at = hostMoment_ ? hostMoment_ : transmission::now();
        if (!canTransmit.get())
            offAir(at, "its radio can no longer transmit");
        else
            ableAgain(at);
    };
    ValidBandwidthRatio.changeHook = [this] {
        FitAllReceivers(true);
        // The receivers moved: the device must follow, or blocks would carry
        // centre frequencies it is not tuned to.
        tune();
    };
}

Radio::~Radio() {
    if (iqCorrector) iq_balancer_destroy(iqCorrector);
}

void Radio::startRadio() {
    std::fputs("base start\r\n", stdout);
    std::fflush(stdout);
}

std::string Radio::formatSR(int rate) {
    char text[32];
    if (rate > 999999)
        std::snprintf(text, sizeof text, "%gM", rate / 1e6);
    else
        std::snprintf(text, sizeof text, "%gK", rate / 1000.0);
    return text;
}

void Radio::acceptSampleRates(const char* who, std::function<bool(int)> delivers, std::function<void()> apply) {
    rateInForce_.store(SampleRate.get());
    SampleRate.changeHook = [this, who, delivers = std::move(delivers), apply = std::move(apply)] {
        if (restoringRate_) return;
        const int rate = SampleRate.get();
        if (!delivers(rate)) {
            const int kept = rateInForce_.load();
            spdlog::error("{} SampleRate {} refused, keeping {}", who, rate, kept);
            struct restoring {
                bool& flag;
                explicit restoring(bool& f) : flag(f) { flag = true; }
                ~restoring() { flag = false; }
            } scope(restoringRate_);
            SampleRate.set(kept, true); // the host hears the rate in force again
            return;
        }
        rateInForce_.store(rate);
        apply();
        // A transceiver placed in the old band may lie outside the new one:
        // every transceiver is placed again, as a retune would place it, and
        // the device follows a receiver that moved.
        if (placeAll()) tune();
    };
}

std::shared_ptr<vtrx> Radio::txVtrx() const {
    std::lock_guard<std::mutex> lock(listMutex);
    return txVtrx_.lock();
}

std::shared_ptr<vtrx> Radio::keyingVtrx() const {
    std::lock_guard<std::mutex> lock(listMutex);
    return onAir_ ? txVtrx_.lock() : nullptr;
}

// ---- receiving ----

class Radio::receiverReader {
public:
    receiverReader(Radio& radio, bool wait) : radio_(radio) {
        for (;;) {
            radio_.readers_.fetch_add(1);
            if (!radio_.reshaping_.load()) {
                counted_ = true;
                return;
            }
            radio_.readers_.fetch_sub(1);
            if (!wait) return;
            std::this_thread::yield();
        }
    }
    ~receiverReader() {
        if (counted_) radio_.readers_.fetch_sub(1);
    }
    receiverReader(const receiverReader&) = delete;
    receiverReader& operator=(const receiverReader&) = delete;
    explicit operator bool() const { return counted_; }

private:
    Radio& radio_;
    bool counted_ = false;
};

void Radio::write(const fillFunction& fill, size_t n, int hwRx) { receive(fill, n, hwRx, path::direct); }
void Radio::unlockedWrite(const fillFunction& fill, size_t n, int hwRx) { receive(fill, n, hwRx, path::deferred); }
void Radio::lockedWrite(const fillFunction& fill, size_t n, int hwRx) { receive(fill, n, hwRx, path::corrected); }

void Radio::receive(const fillFunction& fill, size_t n, int hwRx, path how) {
    if (n == 0) return;
    // No lock is held while the back-end's fill function runs: a receiver's
    // block and fill are written only by the thread receiving for it, and the
    // receivers keep their shape while this reader is counted.
    receiverReader reader(*this, false);
    if (!reader) return; // a receiver is being added: these samples are dropped
    if (hwRx < 0 || size_t(hwRx) >= receivers.size()) {
        spdlog::error("samples for receiver {} of {} dropped", hwRx, receivers.size());
        return;
    }
    // Held only while this reader is counted: the vector cannot move then.
    hwReceiver& R = receivers[size_t(hwRx)];
    int rate;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        rate = R.sampleRate;
    }
    if (R.blockRate != 0 && R.blockRate != rate) {
        // Sized from a rate no longer delivered: at the new rate it could
        // take minutes to fill. Its samples, of the old rate, are dropped.
        R.block = buff<cplx>(hwReceiver::blockSizeFor(rate));
        R.blockRate = rate;
        R.fill = 0;
    }
    size_t left = n;
    while (left > 0) {
        size_t c = std::min(R.block.count - R.fill, left);
        fill(R.block.data + R.fill, c);
        R.fill += c;
        left -= c;
        if (R.fill < R.block.count) continue;

        buff<cplx> full = R.block;
        // One bad sample from the device must not reach the corrector or the
        // transceivers' filters and oscillators, whose state would keep it.
        if (dspMath::replaceNonFinite(full)) noteNonFinite(hwRx);
        // A block, once handed out, is never written again: start a new one.
        R.block = buff<cplx>(hwReceiver::blockSizeFor(rate));
        R.blockRate = rate;
        R.fill = 0;
        switch (how) {
        case path::deferred: {
            seqTask t;
            auto self = std::static_pointer_cast<Radio>(weak_from_this().lock());
            if (!self) return;
            t.fn = [self, full, hwRx, rate] { self->HandleFullBuffer(full, hwRx, rate); };
            t.name = "handleFullBuffer";
            asyncProcess(t);
            break;
        }
        case path::corrected:
            if (iqCorrection.load()) correct(full);
            [[fallthrough]];
        case path::direct: {
            std::lock_guard<std::mutex> lock(listMutex);
            handOut(full, R, hwRx, TransceiverOffset.get() + R.frequency);
            break;
        }
        }
    }
}

void Radio::noteNonFinite(int hwRx) {
    // Once per radio: a device that sends such samples tends to keep doing so.
    if (!nonFiniteReported_.exchange(true))
        spdlog::error("receiver {} delivered samples that are not finite; they are replaced by 0", hwRx);
}

void Radio::correct(buff<cplx>& block) {
    std::lock_guard<std::mutex> lock(correctorMutex);
    if (!iqCorrector) iqCorrector = iq_balancer_create(6e-5f, -0.0045f);
    if (iqCorrector) iq_balancer_process_buff(iqCorrector, block);
}

void Radio::HandleFullBuffer(buff<cplx> block, int hwRx, int rate) {
    {
        // The host's requests run before this task: a rate changed while the
        // block waited would hand its samples on as the new rate's. They are
        // dropped, as those of a block the change cut short are.
        std::lock_guard<std::mutex> lock(listMutex);
        if (hwRx < 0 || size_t(hwRx) >= receivers.size() || receivers[size_t(hwRx)].sampleRate != rate) return;
    }
    if (iqCorrection.load()) correct(block);
    std::lock_guard<std::mutex> lock(listMutex);
    if (vtrxList.empty() || hwRx < 0 || size_t(hwRx) >= receivers.size()) return;
    const hwReceiver& R = receivers[size_t(hwRx)];
    handOut(block, R, hwRx, TransceiverOffset.get() + R.frequency + R.tuningError);
}

void Radio::handOut(const buff<cplx>& block, const hwReceiver& rx, int hwRx, long long frequency) {
    // listMutex is held by the caller; only tasks are posted here.
    for (auto& v : vtrxList) {
        for (int k = 0; k < 4; ++k) {
            if (v->hwReceiverSlots[k].load() != hwRx) continue;
            seqTask t;
            t.fn = [v, block, frequency, rate = rx.sampleRate, wb = wideBand, wbv = wideBandValue, slot = rx.slot] {
                v->processRxChunk(block, frequency, rate, wb, wbv, slot);
            };
            t.name = "vtrx.processRxChunk";
            v->asyncProcess(t);
        }
    }
}

void Radio::start(transmission::serial at) {
    startRadio();
    if (stopped_) ableAgain(at);
    stopped_ = false;
    if (!firstStart) {
        std::lock_guard<std::mutex> lock(listMutex);
        for (auto& v : vtrxList) {
            seqTask t;
            t.fn = [v] { v->start(); };
            t.name = "vtrx.start";
            v->asyncProcess(t);
        }
    }
    firstStart = false;
}

void Radio::stop(transmission::serial at) {
    stopRadio();
    stopped_ = true;
    // A stopped radio asks for no more samples: nothing would run out a
    // tail or end a transmission. The next start keys nothing by itself.
    offAir(at, "its radio stopped");
    std::lock_guard<std::mutex> lock(listMutex);
    for (auto& v : vtrxList) {
        seqTask t;
        t.fn = [v] { v->stop(); };
        t.name = "vtrx.stop";
        v->asyncProcess(t);
    }
}

void Radio::hostLetGo() {
    // A radio made before init has no task group and never transmitted.
    if (!taskGroup()) return;
    auto self = std::static_pointer_cast<Radio>(weak_from_this().lock());
    if (!self) return;
    const auto at = transmission::now();
    hostEnded.made(at);
    seqTask t;
    t.fn = [self, at] {
        self->letGo_ = true;
        self->offAir(at, "the host let go of its radio");
    };
    t.name = "Radio.release()";
    queueSetItem(t);
}

void Radio::offAir(transmission::serial moment, const char* why) {
    std::vector<std::shared_ptr<vtrx>> list;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        list = vtrxList;
        onAir_ = 0;
    }
    hostKeyed_ = false;
    offAirAt_ = std::max(offAirAt_, moment);
    // The radio first: its device hears the release before anything else
    // can go out; the transceivers' own late releases then change nothing.
    setAir(false, told::system);
    for (auto& v : list) v->tx.postEndBefore(moment, why);
}

void Radio::offAirAtExit() { setAir(false, told::nobody); }

void Radio::setAir(bool on, told who) {
    switch (who) {
    case told::host: ptt.hostSet(on); break;
    case told::system: ptt.set(on, true); break; // unchanged: only marks it published
    case told::nobody: ptt.set(on, false); break;
    }
}

// ---- transceivers on receivers ----

int Radio::indexOf(const vtrx* v) const {
    for (size_t i = 0; i < vtrxList.size(); ++i)
        if (vtrxList[i].get() == v) return int(i);
    return -1;
}

void Radio::addVtrx(long long frequency, int hwRx, int ownerId) {
    if (frequency != -1 && (frequency < -maxRadioFrequency || frequency > maxRadioFrequency)) {
        spdlog::error("Radio.addVtrx() frequency {} refused", frequency);
        return;
    }
    if (frequency == -1) {
        if (hwRx < 0 || size_t(hwRx) >= receivers.size()) {
            spdlog::error("addVtrx: no receiver {}", hwRx);
            return;
        }
        frequency = receivers[size_t(hwRx)].frequency;
    }
    auto v = std::make_shared<vtrx>(std::make_shared<syncTask>(taskGroup()->pool()));
    v->owner = std::static_pointer_cast<Radio>(shared_from_this());
    v->OwnerID.reinit(ownerId);
    v->create();
    if (v->vfo.get() != frequency) v->vfo.hostSet(frequency); // store and hook, no event
    {
        std::lock_guard<std::mutex> lock(listMutex);
        vtrxList.push_back(v);
    }
    setRxFrequency(frequency, v.get(), v->ADCs.get());

    if (vtrxAdded_.load()) {
        // The handle is made when the host task runs, so nothing leaks if the
        // callback is unbound by then or the update queue is full.
        SendEvent([this, v, frequency, ownerId] {
            if (auto cb = vtrxAdded_.load()) cb(newHandle(v), frequency, SampleRate.get(), ownerId);
        });
    }
    std::lock_guard<std::mutex> lock(listMutex);
    if (!txVtrx_.lock()) txVtrx_ = v;
}

std::shared_ptr<vtrx> Radio::listed(const void* v) const {
    std::lock_guard<std::mutex> lock(listMutex);
    for (auto& x : vtrxList)
        if (x.get() == v) return x;
    return nullptr;
}

void Radio::removeVtrx(const void* v, transmission::serial at) {
    std::shared_ptr<vtrx> removed; // released after the lock
    transmission::serial keying = 0;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        auto tx = txVtrx_.lock();
        if (tx && tx.get() == v) {
            keying = onAir_;
            onAir_ = 0;
            txVtrx_.reset();
        }
        auto it = std::find_if(vtrxList.begin(), vtrxList.end(), [v](auto& x) { return x.get() == v; });
        if (it != vtrxList.end()) {
            removed = *it;
            vtrxList.erase(it);
        }
        // Removing a transceiver that does not transmit changes nothing
        // about who does.
        if (!txVtrx_.lock() && !vtrxList.empty()) txVtrx_ = vtrxList.front();
    }
    // A removed transceiver transmits nothing here from the host's call on:
    // whatever it keyed before then ends, on the air or on its way.
    if (removed) {
        removed->removedAt = at;
        removed->tx.hostEnded.made(at);
        removed->tx.postEndBefore(at, "its transceiver was removed");
    }
    // Only a transmission of the removed transceiver unkeys the radio, and
    // only when the host's own key of the radio does not hold it.
    if (keying && !hostKeyed_) setAir(false, told::system);
}

void Radio::appendReceiver(const hwReceiver& r) {
    reshapeReceivers([&] {
        std::lock_guard<std::mutex> lock(listMutex);
        receivers.push_back(r);
        // Every partly filled block starts again.
        for (auto& R : receivers) R.fill = 0;
    });
}

bool Radio::addReceiver(long long f, std::unique_lock<std::mutex>& lock, int slot) {
    // The hook runs without the list lock and with the back-end threads kept
    // off the receivers, so it may append to them and may wait for the
    // back-end's own threads. Never wait for the readers with the list lock
    // held: a reader may be waiting for it.
    lock.unlock();
    bool added = false;
    try {
        reshapeReceivers([&] {
            size_t before = receivers.size();
            addHWReceiver(f);
            added = receivers.size() > before;
            if (added && slot >= 0) {
                std::lock_guard<std::mutex> l(listMutex);
                receivers.back().slot = slot;
            }
        });
    } catch (...) {
        lock.lock();
        throw;
    }
    lock.lock();
    return added;
}

void Radio::placeOneReceiverEach(long long f, vtrx* v, int i, std::unique_lock<std::mutex>& lock) {
    if (i < maxHwReceivers.get()) {
        if (v->hwReceiverSlots[0].load() != i) {
            // Back-ends that add nothing must not keep this loop going.
            while (receivers.size() <= size_t(i)) {
                bool added = addReceiver(f, lock, -1);
                std::fputs("add\r\n", stdout);
                if (!added) break;
            }
            v->hwReceiverSlots[0].store(i);
        }
        if (size_t(i) < receivers.size()) {
            receivers[size_t(i)].frequency = f;
            std::printf("%d  %lld vfo\r\n", i, f);
        }
    }
}

void Radio::setRxFrequency(long long F, vtrx* v, int mask) {
    bool oneEach = false;
    {
        // Placement changes receivers that the back-end's thread and the
        // transceivers read: hold the list lock, but not around the hooks.
        std::unique_lock<std::mutex> lock(listMutex);
        if (!place(F, v, mask, oneEach, lock)) return;
    }
    tune();
    if (oneEach) {
        std::fputs(" tune\r\n", stdout);
        std::fflush(stdout);
    }
}

bool Radio::place(long long F, vtrx* v, int mask, bool& oneEach, std::unique_lock<std::mutex>& lock) {
    if (receivers.empty()) return false;
    const long long f = std::max(F - TransceiverOffset.get(), 0LL);
    const int rate0 = receivers[0].sampleRate;
    const int half = rate0 / 2;
    guard = int((rate0 - ValidBandwidthRatio.get() * rate0) * 0.5);

    int i = indexOf(v);
    if (i < 0) return false;
    if (disableVirtualReceivers.get()) {
        placeOneReceiverEach(f, v, i, lock);
        oneEach = true;
        return true;
    }

    const long long lo = f + v->rxFilterLow.load() - margin;
    const long long hi = f + v->rxFilterHigh.load() + margin;
    auto fits = [&](const hwReceiver& r) {
        return lo - r.frequency > guard - half && hi - r.frequency < half - guard;
    };
    auto usersOf = [&](int r, int k) {
        int n = 0;
        for (auto& u : vtrxList) n += u->hwReceiverSlots[k].load() == r;
        return n;
    };

    for (int k = 0; k < 4; ++k) {
        if (!(mask & (1 << k))) {
            v->hwReceiverSlots[k].store(-1);
            continue;
        }
        int r = v->hwReceiverSlots[k].load();
        int result = -1;
        // A: keep the receiver, re-centring it when v is its only user.
        if (r >= 0 && size_t(r) < receivers.size() && fits(receivers[size_t(r)]) && receivers[size_t(r)].slot == k) {
            auto& R = receivers[size_t(r)];
            if (usersOf(r, k) == 1 && std::llabs(f - R.frequency) > R.sampleRate / 16) R.frequency = f;
            result = r;
        }
        // B: another receiver of this slot that already fits.
        if (result < 0 && r != -1) {
            for (size_t j = 0; j < receivers.size(); ++j)
                if (receivers[j].slot == k && fits(receivers[j])) {
                    result = int(j);
                    break;
                }
        }
        // C: a free receiver; only a transceiver alone on its radio finds one.
        if (result < 0) {
            for (size_t j = 0; j < receivers.size(); ++j) {
                int cost = int(vtrxList.size()) - 1;
                if (receivers[j].slot != k) {
                    int s = receivers[j].slot;
                    cost += (s >= 0 && s < 31 && (mask & (1 << s))) ? 1 : 0;
                    cost += allowSlotMove ? 0 : 1;
                }
                if (cost == 0) {
                    receivers[j].frequency = f;
                    receivers[j].slot = k;
                    result = int(j);
                    break;
                }
            }
        }
        // D: share a receiver of this slot when all its users still fit.
        if (result < 0) {
            for (size_t j = 0; j < receivers.size() && result < 0; ++j) {
                if (receivers[j].slot != k) continue;
                long long a = lo, b = hi;
                for (auto& u : vtrxList) {
                    if (u.get() == v || u->hwReceiverSlots[k].load() != int(j)) continue;
                    long long base = std::max(u->vfo.get() - TransceiverOffset.get(), 0LL);
                    a = std::min(a, base + u->rxFilterLow.load() - margin);
                    b = std::max(b, base + u->rxFilterHigh.load() + margin);
                }
                if (b - a < rate0 - 2LL * guard) {
                    receivers[j].frequency = (a + b) / 2;
                    result = int(j);
                }
            }
        }
        // E: a new receiver, when the device has one to give.
        if (result < 0 && maxHwReceivers.get() > int(receivers.size())) {
            if (addReceiver(f, lock, k)) result = int(receivers.size()) - 1;
        }
        if (result < 0) result = r;
        if (offsetTuning && result >= 0 && size_t(result) < receivers.size()) {
            auto& R = receivers[size_t(result)];
            if (R.frequency > lo && R.frequency < hi) R.frequency = hi;
        }
        v->hwReceiverSlots[k].store(result);
    }
    return true;
}

bool Radio::placeAll() {
    auto frequencies = [this] {
        std::vector<long long> f;
        for (auto& r : receivers) f.push_back(r.frequency);
        return f;
    };
    std::unique_lock<std::mutex> lock(listMutex);
    const std::vector<long long> before = frequencies();
    const auto list = vtrxList; // place may let go of the lock meanwhile
    for (auto& v : list) {
        bool oneEach = false;
        place(v->vfo.get(), v.get(), v->ADCs.get(), oneEach, lock);
    }
    return frequencies() != before;
}

int Radio::compvfo(const void* a, const void* b) {
    auto* x = *static_cast<vtrx* const*>(a);
    auto* y = *static_cast<vtrx* const*>(b);
    long long fx = x->vfo.get() + x->rxFilterLow.load(), fy = y->vfo.get() + y->rxFilterLow.load();
    return fx < fy ? -1 : fx > fy ? 1 : 0;
}

void Radio::FitAllReceivers(bool apply) {
    std::lock_guard<std::mutex> lock(listMutex);
    if (!apply || receivers.empty()) return;
    const int rate0 = receivers[0].sampleRate;
    guard = int((rate0 - ValidBandwidthRatio.get() * rate0) * 0.5);
    const long long offset = TransceiverOffset.get();

    for (int k = 0; k < 4; ++k) {
        std::vector<vtrx*> list;
        for (auto& v : vtrxList)
            if (v->hwReceiverSlots[k].load() != -1) list.push_back(v.get());
        if (list.empty()) continue;
        std::qsort(list.data(), list.size(), sizeof(vtrx*), compvfo);

        auto nextOfSlot = [&](size_t from) {
            for (size_t j = from; j < receivers.size(); ++j)
                if (receivers[j].slot == k) return int(j);
            return -1;
        };
        int r = nextOfSlot(0);
        if (r < 0) return; // later slots are not re-packed either

        size_t i = 0;
        while (i < list.size() && r >= 0) {
            vtrx* t = list[i];
            long long lo = t->vfo.get() - offset + t->rxFilterLow.load() - margin;
            long long hi = t->vfo.get() - offset + t->rxFilterHigh.load() + margin;
            const long long limit = lo + rate0 - 2LL * guard;
            size_t end = i + 1;
            while (end < list.size()) {
                long long h = std::max(hi, list[end]->vfo.get() - offset + list[end]->rxFilterHigh.load() + margin);
                if (h > limit) break;
                hi = h;
                ++end;
            }
            receivers[size_t(r)].frequency = (lo + hi) / 2;
            for (size_t m = i; m < end; ++m) list[m]->hwReceiverSlots[k].store(r);
            i = end;
            r = nextOfSlot(size_t(r) + 1);
        }
    }
}

bool Radio::getVfoValid(int r, long long vfo, int low, int high) {
    receiverReader reader(*this, true); // the receivers keep their shape
    std::lock_guard<std::mutex> lock(listMutex);
    if (r < 0 || size_t(r) >= receivers.size()) return false;
    const int rate0 = receivers[0].sampleRate;
    long long h = (long long)(ValidBandwidthRatio.get() * rate0 * 0.5);
    long long c = TransceiverOffset.get() + receivers[size_t(r)].frequency;
    return vfo + low - margin >= c - h && vfo + high + margin <= c + h;
}

const char* Radio::refusal() const {
    if (letGo_) return "the host let go of this radio";
    if (!hasTransmitter()) return "this radio has no transmitter";
    if (!canTransmit.get()) return "this radio cannot transmit";
    if (stopped_) return "this radio is stopped";
    return nullptr;
}

void Radio::hostSetPtt(bool on, transmission::serial at) {
    if (!on) {
        setAir(false, told::host);
        offAir(at, "the host unkeyed its radio");
        return;
    }
    if (const char* why = refusal()) {
        spdlog::error("radio.setPtt refused: {}", why);
        ptt.tellHost(); // the host hears that ptt stays off
        return;
    }
    hostKeyed_ = true;
    setAir(true, told::host);
}

void Radio::hostSetCanTransmit(bool on, transmission::serial at) {
    hostMoment_ = at;
    canTransmit.hostSet(on);
    hostMoment_ = 0;
}

void Radio::setPtt(bool on, vtrx* v, transmission::serial s) {
    if (!v) return;
    if (!on) {
        {
            // Only the transmission holding the transmitter gives it up: the
            // late release of one it was taken from, or of one that ended,
            // changes nothing, nor does it unkey a radio the host keyed.
            std::lock_guard<std::mutex> lock(listMutex);
            if (!(onAir_ != 0 && onAir_ == s && txVtrx_.lock().get() == v)) return;
            onAir_ = 0;
        }
        // The host's own key of the radio holds it on the air, with nothing
        // to send.
        if (!hostKeyed_) setAir(false, told::system);
        return;
    }
    keyArrives(v, s);
    // Whatever became of it, the key has been taken, its endings marked.
    v->tx.hostKeyed.taken(s);
}

void Radio::keyArrives(vtrx* v, transmission::serial s) {
    // A key that never gets the transmitter ends at its own moment: a text
    // the host queued after it waits for the next transmission.
    if (const char* why = refusal()) {
        spdlog::error("radio.setPtt refused: {}", why);
        v->tx.postEnd(s, "its radio refused the key", s); // ptt goes back off, the host told
        return;
    }
    if (s < offAirAt_) {
        // Made before the radio went off the air: that ending is on its way
        // to the transceiver, or has refused the key there already.
        v->tx.postEnd(s, "its radio went off the air after the key", offAirAt_);
        return;
    }
    if (s < ableSince_) {
        // Made while the radio could not transmit, which it can again only
        // since: impossible at its moment, as a refusal then would have said.
        spdlog::error("radio.setPtt refused: the radio could not transmit when the key was made");
        v->tx.postEnd(s, "its radio refused the key", s);
        return;
    }
    // The transmission keyed last takes the transmitter.
    std::shared_ptr<vtrx> previous;
    transmission::serial previousSerial = 0;
    bool listed = false, later = false;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        const int i = indexOf(v);
        if (i >= 0) {
            listed = true;
            previous = txVtrx_.lock();
            previousSerial = onAir_;
            later = previous && previous.get() != v && previousSerial > s;
            if (!later) {
                txVtrx_ = vtrxList[size_t(i)];
                onAir_ = s;
            }
        }
    }
    if (!listed) {
        // Removed before its request came: it transmits nothing here, but a
        // key made before the removal took the transmitter at its moment.
        takenOnItsWay(v, s);
        v->tx.postEnd(s, "its transceiver was removed", s);
        return;
    }
    // Taken at its moment, as the host made its calls, whichever came here
    // first: from every other transmission begun before it, and, when a
    // later key already holds the transmitter, from this one by that key.
    transmitterTaken(v, s);
    if (later) {
        v->tx.hostEnded.made(previousSerial);
        v->tx.postEndBefore(previousSerial, "a later key holds the transmitter");
        return;
    }
    setAir(true, told::system);
}

void Radio::keyEnded(vtrx* v, transmission::serial s) {
    takenOnItsWay(v, s);
    v->tx.hostKeyed.taken(s);
}

void Radio::takenOnItsWay(vtrx* v, transmission::serial s) {
    // The radio could not transmit at the key's moment, or went off the air
    // after it, which ended every transmission begun before it.
    if (refusal() || s < offAirAt_ || s < ableSince_) return;
    bool off = false;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        // Removed before the key was made: it was never this radio's.
        if (indexOf(v) < 0 && v->removedAt <= s) return;
        // The transmission on the air, keyed before s, lost the transmitter
        // to the key, which then ended: the radio goes off the air now.
        auto holder = txVtrx_.lock();
        if (onAir_ != 0 && onAir_ < s && holder.get() != v) {
            onAir_ = 0;
            off = true;
        }
    }
    transmitterTaken(v, s);
    if (off && !hostKeyed_) setAir(false, told::system);
}

void Radio::transmitterTaken(const vtrx* by, transmission::serial at) {
    std::vector<std::shared_ptr<vtrx>> others;
    {
        std::lock_guard<std::mutex> lock(listMutex);
        others = vtrxList;
    }
    for (auto& x : others) {
        if (x.get() == by) continue;
        // Marked before the key counts as taken: a transmission it ends
        // takes nothing new to send until the ending has reached it.
        x->tx.hostEnded.made(at);
        x->tx.postEndBefore(at, "another transceiver took the transmitter");
    }
}

bool Radio::keyComingBesides(const vtrx* v, transmission::serial since, transmission::serial until) const {
    std::lock_guard<std::mutex> lock(listMutex);
    for (auto& x : vtrxList)
        if (x.get() != v && x->tx.hostKeyed.comingBetween(since, until)) return true;
    return false;
}
