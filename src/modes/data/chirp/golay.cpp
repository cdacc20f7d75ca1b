#include "modes/data/chirp/golay.h"

#include <array>

namespace {

constexpr uint32_t generator = 0xC75; // x^11 + x^10 + x^6 + x^5 + x^4 + x^2 + 1

struct EncodeTable {
    std::array<uint32_t, 4096> codeword{};
    EncodeTable() {
        for (uint32_t m = 0; m < codeword.size(); ++m) codeword[m] = (m << 11) | get_syndrome(m << 11);
    }
};

struct DecodeTables {
    std::array<uint32_t, 2048> pattern{};
    std::array<uint8_t, 2048> weight{};
    DecodeTables() {
        auto enter = [this](uint32_t e, int w) {
            const uint32_t s = get_syndrome(e);
            pattern[s] = e;
            weight[s] = uint8_t(w);
        };
        enter(0, 0);
        for (int w = 1; w <= 3; ++w) {
            int a[3];
            for (int i = 0; i < w; ++i) a[i] = i;
            do {
                enter(arr2int(a, w), w);
            } while (nextcomb(23, w, a));
        }
    }
};

const EncodeTable& encodeTable() {
    static const EncodeTable t;
    return t;
}

const DecodeTables& decodeTables() {
    static const DecodeTables t;
    return t;
}

} // namespace

uint32_t get_syndrome(uint32_t p) {
    // A word wider than 23 bits would keep its high bits forever below:
    // the search for the leading term starts at bit 22.
    p &= golayWordMask;
    if (p < (1u << 11)) return p;
    for (int bit = 22; bit >= 11; --bit)
        if (p & (1u << bit)) p ^= generator << (bit - 11);
    return p;
}

uint32_t encode_golay(uint32_t value) { return encodeTable().codeword[value & 0xFFF]; }

uint32_t decode_golay(uint32_t r, int* errors) {
    const DecodeTables& t = decodeTables();
    r &= golayWordMask;
    const uint32_t s = get_syndrome(r);
    if (errors) *errors = t.weight[s];
    return (r ^ t.pattern[s]) >> 11;
}

const uint32_t* gen_enc_table() { return encodeTable().codeword.data(); }

const uint32_t* gen_dec_table(const uint8_t** errorWeights) {
    const DecodeTables& t = decodeTables();
    if (errorWeights) *errorWeights = t.weight.data();
    return t.pattern.data();
}

bool nextcomb(int n, int r, int* a) {
    // The rightmost position that can still move right, then its followers
    // packed behind it.
    int i = r - 1;
    while (i >= 0 && a[i] == n - r + i) --i;
    if (i < 0) return false;
    ++a[i];
    for (int j = i + 1; j < r; ++j) a[j] = a[j - 1] + 1;
    return true;
}

uint32_t arr2int(const int* a, int r) {
    uint32_t mask = 0;
    for (int i = 0; i < r; ++i) mask |= 1u << a[i];
    return mask;
}
