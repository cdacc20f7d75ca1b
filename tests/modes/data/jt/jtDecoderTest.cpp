// The FT8/FT4/JS8 decoder end to end: real FT8 receptions against what a
// mature decoder found in them, frames made by the tests' own encoder, and
// files the decoder must refuse without harm.
#include "modes/data/jt/ft8decode.h"
#include "modes/data/jt/loadWav.h"

#include "jtEncode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

using namespace jttest;
namespace fs = std::filesystem;

struct Reference {
    double dt;
    double hz;
    std::string text;
};

std::vector<Reference> references(const std::string& txt) {
    std::ifstream in(txt);
    std::vector<Reference> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string time, tilde;
        int snr;
        Reference r;
        if (!(s >> time >> snr >> r.dt >> r.hz >> tilde)) continue;
        std::getline(s, r.text);
        out.push_back(r);
    }
    return out;
}

std::vector<std::string> recordings() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dataPath("recordings")))
        if (e.path().extension() == ".wav") out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(JtDecoder, RealRecordingsMatchTheReferenceDecodes) {
    const auto files = recordings();
    ASSERT_EQ(files.size(), 9u);
    int lines = 0, matched = 0, total = 0;
    for (const auto& wav : files) {
        std::vector<uint8_t> result(50 * 32);
        const int n = jtdecode::decodeFile(wav.c_str(), result.data(), 8);
        ASSERT_GE(n, 0) << wav;
        const auto recs = records(result.data(), n);
        total += n;
        std::set<Payload> payloads;
        for (const auto& r : recs) EXPECT_TRUE(payloads.insert(r.payload).second) << "payload repeated in " << wav;
        // Reference times count from 0.5 s into the recording.
        for (const auto& ref : references(fs::path(wav).replace_extension(".txt").string())) {
            ++lines;
            for (const auto& r : recs) {
                if (std::abs(r.frequency - ref.hz) <= 4.0 && std::abs(r.time - (ref.dt + 0.5)) <= 0.25) {
                    ++matched;
                    break;
                }
            }
        }
    }
    EXPECT_EQ(lines, 90);
    std::printf("recordings: %d of %d reference lines matched, %d records\n", matched, lines, total);
    EXPECT_GE(matched, 64);
}

} // namespace
