#pragma once
// PskDetector: one host-visible PSK receive channel, a CPSKDet with the
// properties and events the host sees. The mode that owns it drives the
// detector and its busy count under its own receive lock; a stand-alone
// detector made by the host only holds its properties.
#include "framework/asyncEvent.h"
#include "framework/asyncProperty.h"
#include "modes/data/psk/CPSKDet.h"

#include <string>

class PskDetector : public asyncObject {
public:
    explicit PskDetector(std::shared_ptr<syncTask> taskGroup);
    ~PskDetector() override = default;

    asyncProperty<int> freq{0};           // channel frequency, Hz, refreshed by the mode
    asyncProperty<int> signalStrength{0}; // stored only
    asyncProperty<int> activity{0};       // stored only
    asyncProperty<std::string> Mode;      // the variant name
    asyncEvent<std::string> newChars;     // text decoded from one block
    asyncEvent<int> reset;                // re-tuned and reset (always 0)

    /// The variant name of a mode number, empty for other numbers.
    static std::string variantName(int mode);

    CPSKDet detector;
    /// Blocks until the channel counts as free again (decoded text or an
    /// assignment raise it; every block without text lowers it).
    int busy = 0;
};
