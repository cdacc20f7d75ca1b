// Loading the vendor library: which installed file the first load opens,
// where every later load copies it, and each way a load can fail.
#include "sdrplayHost.h"
#include "support/stdoutCapture.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

using SDRPlayLoader = SDRPlayHost;

TEST_F(SDRPlayLoader, TheNewestInstalledVersionOpensFirstAndEveryLaterLoadOpensACopyOfItsOwn) {
    install(SDRPLAY_STANDIN, "3.09");
    {
        SDRPlayLib first, second, third;
        first.loadApi();
        EXPECT_TRUE(capture->contains("info|sdrplay dll loaded" + folder + "/lib/libsdrplay_api.so.3.15"));
        const std::string dir = folder + "/root/sdrplay/ver3.15";
        EXPECT_TRUE(capture->contains("info|sdrplay got path " + dir));
        second.loadApi();
        third.loadApi();
        ASSERT_TRUE(third.loaded());
        EXPECT_TRUE(fs::exists(dir + "/sdrplay_api_i3.so"));
        EXPECT_EQ(sdrplay::calls("Open"),
                  (std::vector<std::string>{"Open " + folder + "/lib/libsdrplay_api.so.3.15",
                                            "Open " + dir + "/sdrplay_api_i2.so", "Open " + dir + "/sdrplay_api_i3.so"}));
    }
    EXPECT_EQ(sdrplay::calls("Close").size(), 3u);

    // Only the oldest version: it is the one. A version of 3.7 is "ver3.70".
    fs::remove(folder + "/lib/libsdrplay_api.so.3.15");
    fs::rename(folder + "/lib/libsdrplay_api.so.3.09", folder + "/lib/libsdrplay_api.so.3.07");
    SDRPlayLib::restartProcessState(folder + "/lib");
    sdrplay::version(3.7f);
    SDRPlayLib first, second;
    first.loadApi();
    second.loadApi();
    EXPECT_TRUE(capture->contains("info|sdrplay dll loaded" + folder + "/lib/libsdrplay_api.so.3.07"));
    EXPECT_TRUE(second.loaded());
    EXPECT_TRUE(fs::exists(folder + "/root/sdrplay/ver3.70/sdrplay_api_i2.so"));

    // None at all: the plain name is tried, and later loads have nothing to copy.
    fs::remove(folder + "/lib/libsdrplay_api.so.3.07");
    SDRPlayLib::restartProcessState(folder + "/lib");
    SDRPlayLib none;
    none.loadApi();
    EXPECT_FALSE(none.loaded());
    EXPECT_TRUE(capture->contains("info|sdrplay dll not found " + folder + "/lib/libsdrplay_api.so.3.0"));
}

TEST_F(SDRPlayLoader, AFailedLoadLeavesItsInstanceInertAndNoCopyEverGoesToTheRootOfTheFileSystem) {
    // A library lacking one function is given up.
    install(SDRPLAY_STANDIN_PARTIAL, "3.15");
    {
        SDRPlayLib lib;
        lib.loadApi();
        EXPECT_FALSE(lib.loaded());
        EXPECT_TRUE(capture->contains("error|sdrplay failed to load functions"));
    }
    // A failed Open: not loaded, and its end closes nothing and prints nothing.
    install(SDRPLAY_STANDIN, "3.15");
    SDRPlayLib::restartProcessState(folder + "/lib");
    sdrplay::fail("Open", 1);
    {
        StdoutCapture out;
        {
            SDRPlayLib lib;
            lib.loadApi();
            EXPECT_FALSE(lib.loaded());
        }
        EXPECT_EQ(out.stop().find("closing sdrplay"), std::string::npos);
    }
    EXPECT_TRUE(capture->contains("info|sdrplay_api_Open Fail"));
    EXPECT_TRUE(sdrplay::calls("Close").empty());

    // A failed version query: the first stays usable, the later ones find no
    // folder and refuse rather than copy into "/".
    sdrplay::fail("Open", 0);
    sdrplay::fail("ApiVersion", 1);
    SDRPlayLib::restartProcessState(folder + "/lib");
    {
        SDRPlayLib first, second;
        first.loadApi();
        second.loadApi();
        EXPECT_TRUE(first.loaded());
        EXPECT_FALSE(second.loaded());
    }
    EXPECT_TRUE(capture->contains("error|sdrplay_api_ApiVersion failed Fail"));
    EXPECT_TRUE(capture->contains("error|sdrplay instance copy 2 refused: no version directory"));
    EXPECT_EQ(sdrplay::calls("Open").size(), 2u);

    // A root object not given its folder yet: the same.
    sdrplay::fail("ApiVersion", 0);
    root().setInitPath("");
    SDRPlayLib::restartProcessState(folder + "/lib");
    SDRPlayLib again, copy;
    again.loadApi();
    copy.loadApi();
    EXPECT_TRUE(again.loaded());
    EXPECT_FALSE(copy.loaded());
    EXPECT_TRUE(capture->contains("error|sdrplay instance copy 2 refused: no version directory"));
}
