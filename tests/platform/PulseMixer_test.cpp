// The controls of a source on a private PulseAudio server: read the null sink monitor's volumes
// and mute, set them and see the server (asked through pactl, a client of its own) agree, the
// change report, and the errors of a missing source or server.
#include "platform/PulseMixer.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "support/PulseServer.h"

namespace orvane::platform {
namespace {

using test::Pactl;
using test::TPulseServer;

class PulseMixer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Server = std::make_unique<TPulseServer>(); }
    static void TearDownTestSuite() { Server.reset(); }
    void SetUp() override {
        if (!Server->Running()) GTEST_SKIP() << "no private PulseAudio server: " << Server->Error();
        Pactl("set-source-volume " + TPulseServer::MonitorName() + " 100%");
        Pactl("set-source-mute " + TPulseServer::MonitorName() + " 0");
    }
    static std::unique_ptr<TPulseServer> Server;
};
std::unique_ptr<TPulseServer> PulseMixer::Server;

TEST_F(PulseMixer, ReadsTheVolumePerChannelAndTheMuteOfTheMonitorSource) {
    TPulseMixer mixer(TPulseServer::MonitorName());
    const TPulseSourceControls controls = mixer.Read();
    EXPECT_EQ(controls.Name, TPulseServer::MonitorName());
    ASSERT_EQ(controls.Volumes.size(), 2U);
    EXPECT_EQ(controls.ChannelNames, (std::vector<std::string>{"front-left", "front-right"}));
    EXPECT_EQ(controls.Volumes[0], PulseVolumeNorm);
    EXPECT_EQ(controls.Volumes[1], PulseVolumeNorm);
    EXPECT_FALSE(controls.Mute);
    EXPECT_GT(controls.VolumeSteps, 1U);
}

TEST_F(PulseMixer, TheEmptyNameOpensTheServersDefaultSource) {
    TPulseMixer mixer("");
    EXPECT_EQ(mixer.Read().Name, TPulseServer::MonitorName());
}

TEST_F(PulseMixer, SetVolumesChangesEachChannelOnTheServer) {
    TPulseMixer mixer(TPulseServer::MonitorName());
    mixer.SetVolumes({PulseVolumeNorm / 4, PulseVolumeNorm / 2});
    const std::string listed = Pactl("get-source-volume " + TPulseServer::MonitorName());
    EXPECT_NE(listed.find("25%"), std::string::npos) << listed;
    EXPECT_NE(listed.find("50%"), std::string::npos) << listed;
    const TPulseSourceControls controls = mixer.Read();
    EXPECT_EQ(controls.Volumes, (std::vector<std::uint32_t>{PulseVolumeNorm / 4,
                                                             PulseVolumeNorm / 2}));
}

TEST_F(PulseMixer, SetMuteMutesAndUnmutesTheSourceOnTheServer) {
    TPulseMixer mixer(TPulseServer::MonitorName());
    mixer.SetMute(true);
    EXPECT_NE(Pactl("get-source-mute " + TPulseServer::MonitorName()).find("yes"),
              std::string::npos);
    EXPECT_TRUE(mixer.Read().Mute);
    mixer.SetMute(false);
    EXPECT_NE(Pactl("get-source-mute " + TPulseServer::MonitorName()).find("no"),
              std::string::npos);
}

TEST_F(PulseMixer, PollReportsAChangeMadeByAnotherClient) {
    TPulseMixer mixer(TPulseServer::MonitorName());
    EXPECT_FALSE(mixer.Poll());
    Pactl("set-source-volume " + TPulseServer::MonitorName() + " 30%");
    // Once pactl returns the server has applied the change; its report may still be on its way,
    // so a few polls with a bounded wait give it the time.
    bool changed = false;
    for (int attempt = 0; attempt < 100 && !changed; ++attempt) {
        changed = mixer.Poll();
        if (!changed) mixer.Read();  // a round trip lets the report arrive
    }
    EXPECT_TRUE(changed);
    EXPECT_FALSE(mixer.Poll());
}

TEST_F(PulseMixer, AWrongChannelCountIsRefusedWithTheServersText) {
    TPulseMixer mixer(TPulseServer::MonitorName());
    EXPECT_THROW(mixer.SetVolumes({}), EPulseError);
    try {
        mixer.SetVolumes({1, 2, 3});
        FAIL() << "three volumes for a stereo source were accepted";
    } catch (const EPulseError& error) {
        EXPECT_STRNE(error.what(), "");
    }
}

TEST_F(PulseMixer, AMissingSourceThrowsNoSuchEntity) {
    try {
        TPulseMixer mixer("no_such_source");
        FAIL() << "a missing source was opened";
    } catch (const EPulseError& error) {
        EXPECT_STREQ(error.what(), "No such entity");
    }
}

TEST(PulseMixerWithoutServer, AMissingServerThrowsAClearError) {
    const char* old = std::getenv("PULSE_SERVER");
    const std::string saved = old ? old : "";
    ::setenv("PULSE_SERVER", "unix:/nonexistent/orvane-no-server", 1);
    try {
        TPulseMixer mixer("");
        ADD_FAILURE() << "a mixer without a server was opened";
    } catch (const EPulseError& error) {
        EXPECT_STRNE(error.what(), "");
    }
    if (old) {
        ::setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        ::unsetenv("PULSE_SERVER");
    }
}

}  // namespace
}  // namespace orvane::platform
