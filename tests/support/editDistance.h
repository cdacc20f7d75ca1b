#pragma once
// Character error counts of decoded text against what was sent.
#include <algorithm>
#include <string>
#include <vector>

namespace textmatch {

/// Levenshtein distance: characters lost, added or changed.
inline size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

/// The edit distance of `sent` to the stretch of `received` that matches it
/// best: what a receiver printed before and after the text costs nothing.
inline size_t bestMatchDistance(const std::string& sent, const std::string& received) {
    // Rows over sent, columns over received; a match may start anywhere in
    // received (first row all zeros) and end anywhere (minimum of the last).
    std::vector<size_t> row(received.size() + 1, 0);
    for (size_t i = 1; i <= sent.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= received.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (sent[i - 1] != received[j - 1])});
            diagonal = up;
        }
    }
    return *std::min_element(row.begin(), row.end());
}

} // namespace textmatch
