#pragma once
// MultiPskPacket: the frame that carries every message between MultiPSK and
// the bridge, in both directions over one TCP stream:
//
//   offset 0   4 bytes  body length L, unsigned, little-endian
//   offset 4   8 bytes  keyword, eight ASCII characters, no terminator
//   offset 12  L - 8    payload, keyword-specific
//
// The body is everything after the length field (keyword and payload).
// Every number inside a body is little-endian, whatever the machine.
#include "dsp/buff.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace multipsk {

constexpr size_t lengthBytes = 4;
constexpr size_t keywordBytes = 8;
/// Bytes of a "TXHWdata" body before its samples: keyword and sample count.
constexpr size_t sampleHeaderBytes = 12;

/// Whether the body begins with the keyword (eight characters).
bool hasKeyword(const char* body, size_t size, std::string_view keyword);

/// A whole frame (length field included) with the keyword written and
/// payloadBytes left for the caller to fill from frame.data + 12.
buff<char> makeFrame(std::string_view keyword, size_t payloadBytes);

} // namespace multipsk

/// Writes one length byte and the characters of s (no terminator); returns
/// the bytes written. Texts longer than 255 characters are cut to 255.
int multiWriteShortString(char* dst, const char* s);
/// Writes v as 4 bytes little-endian; returns 4.
int multiWriteLong(char* dst, int v);
/// The 4-byte little-endian int at src.
int multiReadLong(const char* src);
