#include "tracking/IRecognitionPause.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace orvane::tracking {
namespace {

TEST(TRecognitionPauseGuard, NestedGuardsKeepRecognitionPausedUntilTheOutermostEnds) {
    TCountingRecognitionPause pause;
    {
        TRecognitionPauseGuard outer(pause);
        EXPECT_TRUE(pause.Paused());
        {
            TRecognitionPauseGuard inner(pause);
            EXPECT_EQ(pause.PauseCount(), 2);
        }
        EXPECT_TRUE(pause.Paused());
        EXPECT_EQ(pause.PauseCount(), 1);
    }
    EXPECT_FALSE(pause.Paused());
}

TEST(TRecognitionPauseGuard, ResumesWhenLeftByAnException) {
    TCountingRecognitionPause pause;
    try {
        TRecognitionPauseGuard guard(pause);
        throw std::runtime_error("library change failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(pause.Paused());
}

TEST(TCountingRecognitionPause, TwoPausesNeedTwoResumes) {
    TCountingRecognitionPause pause;
    pause.PauseRecognition();
    pause.PauseRecognition();
    pause.ResumeRecognition();
    EXPECT_TRUE(pause.Paused());
    pause.ResumeRecognition();
    EXPECT_FALSE(pause.Paused());
}

TEST(TCountingRecognitionPause, CallsFromAnotherThreadChangeNothing) {
    TCountingRecognitionPause pause;
    pause.PauseRecognition();
    std::thread worker([&pause] {
        pause.PauseRecognition();
        pause.PauseRecognition();
        pause.ResumeRecognition();
        pause.ResumeRecognition();
        pause.ResumeRecognition();
    });
    worker.join();
    EXPECT_EQ(pause.PauseCount(), 1);
}

}  // namespace
}  // namespace orvane::tracking
