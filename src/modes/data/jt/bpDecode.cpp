#include "modes/data/jt/bpDecode.h"

#include "modes/data/jt/jtTables.h"

namespace ft8 {

float fast_tanh(float x) {
    if (x < -4.97f) return -1.0f;
    if (x > 4.97f) return 1.0f;
    const float x2 = x * x;
    return x * (945.0f + x2 * (105.0f + x2)) / (945.0f + x2 * (420.0f + 15.0f * x2));
}

float fast_atanh(float x) {
    const float x2 = x * x;
    return x * (945.0f + x2 * (-735.0f + 64.0f * x2)) / (945.0f + x2 * (-1050.0f + 225.0f * x2));
}

} // namespace ft8

namespace {

/// One code's graph: M checks of up to 7 bits, 174 bits of 3 checks each.
template <int M>
struct Graph {
    const uint8_t (*nm)[7];
    const uint8_t (*mn)[3];
    const uint8_t* nrw;
};

template <int M>
void decode(const Graph<M>& g, const float* codeword, int maxIterations, uint8_t* plain, int* ok) {
    constexpr int N = 174;
    float toBit[N][3] = {};  // check-to-bit, by the bit's own check order
    float toCheck[M][7];     // bit-to-check, by the check's own bit order
    float total[N];
    for (int m = 0; m < M; ++m)
        for (int i = 0; i < g.nrw[m]; ++i) toCheck[m][i] = codeword[g.nm[m][i]];

    int best = M;
    if (maxIterations <= 0)
        for (int n = 0; n < N; ++n) plain[n] = codeword[n] > 0 ? 1 : 0;
    for (int iter = 0; iter < maxIterations; ++iter) {
        for (int n = 0; n < N; ++n) {
            total[n] = codeword[n] + toBit[n][0] + toBit[n][1] + toBit[n][2];
            plain[n] = total[n] > 0 ? 1 : 0;
        }
        int failed = 0;
        for (int m = 0; m < M; ++m) {
            uint8_t x = 0;
            for (int i = 0; i < g.nrw[m]; ++i) x ^= plain[g.nm[m][i]];
            failed += x;
        }
        if (failed < best) {
            best = failed;
            if (failed == 0) break;
        }
        for (int m = 0; m < M; ++m) {
            for (int i = 0; i < g.nrw[m]; ++i) {
                const int n = g.nm[m][i];
                // Leave out what this check told the bit.
                float t = total[n];
                for (int j = 0; j < 3; ++j)
                    if (g.mn[n][j] == m) t -= toBit[n][j];
                toCheck[m][i] = ft8::fast_tanh(-t / 2.0f);
            }
        }
        for (int n = 0; n < N; ++n) {
            for (int j = 0; j < 3; ++j) {
                const int m = g.mn[n][j];
                float product = 1.0f;
                for (int i = 0; i < g.nrw[m]; ++i)
                    if (g.nm[m][i] != n) product *= toCheck[m][i];
                toBit[n][j] = -2.0f * ft8::fast_atanh(product);
            }
        }
    }
    *ok = best;
}

} // namespace

void ft8::bp_decode(const float* codeword, int maxIterations, uint8_t* plain, int* ok) {
    decode(Graph<ft8::kM>{ft8::kNm, ft8::kMn, ft8::kNrw}, codeword, maxIterations, plain, ok);
}

void js8::bp_decode(const float* codeword, int maxIterations, uint8_t* plain, int* ok) {
    decode(Graph<js8::kM>{js8::kNm, js8::kMn, js8::kNrw}, codeword, maxIterations, plain, ok);
}
