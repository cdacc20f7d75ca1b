#include "core/modDemod.h"

#include "core/vtrx.h"

modDemod::modDemod(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}

buff<float> modDemod::demodulate(buff<std::complex<float>>) { return {}; }

void modDemod::modulate(buff<std::complex<float>>, buff<std::complex<float>>) {}

int modDemod::rxInputSamplerate() { return 48000; }

void modDemod::setRxFilter(int, int) {}

void modDemod::setTxFilter(int, int) {}

void modDemod::vfoChanged(long long) {}

void modDemod::init() {}

void modDemod::pttChanged(bool) {}

void modDemod::dropTransmission(uint64_t) {}

void modDemod::transceiverLetGo(uint64_t) {}

void modDemod::keyRefused(uint64_t) {}

bool modDemod::pttReleased() const {
    auto v = lockOwner();
    return v && v->tx.where() == transmission::phase::tail;
}

bool modDemod::endingComing() const {
    auto v = lockOwner();
    return v && v->tx.endingComing();
}

bool modDemod::endedBefore(uint64_t at) const {
    auto v = lockOwner();
    return v && v->tx.endedBefore(at);
}

void modDemod::transmissionDone() {
    if (auto v = lockOwner()) v->tx.releaseBy(*this);
}

void modDemod::CalcOpHist(buff<std::complex<float>> block) {
    for (const auto& s : block) {
        float p = s.real() * s.real() + s.imag() * s.imag();
        if (p > 1.0f) ++opClipped;
        if (p > opPeak) opPeak = p;
    }
    opSamples += block.size();
    if (opSamples < opReportSamples) return;
    float level = opPeak <= 1.0f ? 1.0f : 1.0f + float(opClipped) / float(opSamples);
    OpLevel.set(level, true); // unchanged levels reach nobody
    opSamples = 0;
    opClipped = 0;
    opPeak = 0.0f;
}

void modDemod::setOwner(std::weak_ptr<vtrx> transceiver) {
    std::vector<waitingWork> waited;
    std::shared_ptr<vtrx> v;
    {
        std::lock_guard<std::mutex> l(ownerLock_);
        owner_ = std::move(transceiver);
        v = owner_.lock();
        if (v) {
            if (attachesComing_ > 0) --attachesComing_;
            waited.swap(waiting_);
        }
    }
    // Queued now: they run before any work for the transceiver that comes
    // later.
    postAll(v, waited);
}

modDemod::claimed modDemod::claim(const std::shared_ptr<vtrx>& k, uint64_t at) {
    std::vector<waitingWork> settled;
    std::shared_ptr<vtrx> owner;
    claimed result = claimed::refused;
    {
        std::lock_guard<std::mutex> l(ownerLock_);
        if (at < claimedAt_) {
            attachSettled(settled); // a later attach has it, or will
        } else {
            claimedAt_ = at;
            if (claimantAt_ != 0) { // the one waiting was attached before
                claimant_.reset();
                claimantAt_ = 0;
                attachSettled(settled);
            }
            auto running = owner_.lock();
            if (!running || running == k) {
                owner_ = k;
                attachSettled(settled);
                result = claimed::taken;
            } else {
                claimant_ = k;
                claimantAt_ = at;
                result = claimed::waits;
            }
        }
        owner = owner_.lock();
    }
    postAll(owner, settled);
    return result;
}

void modDemod::letGo(const vtrx* k) {
    std::shared_ptr<vtrx> next;
    uint64_t at = 0;
    std::vector<waitingWork> settled;
    {
        std::lock_guard<std::mutex> l(ownerLock_);
        // A transceiver that took it later keeps it; one that is gone (this
        // one, from its destructor) runs it no more.
        if (auto running = owner_.lock(); running && running.get() != k) return;
        owner_.reset();
        if (claimantAt_ == 0) return;
        next = claimant_.lock();
        at = claimantAt_;
        if (!next) { // it went while it waited
            claimant_.reset();
            claimantAt_ = 0;
            attachSettled(settled);
        }
    }
    if (!next) { // nobody runs it
        postAll(nullptr, settled);
        return;
    }
    auto self = std::static_pointer_cast<modDemod>(shared_from_this());
    seqTask t;
    t.fn = [next, self, at] { next->takeMode(self, at); };
    t.name = "vtrx.takeMode";
    next->asyncProcess(t);
}

bool modDemod::take(const std::shared_ptr<vtrx>& k, uint64_t at, bool wanted) {
    std::vector<waitingWork> settled;
    std::shared_ptr<vtrx> owner;
    {
        std::lock_guard<std::mutex> l(ownerLock_);
        if (claimantAt_ != at || claimant_.lock() != k || owner_.lock()) return false; // claimed since
        claimant_.reset();
        claimantAt_ = 0;
        if (wanted) owner_ = k;
        attachSettled(settled);
        owner = owner_.lock();
    }
    postAll(owner, settled);
    return wanted;
}

void modDemod::attachComing() {
    std::lock_guard<std::mutex> l(ownerLock_);
    ++attachesComing_;
}

void modDemod::attachDropped() {
    std::vector<waitingWork> settled;
    std::shared_ptr<vtrx> owner;
    {
        std::lock_guard<std::mutex> l(ownerLock_);
        // Nothing else will attach the mode: what waited goes to where it is.
        attachSettled(settled);
        owner = owner_.lock();
    }
    postAll(owner, settled);
}

void modDemod::attachSettled(std::vector<waitingWork>& out) {
    if (attachesComing_ > 0) --attachesComing_;
    if (attachesComing_ > 0) return;
    for (auto& w : waiting_) out.push_back(std::move(w));
    waiting_.clear();
}

std::shared_ptr<vtrx> modDemod::hostAttachesTo(const std::shared_ptr<vtrx>& v) {
    std::lock_guard<std::mutex> l(hostLock_);
    auto before = hostsTransceiver_.lock();
    hostsTransceiver_ = v;
    return before;
}

std::shared_ptr<vtrx> modDemod::hostsTransceiver() {
    std::lock_guard<std::mutex> l(hostLock_);
    // Given to another mode, or detached, since: that transceiver no longer
    // has it.
    auto v = hostsTransceiver_.lock();
    return v && v->hostsMode.load() == this ? v : nullptr;
}

void modDemod::forTransceiver(const char* name, transceiverWork work, onNone settlesOnNone) {
    std::shared_ptr<vtrx> v;
    {
        std::lock_guard<std::mutex> l(ownerLock_);
        // The host's calls on a mode follow its attaches: while one is not
        // settled, the mode may be about to leave the transceiver it is on.
        if (attachesComing_ > 0) {
            waiting_.push_back({name, std::move(work), settlesOnNone});
            return;
        }
        v = owner_.lock();
    }
    if (v)
        post(v, name, std::move(work));
    else
        work(nullptr);
}

void modDemod::postAll(const std::shared_ptr<vtrx>& v, std::vector<waitingWork>& work) {
    if (!v) {
        // Nothing waits any longer for a transceiver: dropped, but for work
        // that must learn it has none (a key whose text would otherwise wait
        // for the mode's next transceiver and go out under a later key).
        for (auto& w : work)
            if (w.settlesOnNone == onNone::runs) w.work(nullptr);
        return;
    }
    for (auto& w : work) post(v, w.name, std::move(w.work));
}

void modDemod::post(const std::shared_ptr<vtrx>& v, const char* name, transceiverWork work) {
    seqTask t;
    t.fn = [v, work = std::move(work)] { work(v); };
    t.name = name;
    v->asyncProcess(t);
}

std::shared_ptr<vtrx> modDemod::lockOwner() const {
    std::lock_guard<std::mutex> l(ownerLock_);
    return owner_.lock();
}
