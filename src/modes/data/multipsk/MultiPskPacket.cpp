#include "modes/data/multipsk/MultiPskPacket.h"

#include <algorithm>
#include <cstring>

namespace multipsk {

bool hasKeyword(const char* body, size_t size, std::string_view keyword) {
    return size >= keywordBytes && keyword.size() == keywordBytes && std::memcmp(body, keyword.data(), keywordBytes) == 0;
}

buff<char> makeFrame(std::string_view keyword, size_t payloadBytes) {
    const size_t body = keywordBytes + payloadBytes;
    buff<char> frame(lengthBytes + body);
    multiWriteLong(frame.data, int(uint32_t(body)));
    std::memcpy(frame.data + lengthBytes, keyword.data(), std::min(keyword.size(), keywordBytes));
    return frame;
}

} // namespace multipsk

int multiWriteShortString(char* dst, const char* s) {
    const size_t n = std::min<size_t>(std::strlen(s), 255);
    dst[0] = char(uint8_t(n));
    std::memcpy(dst + 1, s, n);
    return int(n) + 1;
}

int multiWriteLong(char* dst, int v) {
    const uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i) dst[i] = char(uint8_t(u >> (8 * i)));
    return 4;
}

int multiReadLong(const char* src) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= uint32_t(uint8_t(src[i])) << (8 * i);
    return int(u);
}
