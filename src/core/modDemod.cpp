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

void modDemod::transceiverLetGo() {}

bool modDemod::pttReleased() const {
    auto v = lockOwner();
    return v && v->tx.where() == transmission::phase::tail;
}

bool modDemod::endingComing() const {
    auto v = lockOwner();
    return v && v->tx.endingComing();
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
    // Queued now, from the attach: they run after it, before any work for
    // the transceiver that comes later.
    for (auto& w : waited) post(v, w.name, std::move(w.work));
}

void modDemod::attachComing() {
    std::lock_guard<std::mutex> l(ownerLock_);
    ++attachesComing_;
}

void modDemod::attachDropped() {
    std::lock_guard<std::mutex> l(ownerLock_);
    if (attachesComing_ > 0) --attachesComing_;
    // Nothing else will attach the mode for the work that waited.
    if (attachesComing_ == 0) waiting_.clear();
}

void modDemod::forTransceiver(const char* name, transceiverWork work) {
    std::shared_ptr<vtrx> v;
    {
        std::lock_guard<std::mutex> l(ownerLock_);
        v = owner_.lock();
        if (!v && attachesComing_ > 0) {
            waiting_.push_back({name, std::move(work)});
            return;
        }
    }
    if (v)
        post(v, name, std::move(work));
    else
        work(nullptr);
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
