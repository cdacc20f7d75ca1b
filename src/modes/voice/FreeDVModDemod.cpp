// FreeDV mode: construction, mode changes and the speech filters. Receive
// and transmit are in FreeDVReceive.cpp and FreeDVTransmit.cpp.
#include "modes/voice/FreeDVModDemod.h"

#include "core/vtrx.h"
#include "modes/voice/micEqualiser.h"
#include "modes/voice/voiceTxChain.h"

#include <spdlog/spdlog.h>

#include <cstdio>
#include <utility>

namespace {

struct modeChoice {
    int value;
    const char* label;
};
constexpr modeChoice modeList[] = {{0, "1600"}, {3, "2400A"}, {4, "2400B"}, {5, "800XA"},  {6, "700C"},
                                   {7, "700D"}, {13, "700E"}, {8, "2020"},  {16, "2020B"}, {17, "2020C"}};

} // namespace

FreeDVModDemod::FreeDVModDemod(std::shared_ptr<syncTask> taskGroup)
    : modDemod(std::move(taskGroup)), lib_(FreeDVLib::getInstance()) {
    compressionInUse_.guard(compression, "FreeDVModDemod.compression", voiceTx::carriesLevel);
    lib_->LoadApi();
    if (!lib_->loaded()) return;
    for (const auto& m : modeList) Modes.add(std::make_shared<ValueLabelItem>(this->taskGroup(), m.value, m.label));
    setMode(Mode.get());
    Mode.changeHook = [this] { setMode(Mode.get()); };
}

FreeDVModDemod::~FreeDVModDemod() {
    if (!fdv) return;
    std::fputs("closing fdv\r\n", stdout);
    lib_->freedv_close(fdv);
    fdv = nullptr;
    std::fputs("closed fdv\r\n", stdout);
    std::fflush(stdout);
}

void FreeDVModDemod::refuse(bool& said, const char* what, long long value) {
    if (said) return;
    said = true;
    spdlog::info("freedv {} {} refused", what, value);
}

void FreeDVModDemod::closeInstance() {
    if (fdv) lib_->freedv_close(fdv);
    fdv = nullptr;
    openMode_ = -1;
}

void FreeDVModDemod::setMode(int mode) {
    std::lock_guard<std::mutex> lock(codec_);
    if (!lib_->loaded()) return;
    const char* missing = nullptr;
    if (!lib_->usable(&missing)) {
        // A library lacking an entry the mode calls opens nothing: calling
        // the empty entry would crash.
        if (!saidMissing_) spdlog::info("freedv mode {} not opened: {} missing", mode, missing);
        saidMissing_ = true;
        return;
    }
    closeInstance();
    fdv = lib_->freedv_open(mode);
    if (!fdv) {
        spdlog::info("freedv mode {} did not open", mode);
        return;
    }
    const sizes z = readSizes();
    if (!fits(mode, z)) {
        closeInstance();
        return;
    }
    openMode_ = mode;

    modemIn = buff<cplx>(size_t(z.maxModem), cplx{});
    speechOut = buff<int16_t>(size_t(z.maxSpeech), 0);
    txSpeech = buff<int16_t>(size_t(z.speechFrame), 0);
    txModem = buff<cplx>(size_t(z.modemFrame), cplx{});
    txReal = buff<int16_t>(size_t(z.modemFrame), 0);
    rateFactor = 48000 / z.speechRate;
    rxStep = 48000 / z.modemRate;
    path_ = z.modemFrame == z.speechFrame ? path::A : z.speechFrame == 2 * z.modemFrame ? path::B : path::C;
    txQueue = path_ == path::C ? buff<cplx>(2 * size_t(z.modemFrame), cplx{}) : buff<cplx>();
    txQueueRead = txQueueCount = 0;
    // Positions inside the old frames would overrun the new ones (700D's
    // 1280-sample frame against 1600's 320).
    modemCount = 0;
    txSpeechPos = 0;
    txHalf = 0;

    const float hi = float(z.speechRate) / 2.222f;
    txFilter = lowLatFir(100.0f, hi, 48000, 2048, blockLimit);
    setTxEqFilter(100.0, double(hi));
    rxFilter = lowLatFir(100.0f, hi, 48000, 1536, blockLimit);

    std::printf("%d\r\n%d\r\n%d\r\n%d\r\n%d\r\n%d\r\n", z.maxSpeech, z.maxModem, z.speechFrame, z.modemFrame,
                z.speechRate, z.modemRate);
    std::fflush(stdout);
}

FreeDVModDemod::sizes FreeDVModDemod::readSizes() {
    return {lib_->freedv_get_n_max_modem_samples(fdv),  lib_->freedv_get_n_max_speech_samples(fdv),
            lib_->freedv_get_n_speech_samples(fdv),     lib_->freedv_get_n_nom_modem_samples(fdv),
            lib_->freedv_get_speech_sample_rate(fdv),   lib_->freedv_get_modem_sample_rate(fdv)};
}

bool FreeDVModDemod::fits(int mode, const sizes& z) {
    const auto [maxModem, maxSpeech, speechFrame, modemFrame, speechRate, modemRate] = z;
    auto divides48k = [](int r) { return r > 0 && r <= 48000 && 48000 % r == 0; };

    const char* why = nullptr;
    if (!divides48k(speechRate) || !divides48k(modemRate))
        why = "rates that do not divide 48000";
    else if (maxModem <= 0 || maxSpeech <= 0 || speechFrame <= 0 || modemFrame <= 0)
        why = "an empty frame";
    else if (maxSpeech > ringSize)
        why = "a decode larger than the speech ring";
    else if (modemFrame == speechFrame ? modemRate != speechRate
             : speechFrame == 2 * modemFrame
                 ? 2 * modemRate != speechRate
                 // Path C sends the modem at 48000, at least one frame per
                 // speech frame.
                 : modemRate != 48000 || modemFrame < speechFrame * (48000 / speechRate))
        why = "frames the mode cannot place at 48000";
    if (!why) return true;
    spdlog::info("freedv mode {} refused: {} (speech {} at {}, modem {} at {})", mode, why, speechFrame, speechRate,
                 modemFrame, modemRate);
    return false;
}

void FreeDVModDemod::setTxEqFilter(double lo, double hi) {
    // Always shaped, and only here: a change of the curve reaches FreeDV at
    // the next mode change.
    txFilter.setFilter(voiceTx::equaliserTaps(lo, hi, micEqualiser::curve()));
}

bool FreeDVModDemod::conjugating() {
    auto owner = lockOwner();
    return owner && owner->vfo.get() < conjugateBelow;
}
