// A host that ends with an HPSDR radio running leaves its board neither
// keyed nor streaming: the host program (hpsdrExitHost.cpp) runs as a child
// process against the board simulators and ends by exit(0), keyed, from its
// main thread or from a thread of its own (the library's I/O thread then
// stops before, or after, the radio's exit stop), after unkeying first (the
// control), or with the radio stopped. The board must hear MOX clear, in a
// frame byte for byte the one an unkey sends, then the stop packet; a
// stopped radio sends nothing more at the end.
#include "sim/hpsdrP1Sim.h"
#include "sim/hpsdrP2Sim.h"
#include "support/externalTool.h"
#include "support/skipOrFail.h"
#include "support/waitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

/// Runs the host to its end, creating its go file once ready() holds (at
/// most 60 s: the host then ends as told anyway). When the go file was made.
udpPeer::clock::time_point runHost(const std::string& protocol, const std::string& address, const std::string& ending,
                                   const std::function<bool()>& ready) {
    const tool::ScratchDir scratch;
    const std::string go = scratch.file("go");
    tool::Result r;
    std::thread child([&] {
        r = tool::run({VIREO_HPSDR_EXIT_HOST, scratch.file("host.log"), protocol, address, ending, go}, scratch.path);
    });
    EXPECT_TRUE(waitFor(ready, 60s)) << "the board never saw the host ready";
    const auto at = udpPeer::clock::now();
    std::ofstream(go) << "go";
    child.join();
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 6000);
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err.substr(0, 6000);
    EXPECT_EQ(r.err.find("runtime error:"), std::string::npos) << r.err.substr(0, 6000);
    const std::string log = tool::readFile(scratch.file("host.log"));
    EXPECT_EQ(log.find("at exit"), std::string::npos) << log.substr(0, 4000);
    EXPECT_EQ(log.find("still running"), std::string::npos) << log.substr(0, 4000);
    return at;
}

bool isStartStop(const std::vector<uint8_t>& b) { return b.size() == 64 && b[0] == 0xEF && b[1] == 0xFE && b[2] == 0x04; }
bool anyMox(const ep2Packet& p) { return p.frames[0].mox() || p.frames[1].mox(); }
bool carriesTone(const ep2Packet& p) {
    for (auto& f : p.frames)
        for (auto& w : f.iq)
            if (std::abs(w[0]) > 1000 || std::abs(w[1]) > 1000) return true;
    return false;
}

} // namespace

TEST(HpsdrHostExit, AKeyedBoardHearsMoxClearThenStopBeforeTheProcessEnds) {
    std::optional<std::vector<uint8_t>> unkeyRelease; // the control's, less its sequence number
    for (const std::string ending : {"unkey", "exit", "thread", "stop"}) {
        SCOPED_TRACE(ending);
        hpsdrP1Sim board;
        std::string address = "::1", why;
        if (!board.openBoard(address, &why)) {
            address = "127.0.0.1"; // hosts without an IPv6 loopback
            if (!board.openBoard(address, &why)) VIREO_SKIP_OR_FAIL(why);
        }
        board.runClock(ep6Stream(1, {{simTone{}}}));
        const auto go = runHost("p1", address, ending, [&] {
            size_t keyed = 0;
            for (auto& p : board.ep2()) keyed += anyMox(p) && carriesTone(p);
            return keyed >= 20;
        });
        const auto all = board.hostDatagrams();
        board.stopClock();

        size_t first = all.size(); // the last start
        while (first > 0 && !(isStartStop(all[first - 1].bytes) && all[first - 1].bytes[3] != 0)) --first;
        ASSERT_GT(first, 0u) << "never started";
        std::vector<size_t> stops, ep2s;
        std::vector<ep2Packet> frames;
        for (size_t k = first; k < all.size(); ++k) {
            if (isStartStop(all[k].bytes)) {
                EXPECT_EQ(all[k].bytes, startStopPacket(0x00));
                stops.push_back(k);
            } else if (auto p = decodeEp2(all[k].bytes)) {
                ep2s.push_back(k);
                frames.push_back(*p);
            }
        }
        EXPECT_EQ(stops.size(), 1u) << "the board hears the stop, once";
        EXPECT_FALSE(board.streaming());
        const size_t stop = stops.empty() ? all.size() : stops[0];
        size_t lastMox = frames.size();
        while (lastMox > 0 && !anyMox(frames[lastMox - 1])) --lastMox;
        ASSERT_GT(lastMox, 0u) << "never on the air";
        ASSERT_LT(lastMox, frames.size()) << "left keyed";
        // The release: the first frame after the last with MOX set.
        const size_t release = ep2s[lastMox];
        std::vector<uint8_t> bytes = all[release].bytes;
        std::fill(bytes.begin() + 4, bytes.begin() + 8, 0);
        size_t moxFrames = 0;
        for (auto& p : frames) moxFrames += size_t(p.frames[0].mox()) + size_t(p.frames[1].mox());
        std::printf("%s: %zu MOX frames; release %+.1f ms, stop %+.1f ms after the go\n", ending.c_str(), moxFrames,
                    std::chrono::duration<double, std::milli>(all[release].at - go).count(),
                    stops.empty() ? 0.0 : std::chrono::duration<double, std::milli>(all[stop].at - go).count());

        if (ending == "unkey") {
            unkeyRelease = bytes;
            EXPECT_EQ(stop, all.size() - 1) << "the exit's stop comes last";
            continue;
        }
        ASSERT_TRUE(unkeyRelease);
        EXPECT_EQ(bytes, *unkeyRelease) << "the release an unkey sends";
        EXPECT_EQ(frames[lastMox].sequence, frames[lastMox - 1].sequence + 1);
        if (ending == "stop") {
            // Radio_stop's own stop, then its release; nothing at the end.
            EXPECT_EQ(release, stop + 1);
            continue;
        }
        EXPECT_EQ(release, all.size() - 2) << "keyed to the end, then released";
        EXPECT_EQ(stop, all.size() - 1) << "then stopped";
    }
}

TEST(HpsdrHostExit, AProtocol2BoardIsStoppedBeforeTheProcessEnds) {
    for (const std::string ending : {"exit", "thread"}) {
        SCOPED_TRACE(ending);
        hpsdrP2Sim board;
        std::string why;
        if (!board.open("127.0.0.1", &why)) VIREO_SKIP_OR_FAIL(why);
        runHost("p2", "127.0.0.1", ending, [&] {
            auto hp = board.at(1027).received();
            return !hp.empty() && hp.back().bytes.size() > 4 && hp.back().bytes[4] == 1;
        });
        // The start's High priority packet, then the same with the run bit
        // clear, as Radio_stop sends it.
        auto hp = board.at(1027).received();
        ASSERT_EQ(hp.size(), 2u);
        auto stopped = hp[0].bytes;
        stopped[4] = 0;
        EXPECT_EQ(hp[1].bytes, stopped);
    }
}
