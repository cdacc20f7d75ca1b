#include "modes/data/jt/bpDecode.h"

#include "modes/data/jt/jtTables.h"

namespace {

constexpr int maxEdges = 7 * 87;

/// One code's graph as a flat list of edges, check by check: the bit of
/// each edge, and which of that bit's three checks the edge's check is
/// (where the message on the edge is kept).
template <int M>
struct Graph {
    const uint8_t* nrw;
    int edges = 0;
    int first[M + 1];        // a check's first edge
    uint8_t bit[maxEdges];
    uint8_t slot[maxEdges];

    Graph(const uint8_t (*nm)[7], const uint8_t (*mn)[3], const uint8_t* rows) : nrw(rows), first{}, bit{}, slot{} {
        for (int m = 0; m < M; ++m) {
            first[m] = edges;
            for (int i = 0; i < nrw[m]; ++i, ++edges) {
                bit[edges] = nm[m][i];
                for (uint8_t j = 0; j < 3; ++j)
                    if (mn[nm[m][i]][j] == m) slot[edges] = j;
            }
        }
        first[M] = edges;
    }
};

template <int M>
void decode(const Graph<M>& g, const float* codeword, int maxIterations, uint8_t* plain, int* ok) {
    constexpr int N = 174;
    float toBit[N][3] = {}; // check-to-bit, by the bit's own check order
    float total[N];
    float edge[maxEdges];   // one edge's message, in turn each phase's

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
            for (int e = g.first[m]; e < g.first[m + 1]; ++e) x ^= plain[g.bit[e]];
            failed += x;
        }
        if (failed < best) {
            best = failed;
            if (failed == 0) break;
        }
        // Bit to check: the bit's total less what this check told it.
        const int E = g.edges;
        for (int e = 0; e < E; ++e) edge[e] = -(total[g.bit[e]] - toBit[g.bit[e]][g.slot[e]]) / 2.0f;
        for (int e = 0; e < E; ++e) edge[e] = ft8::fast_tanh(edge[e]);
        // Check to bit: the product of what the check's other bits told it,
        // from the products before and after the edge rather than one
        // product per edge.
        for (int m = 0; m < M; ++m) {
            const int a = g.first[m], k = g.first[m + 1] - a;
            float before[8], after[8];
            before[0] = 1.0f;
            for (int i = 0; i < k; ++i) before[i + 1] = before[i] * edge[a + i];
            after[k] = 1.0f;
            for (int i = k - 1; i >= 0; --i) after[i] = after[i + 1] * edge[a + i];
            for (int i = 0; i < k; ++i) edge[a + i] = before[i] * after[i + 1];
        }
        for (int e = 0; e < E; ++e) edge[e] = -2.0f * ft8::fast_atanh(edge[e]);
        for (int e = 0; e < E; ++e) toBit[g.bit[e]][g.slot[e]] = edge[e];
    }
    *ok = best;
}

const Graph<ft8::kM>& ft8Graph() {
    static const Graph<ft8::kM> g(ft8::kNm, ft8::kMn, ft8::kNrw);
    return g;
}

const Graph<js8::kM>& js8Graph() {
    static const Graph<js8::kM> g(js8::kNm, js8::kMn, js8::kNrw);
    return g;
}

} // namespace

void ft8::bp_decode(const float* codeword, int maxIterations, uint8_t* plain, int* ok) {
    decode(ft8Graph(), codeword, maxIterations, plain, ok);
}

void js8::bp_decode(const float* codeword, int maxIterations, uint8_t* plain, int* ok) {
    decode(js8Graph(), codeword, maxIterations, plain, ok);
}
