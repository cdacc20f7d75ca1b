// FreeDV without its library: the loader looks for names nothing serves.
#include "modes/voice/FreeDVModDemod.h"

#include "framework/objectFixture.h"
#include "support/logCapture.h"
#include "support/stdoutCapture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using cplx = std::complex<float>;

class FreeDVAbsent : public ObjectTest {
protected:
    void SetUp() override { FreeDVLib::fileNames() = {"libcodec2-not-here.so"}; }
};

TEST_F(FreeDVAbsent, EveryConstructionTriesAgainAndTheModeIsSilentBothWays) {
    LogCapture log;
    StdoutCapture out;
    auto a = std::make_shared<FreeDVModDemod>(group);
    auto b = std::make_shared<FreeDVModDemod>(group);
    EXPECT_EQ(log.count("info|freedv failed to load dll libcodec2"), 2u);
    EXPECT_FALSE(FreeDVLib::getInstance()->loaded());
    EXPECT_TRUE(a->Modes.items().empty());
    EXPECT_EQ(a->fdv, nullptr);

    buff<cplx> in(512, cplx{0.5f, 0.5f});
    auto audio = a->demodulate(in);
    ASSERT_EQ(audio.count, 512u);
    EXPECT_TRUE(std::all_of(audio.begin(), audio.end(), [](float s) { return s == 0.0f; }));
    buff<cplx> iq(512, cplx{1.0f, 1.0f});
    a->modulate(in, iq);
    EXPECT_TRUE(std::all_of(iq.begin(), iq.end(), [](cplx s) { return s == cplx{}; }));

    // Without the library Mode has no hook: setting it only stores.
    onGroup(a, [&] { a->Mode.hostSet(0); });
    EXPECT_EQ(a->Mode.get(), 0);
    EXPECT_EQ(a->fdv, nullptr);
    a.reset();
    b.reset();
    EXPECT_EQ(out.stop(), ""); // no size trace, no closing trace
}

} // namespace
