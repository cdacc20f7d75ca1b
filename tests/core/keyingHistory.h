#pragma once
// A seeded random history of a host keying the loop-back radio: bursts of
// the calls a panel makes in a hurry (keys and unkeys of transceivers A and
// B and of the radio, stop and start, canTransmit, modes attached, swapped
// and detached on A and on B, texts with end marks, CW texts that key A or
// B, a CW text on A followed at once by B's key or B's own CW text, the
// voice switch's speech, a MultiPSK peer's overs, refused values set right
// before valid ones, an ending in a long text followed at once by a new
// text or the host's key, a JT message on the air stopped by Enabled false
// and enabled again, a JT message queued across the let-go of its
// transceiver and the mode's move to B), with gaps of 0-20 ms and often no
// poll between the calls. After each burst it settles and checks what the
// host heard against the library (hostView.h) and against what the host's
// calls let it expect (keyingModel.h: among the rest, the transceiver whose
// key the host made last, its own or a CW text's, holds the transmitter),
// and what went out: the CW text whose key the host made last, and a text
// queued right after an ending, go out whole unless a later call ended
// them, a JT message queued after a let-go goes out whole on the mode's
// next transceiver and one queued before it never does, nothing of a text
// goes out after an ending made once it began, and nothing of a JT message
// Enabled false cut goes on the air (transceiver C listens). Every fourth
// burst, and once more after the last, the host unkeys everything.
//
// The same seed makes the same calls, so a failing seed replays; the
// library's timing may differ from run to run.
#include <cstdint>
#include <string>

namespace keyhist {

struct Outcome {
    uint64_t seed = 0;
    int bursts = 0; // settled and checked, the failing one included
    bool failed = false;
    std::string invariant; // the first one broken
    /// What broke, the model before the burst, and the burst as the host
    /// made and heard it, with times from its start.
    std::string report;
};

/// Bursts in a history of this build: a sanitizer build, slower, runs
/// fewer.
int burstsPerHistory();

/// Runs `bursts` bursts generated from `seed` on a rig of its own, and the
/// host's unkey of everything after them, each settled and checked; stops
/// at the first broken invariant. Starts the
/// library with its log in `logDirectory` when not started yet. Host
/// thread.
Outcome runHistory(uint64_t seed, int bursts, const std::string& logDirectory);

} // namespace keyhist
