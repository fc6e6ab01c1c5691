#include "tracking/ReportFileError.h"

#include <cerrno>
#include <gtest/gtest.h>

#include "TrackingFakes.h"

namespace orvane::tracking {
namespace {

using test::TakeActivities;

struct TErrnoCase {
    int Code;
    const char* Reason;
};

TEST(ReportFileError, PostsTheReasonOfEachFileErrorAsAnErrorEntry) {
    const TErrnoCase cases[] = {
        {ENOENT, ": Path not found"},
        {ENOTDIR, ": Path not found"},
        {EMFILE, ": Too many open files"},
        {ENFILE, ": Too many open files"},
        {EACCES, ": Access was denied"},
        {EPERM, ": Access was denied"},
        {EROFS, ": Access was denied"},
        {ENOMEM, ": Insufficient memory"},
        {EBUSY, ": Please close all applications that are accessing this file"},
        {ETXTBSY, ": Please close all applications that are accessing this file"},
        {EINVAL, ""},
        {ENOSPC, ""},
        {EIO, ""},
    };
    test::TFakeClock clock;
    TQueuePoster queue;
    TPosting posting(queue, clock);
    for (const TErrnoCase& c : cases) {
        EXPECT_EQ(ReportFileError(posting, "/music/a b.wav", "wav file", c.Code, nullptr), c.Code);
        const auto entries = TakeActivities(queue);
        ASSERT_EQ(entries.size(), 1u) << c.Code;
        EXPECT_EQ(entries[0].Str,
                  std::string("Error accessing wav file \"/music/a b.wav\"") + c.Reason)
            << c.Code;
        EXPECT_EQ(entries[0].Icon, TActivityIcon::aiError);
        EXPECT_EQ(entries[0].DT, clock.Now());
    }
}

TEST(ReportFileError, LeavesOutWhatWhenNoKindOfFileIsNamed) {
    EXPECT_EQ(FileErrorText("/x/history.csv", "", ENOENT),
              "Error accessing \"/x/history.csv\": Path not found");
    EXPECT_EQ(FileErrorText("/x/s.mp3", "mp3 file", EACCES),
              "Error accessing mp3 file \"/x/s.mp3\": Access was denied");
}

TEST(ReportFileError, CodeZeroReportsNothing) {
    test::TFakeClock clock;
    TQueuePoster queue;
    TPosting posting(queue, clock);
    test::TRecordingAnswer answer;
    EXPECT_EQ(ReportFileError(posting, "/x/y.wav", "wav file", 0, nullptr), 0);
    EXPECT_EQ(ReportFileError(posting, "/x/y.wav", "wav file", 0, &answer), 0);
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_TRUE(answer.Answers.empty());
}

TEST(ReportFileError, GoesToTheAnswerChannelInsteadOfTheHistoryWhenOneIsGiven) {
    test::TFakeClock clock;
    TQueuePoster queue;
    TPosting posting(queue, clock);
    test::TRecordingAnswer answer;
    EXPECT_EQ(ReportFileError(posting, "/x/y.wav", "", EBUSY, &answer), EBUSY);
    EXPECT_EQ(queue.Count(), 0u);
    ASSERT_EQ(answer.Answers.size(), 1u);
    EXPECT_EQ(answer.Answers[0],
              "Error accessing \"/x/y.wav\": Please close all applications that are accessing "
              "this file");
}

}  // namespace
}  // namespace orvane::tracking
