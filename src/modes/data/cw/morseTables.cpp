#include "modes/data/cw/morseTables.h"

#include "framework/immortal.h"

#include <cstdint>
#include <utility>

namespace cw {
namespace {

struct code {
    char c;
    const char* elements;
};

// International Morse code (ITU-R M.1677-1): what both tables share.
constexpr code international[] = {
    {'a', ".-"},    {'b', "-..."},  {'c', "-.-."},  {'d', "-.."},   {'e', "."},     {'f', "..-."},  {'g', "--."},
    {'h', "...."},  {'i', ".."},    {'j', ".---"},  {'k', "-.-"},   {'l', ".-.."},  {'m', "--"},    {'n', "-."},
    {'o', "---"},   {'p', ".--."},  {'q', "--.-"},  {'r', ".-."},   {'s', "..."},   {'t', "-"},     {'u', "..-"},
    {'v', "...-"},  {'w', ".--"},   {'x', "-..-"},  {'y', "-.--"},  {'z', "--.."},  {'0', "-----"}, {'1', ".----"},
    {'2', "..---"}, {'3', "...--"}, {'4', "....-"}, {'5', "....."}, {'6', "-...."}, {'7', "--..."}, {'8', "---.."},
    {'9', "----."},
};
constexpr code punctuation[] = {{'.', ".-.-.-"}, {',', "--..--"}, {'?', "..--.."}, {'=', "-...-"}};
// The system's own signs ("~" is sent as two letters, below).
constexpr code own[] = {{'!', "-.-.--"}, {'<', ".-..."}, {'>', ".-.-."}, {'%', "...-.-"}, {'+', "-.--."},
                        {'&', "..-.-"},  {'{', "....--"}, {'}', "...-."}, {'#', "-...-.-"}};

std::string pattern(const char* elements) {
    std::string p;
    for (const char* e = elements; *e; ++e) {
        p += *e;
        p += ' ';
    }
    return p + "  ";
}

std::map<char, std::string> buildPatterns() {
    std::map<char, std::string> m;
    for (const code& k : international) {
        m[k.c] = pattern(k.elements);
        if (k.c >= 'a' && k.c <= 'z') m[char(k.c - 'a' + 'A')] = pattern(k.elements);
    }
    for (const code& k : punctuation) m[k.c] = pattern(k.elements);
    for (const code& k : own) m[k.c] = pattern(k.elements);
    m['~'] = pattern(".-") + pattern(".-");
    m[' '] = std::string(7, ' ');
    m['@'] = "@";
    return m;
}

std::array<char, 256> buildDecoder() {
    std::array<char, 256> t;
    t.fill(' ');
    for (const code& k : international) {
        uint32_t bits = 0, n = 0;
        for (const char* e = k.elements; *e; ++e, ++n) bits = bits * 2 + (*e == '-' ? 1u : 0u);
        t[bits | n << 5] = k.c;
    }
    return t;
}

} // namespace

const std::map<char, std::string>& morsePatterns() {
    static const auto& m = immortal<const std::map<char, std::string>>(buildPatterns());
    return m;
}

const std::string& CharToMorse(int c) {
    static const auto& none = immortal<const std::string>(" ");
    static const std::array<const std::string*, 256> byByte = [] {
        std::array<const std::string*, 256> a;
        a.fill(&none);
        for (const auto& [k, p] : morsePatterns()) a[uint8_t(k)] = &p;
        return a;
    }();
    return c >= 0 && c < 256 ? *byByte[size_t(c)] : none;
}

const std::array<char, 256>& MorseToChar() {
    static const std::array<char, 256> t = buildDecoder();
    return t;
}

} // namespace cw
