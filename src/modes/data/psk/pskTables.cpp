#include "modes/data/psk/pskTables.h"

#include <numbers>
#include <string_view>

namespace psk {

namespace {

// The published PSK31 varicode of codes 0-127, as written.
constexpr std::string_view lowerHalf[128] = {
    "1010101011", "1011011011", "1011101101", "1101110111", "1011101011", "1101011111", "1011101111",
    "1011111101", "1011111111", "11101111",   "11101",      "1101101111", "1011011101", "11111",
    "1101110101", "1110101011", "1011110111", "1011110101", "1110101101", "1110101111", "1101011011",
    "1101101011", "1101101101", "1101010111", "1101111011", "1101111101", "1110110111", "1101010101",
    "1101011101", "1110111011", "1011111011", "1101111111", "1",          "111111111",  "101011111",
    "111110101",  "111011011",  "1011010101", "1010111011", "101111111",  "11111011",   "11110111",
    "101101111",  "111011111",  "1110101",    "110101",     "1010111",    "110101111",  "10110111",
    "10111101",   "11101101",   "11111111",   "101110111",  "101011011",  "101101011",  "110101101",
    "110101011",  "110110111",  "11110101",   "110111101",  "111101101",  "1010101",    "111010111",
    "1010101111", "1010111101", "1111101",    "11101011",   "10101101",   "10110101",   "1110111",
    "11011011",   "11111101",   "101010101",  "1111111",    "111111101",  "101111101",  "11010111",
    "10111011",   "11011101",   "10101011",   "11010101",   "111011101",  "10101111",   "1101111",
    "1101101",    "101010111",  "110110101",  "101011101",  "101110101",  "101111011",  "1010101101",
    "111110111",  "111101111",  "111111011",  "1010111111", "101101101",  "1011011111", "1011",
    "1011111",    "101111",     "101101",     "11",         "111101",     "1011011",    "101011",
    "1101",       "111101011",  "10111111",   "11011",      "111011",     "1111",       "111",
    "111111",     "110111111",  "10101",      "10111",      "101",        "110111",     "1111011",
    "1101011",    "11011111",   "1011101",    "111010101",  "1010110111", "110111011",  "1010110101",
    "1011010111", "1110110101",
};

constexpr uint16_t leftJustified(std::string_view bits) {
    uint16_t v = 0;
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') v = uint16_t(v | (0x8000u >> i));
    return v;
}

/// A valid word: starts and ends with 1 and holds no two zeros in a row.
constexpr bool validWord(uint32_t word, int length) {
    if (!(word & 1u) || !(word >> (length - 1) & 1u)) return false;
    for (int i = 0; i + 1 < length; ++i)
        if (!(word >> i & 3u)) return false;
    return true;
}

constexpr std::array<uint16_t, 256> buildVaricode() {
    std::array<uint16_t, 256> t{};
    for (int c = 0; c < 128; ++c) t[size_t(c)] = leftJustified(lowerHalf[c]);
    int next = 128;
    for (int length = 1; length <= 16 && next < 256; ++length) {
        for (uint32_t word = 1u << (length - 1); word < (1u << length) && next < 256; ++word) {
            if (!validWord(word, length)) continue;
            const auto code = uint16_t(word << (16 - length));
            bool used = false;
            for (int c = 0; c < 128; ++c) used = used || t[size_t(c)] == code;
            if (!used) t[size_t(next++)] = code;
        }
    }
    return t;
}

struct MorseEntry {
    char c;
    std::string_view elements;
};

constexpr MorseEntry morse[] = {
    {'A', ".-"},     {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},    {'E', "."},      {'F', "..-."},
    {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},   {'K', "-.-"},    {'L', ".-.."},
    {'M', "--"},     {'N', "-."},     {'O', "---"},    {'P', ".--."},   {'Q', "--.-"},   {'R', ".-."},
    {'S', "..."},    {'T', "-"},      {'U', "..-"},    {'V', "...-"},   {'W', ".--"},    {'X', "-..-"},
    {'Y', "-.--"},   {'Z', "--.."},   {'0', "-----"},  {'1', ".----"},  {'2', "..---"},  {'3', "...--"},
    {'4', "....-"},  {'5', "....."},  {'6', "-...."},  {'7', "--..."},  {'8', "---.."},  {'9', "----."},
    {',', "--..--"}, {'.', ".-.-.-"}, {'/', "-..-."},  {'?', "..--.."}, {'=', "-...-"},  {'+', ".-.-."},
    {'*', "...-.-"},
};

constexpr std::array<uint16_t, 59> buildMorse() {
    std::array<uint16_t, 59> t{};
    t[0] = 0xF000; // space: two gap elements
    for (const auto& m : morse) {
        uint32_t v = 0;
        int shift = 14;
        for (char e : m.elements) {
            v |= uint32_t(e == '.' ? 1 : 2) << shift;
            shift -= 2;
        }
        v |= 3u << shift; // the gap that ends the letter
        t[size_t(m.c - 32)] = uint16_t(v);
    }
    return t;
}

constexpr double pi = std::numbers::pi;

} // namespace

constinit const std::array<uint16_t, 256> VARICODE_TABLE = buildVaricode();

constinit const std::array<uint8_t, 32> CONV_CODE_TABLE = {2, 1, 3, 0, 3, 0, 2, 1, 0, 3, 1, 2, 1, 2, 0, 3,
                                                           1, 2, 0, 3, 0, 3, 1, 2, 3, 0, 2, 1, 2, 1, 3, 0};

constinit const std::array<double, 4> ANGLE_TBL1 = {3 * pi / 2, 0.0, pi / 2, pi};
constinit const std::array<double, 4> ANGLE_TBL2 = {3 * pi / 2, 2 * pi, pi / 2, pi};

constinit const std::array<int, 16> HALF_TABLE = {7, 8, 9, 10, 11, 12, 13, 14, 0, 1, 2, 3, 4, 5, 6, 7};

constinit const std::array<uint16_t, 59> CW_TABLE = buildMorse();

} // namespace psk
