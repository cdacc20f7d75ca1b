#include "modes/data/jt/findSync.h"

#include <utility>

namespace ft8 {

namespace {

void siftUp(Candidate* heap, int i) {
    while (i > 0) {
        const int parent = (i - 1) / 2;
        if (!(heap[i].score < heap[parent].score)) break;
        std::swap(heap[i], heap[parent]);
        i = parent;
    }
}

void sink(Candidate* heap, int n) {
    int i = 0;
    for (;;) {
        const int left = 2 * i + 1, right = left + 1;
        int smallest = i;
        if (left < n && heap[left].score < heap[smallest].score) smallest = left;
        if (right < n && heap[right].score < heap[smallest].score) smallest = right;
        if (smallest == i) return;
        std::swap(heap[i], heap[smallest]);
        i = smallest;
    }
}

/// One sync symbol's contrast: the tone against its neighbours in frequency
/// (hasLower, hasUpper) and against the same bin one block before and after.
inline int contrast(const uint8_t* p, int s, int stride, bool lower, bool upper, bool before, bool after) {
    const int v = p[s];
    int sum = 0;
    if (lower) sum += v - p[s - 1];
    if (upper) sum += v - p[s + 1];
    if (before) sum += v - p[s - stride];
    if (after) sum += v - p[s + stride];
    return sum;
}

/// Visits every position in the search's order (time sub-step, frequency
/// sub-step, time offset, frequency offset) and heaps the scores that pass.
template <class Score>
int search(const MagArray& power, int firstOffset, int lastOffset, int lastBin, int maxCandidates, Candidate* heap,
           int minScore, Score score) {
    int n = 0;
    for (int t = 0; t < 2; ++t)
        for (int f = 0; f < 2; ++f)
            for (int offset = firstOffset; offset <= lastOffset; ++offset)
                for (int bin = 1; bin <= lastBin; ++bin) {
                    const int s = score(t, f, offset, bin);
                    if (s < minScore) continue;
                    Candidate c{int16_t(s), int16_t(offset), int16_t(bin), uint8_t(t), uint8_t(f)};
                    n = heap_push(heap, n, maxCandidates, c);
                }
    return n;
}

} // namespace

int heap_push(Candidate* heap, int n, int cap, const Candidate& c) {
    if (cap <= 0) return n;
    if (n < cap) {
        heap[n] = c;
        siftUp(heap, n);
        return n + 1;
    }
    if (!(c.score > heap[0].score)) return n;
    heap[0] = heap[n - 1];
    sink(heap, n - 1);
    heap[n - 1] = c;
    siftUp(heap, n - 1);
    return n;
}

int find_sync(const MagArray& power, const uint8_t* costas, int maxCandidates, Candidate* heap, int minScore) {
    if (power.blocks < 66 || power.bins < 9) return 0;
    const int stride = power.blockStride();
    return search(power, -7, power.blocks - 73, power.bins - 8, maxCandidates, heap, minScore,
                  [&](int t, int f, int offset, int bin) {
                      int sum = 0, symbols = 0;
                      for (int m : {0, 36, 72}) {
                          for (int k = 0; k < 7; ++k) {
                              const int block = offset + m + k;
                              if (block < 1) continue;
                              if (block >= power.blocks - 1) break;
                              const uint8_t* p = power.row(block, t, f) + bin;
                              const int s = costas[k];
                              sum += contrast(p, s, stride, s > 0, s < 7, k > 0, k < 6);
                              ++symbols;
                          }
                      }
                      return symbols > 0 ? sum / symbols : 0;
                  });
}

int find_sync4(const MagArray& power, const uint8_t (*costas)[4], int maxCandidates, Candidate* heap,
               int minScore) {
    if (power.blocks < 100 || power.bins < 5) return 0;
    const int stride = power.blockStride();
    return search(power, -4, power.blocks - 104, power.bins - 4, maxCandidates, heap, minScore,
                  [&](int t, int f, int offset, int bin) {
                      int sum = 0, symbols = 0;
                      for (int g = 0; g < 4; ++g) {
                          for (int k = 0; k < 4; ++k) {
                              const int block = offset + 33 * g + k;
                              if (block < 1) continue;
                              if (block >= power.blocks - 1) break;
                              const uint8_t* p = power.row(block, t, f) + bin;
                              const int s = costas[g][k];
                              // Tone 3 too is set against the bin above it.
                              sum += contrast(p, s, stride, s > 0, s <= 3, k > 0, k < 3);
                              ++symbols;
                          }
                      }
                      return symbols > 0 ? sum / symbols : 0;
                  });
}

} // namespace ft8
