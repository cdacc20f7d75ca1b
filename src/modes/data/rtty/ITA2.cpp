#include "modes/data/rtty/ITA2.h"

namespace rtty {

const std::array<uint8_t, 64> ITA2 = {
    // letters shift
    0x00, 'E', '\n', 'A', ' ', 'S', 'I', 'U', '\r', 'D', 'R', 'J', 'N', 'F', 'C', 'K', //
    'T', 'Z', 'L', 'W', 'H', 'Y', 'P', 'Q', 'O', 'B', 'G', 0x0E, 'M', 'X', 'V', 0x0F,
    // figures shift
    0x00, '3', '\n', '-', ' ', '\'', '8', '7', '\r', 0x05, '4', 0x07, ',', '!', ':', '(', //
    '5', '+', ')', '2', 0xA3, '6', '0', '1', '9', '?', '&', 0x0E, '.', '/', '=', 0x0F};

std::array<uint32_t, 256> buildTables() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 64; ++i) {
        const uint8_t c = ITA2[i];
        const uint32_t code = i % 32;
        uint32_t flags;
        if (i < 32)
            flags = ITA2[i + 32] == c ? needsNoShift : 0;
        else
            flags = ITA2[i - 32] == c ? needsNoShift : figuresShift;
        t[c] = 0x100 | code << 3 | flags;
    }
    // Lower-case letters send as capitals (every letters position but the
    // functions).
    for (uint32_t code = 0; code < 32; ++code) {
        if (code == 0 || code == 2 || code == 4 || code == 8 || code == 27 || code == 31) continue;
        t[ITA2[code] + 32u] = t[ITA2[code]];
    }
    for (auto& e : t)
        if (e == 0) e = t[0];
    return t;
}

const std::array<uint32_t, 256>& ITA2Table() {
    static const std::array<uint32_t, 256> table = buildTables();
    return table;
}

} // namespace rtty
