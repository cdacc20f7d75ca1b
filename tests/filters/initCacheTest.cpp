// Its own executable: init may run only once per process.
#include "dsp/lowLatFir.h"
#include "framework/library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(lowLatFirInit, InitBuildsTheTwentyFourDesigns) {
    const std::string log = ::testing::TempDir() + "vireo_filters_init.log";
    std::remove(log.c_str());
    vireo::init(log.c_str(), 0);
    ASSERT_EQ(lowLatFir::cache().size(), 24u);
    const filterCachEntry& first = lowLatFir::cache().front();
    EXPECT_EQ(first.low, -3000.0f);
    EXPECT_EQ(first.high, 3000.0f);
    EXPECT_EQ(first.spectra.size(), 3u);
    const filterCachEntry& wide = lowLatFir::cache()[21];
    EXPECT_EQ(wide.rate, 384000);
    EXPECT_EQ(lowLatFir::cache().back().high, 12000.0f);
}
