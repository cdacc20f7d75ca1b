#include "modes/data/psk/PskDetector.h"

PskDetector::PskDetector(std::shared_ptr<syncTask> taskGroup) : asyncObject(std::move(taskGroup)) {}

std::string PskDetector::variantName(int mode) {
    switch (mode) {
    case 0:
        return "PSK31";
    case 1:
        return "QPSK31";
    case 8:
        return "PSK63";
    case 9:
        return "QPSK63";
    case 16:
        return "PSK125";
    case 17:
        return "QPSK125";
    default:
        return {};
    }
}
