#pragma once
// The CW mode's two code tables.
//
// Transmit: CharToMorse maps a character to its keying pattern: each
// element "." or "-" followed by a blank (one dot of silence), then two more
// blanks, so that letters are three dots apart; a blank character is seven
// blanks (a word gap) and "@" is the idle marker. Letters of both cases,
// digits, ". , ? =" as in International Morse code, and ten signs of the
// system's own ("+" is -.--., while .-.-. belongs to ">").
//
// Receive: MorseToChar is indexed by code | (elements << 5), the code's
// elements in order with the first the highest bit, a dot 0 and a dash 1; it
// knows a-z and 0-9, every other entry is a blank (no such code).
#include <array>
#include <map>
#include <string>

namespace cw {

/// Every character with a pattern of its own (78 of them). Built on first use.
const std::map<char, std::string>& morsePatterns();
/// The keying pattern of byte c; a single blank when there is none.
const std::string& CharToMorse(int c);

const std::array<char, 256>& MorseToChar();

} // namespace cw
