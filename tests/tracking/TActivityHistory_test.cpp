#include "tracking/TActivityHistory.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "TrackingFakes.h"
#include "base/Errors.h"
#include "support/TempDir.h"

namespace orvane::tracking {

void PrintTo(const TMemoRow& row, std::ostream* os) {
    *os << "{" << static_cast<int>(row.Icon) << ", \"" << row.Caption << "\", \"" << row.Message
        << "\", " << row.Seconds << "}";
}

namespace {

using test::At;
using test::TakeActivities;

class TActivityHistoryTest : public ::testing::Test {
protected:
    // The main window was created at 14:00:00.600; the history counts from 14:00:00.
    TActivityHistoryTest() { FClock.SetNow(At(2024, 3, 6, 14, 0, 0, 600)); }
    static TDateTime WindowCreated() { return At(2024, 3, 6, 14, 0, 0, 600); }

    std::vector<std::string> FolderNames() const {
        std::vector<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(FDir.Path())) {
            names.push_back(item.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TFakeClock FClock;
    TQueuePoster FQueue;
    TPosting FPosting{FQueue, FClock};
    TActivityHistory FHistory{WindowCreated(), FPosting};
    orvane::test::TTempDir FDir;
};

TEST_F(TActivityHistoryTest, TheThousandAndFirstEntryPushesOutTheFirst) {
    for (int i = 1; i <= 1001; ++i) {
        FHistory.Add({FClock.Now(), "entry " + std::to_string(i), TActivityIcon::aiInformation});
        EXPECT_LE(FHistory.Count(), TActivityHistory::MaxRows);
    }
    const auto rows = FHistory.Rows();
    ASSERT_EQ(rows.size(), 1000u);
    EXPECT_EQ(rows.front().Message, "entry 2");
    EXPECT_EQ(rows.back().Message, "entry 1001");
}

TEST_F(TActivityHistoryTest, ARowCarriesIconTimeTextMessageAndSecondsSinceStart) {
    EXPECT_EQ(FHistory.StartTime(), At(2024, 3, 6, 14, 0, 0));
    FHistory.Add({At(2024, 3, 6, 14, 0, 5), "Loaded", TActivityIcon::aiInformation});
    FHistory.Add({At(2024, 3, 6, 15, 0, 0, 999), "Hour", TActivityIcon::aiAttention});
    FHistory.Add({At(2024, 3, 6, 13, 59, 0), "Clip", TActivityIcon::aiArrow});
    FHistory.Add({At(2024, 3, 6, 14, 0, 0, 400), "Start", TActivityIcon::aiError});
    const std::vector<TMemoRow> expected = {
        {TActivityIcon::aiInformation, "2024-03-06 14:00:05", "Loaded", 5},
        {TActivityIcon::aiAttention, "2024-03-06 15:00:00", "Hour", 3600},
        {TActivityIcon::aiArrow, "2024-03-06 13:59:00", "Clip", -60},
        {TActivityIcon::aiError, "2024-03-06 14:00:00", "Start", 0},
    };
    EXPECT_EQ(FHistory.Rows(), expected);
}

TEST_F(TActivityHistoryTest, AnEntryPostedWithoutTimeShowsWhenItWasPostedAndALogLineItsClipStart) {
    FClock.SetNow(At(2024, 3, 6, 14, 10, 0));
    FPosting.PostActivity("Fingerprint saved", TActivityIcon::aiInformation);
    FPosting.PostActivity("Ch 1: Song [14:05:00 - 14:09:00] (4:00)", TActivityIcon::aiArrow,
                          At(2024, 3, 6, 14, 5, 0));
    for (const auto& entry : TakeActivities(FQueue)) {
        FHistory.Add(entry);
    }
    const auto rows = FHistory.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Caption, "2024-03-06 14:10:00");
    EXPECT_EQ(rows[0].Seconds, 600);
    EXPECT_EQ(rows[1].Caption, "2024-03-06 14:05:00");
    EXPECT_EQ(rows[1].Seconds, 300);
}

TEST_F(TActivityHistoryTest, ClearRemovesEveryRow) {
    FHistory.Add({FClock.Now(), "a", TActivityIcon::aiInformation});
    FHistory.Clear();
    EXPECT_EQ(FHistory.Count(), 0u);
}

TEST(MemoCompare, OrdersBySecondsThenIconThenMessageCodeUnits) {
    using enum TActivityIcon;
    struct TCase {
        TMemoRow A;
        TMemoRow B;
        int Order;
    };
    const TCase cases[] = {
        {{aiError, "", "b", 1}, {aiInformation, "", "a", 2}, -1},  // seconds decide first
        {{aiArrow, "", "a", 5}, {aiError, "", "z", 5}, 1},         // then the icon index
        {{TActivityIcon{0}, "", "a", 5}, {aiInformation, "", "a", 5}, -1},
        {{aiError, "", "B", 5}, {aiError, "", "a", 5}, -1},  // case-sensitive, ordinal
        {{aiError, "", "ab", 5}, {aiError, "", "abc", 5}, -1},
        {{aiError, "x", "same", 5}, {aiError, "y", "same", 5}, 0},  // the caption plays no part
        {{aiError, "", "-5", -5}, {aiError, "", "-5", -4}, -1},
        // U+1F600 is a surrogate pair (D83D DE00) and so comes before U+FF21, although its
        // UTF-8 bytes (F0 ...) come after those of U+FF21 (EF ...).
        {{aiError, "", "\xF0\x9F\x98\x80", 5}, {aiError, "", "\xEF\xBC\xA1", 5}, -1},
        // A malformed byte compares as U+FFFD.
        {{aiError, "", "\xFF", 5}, {aiError, "", "\xEF\xBF\xBD", 5}, 0},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(MemoCompare(c.A, c.B), c.Order) << c.A.Message << " / " << c.B.Message;
        EXPECT_EQ(MemoCompare(c.B, c.A), -c.Order) << c.A.Message << " / " << c.B.Message;
    }
}

TEST_F(TActivityHistoryTest, ExportsOneTaggedLinePerRowTopToBottom) {
    FHistory.Add({At(2024, 3, 6, 14, 0, 1), "Welcome", TActivityIcon::aiInformation});
    FHistory.Add({At(2024, 3, 6, 14, 0, 2), "Duplicate disabled", TActivityIcon::aiAttention});
    FHistory.Add({At(2024, 3, 6, 14, 0, 3), "Error accessing \"x\"", TActivityIcon::aiError});
    FHistory.Add({At(2024, 3, 6, 13, 0, 0), "Ch 1: S\xC3\xA9 [13:00:00 - 13:03:07] (3:07)",
                  TActivityIcon::aiArrow});
    FHistory.Add({At(2024, 3, 6, 14, 0, 4), "odd; one", TActivityIcon{0}});
    const std::string file = FDir.File("history.csv");
    ASSERT_TRUE(FHistory.SaveHistoryAs(file));
    EXPECT_EQ(orvane::test::ReadBytes(file),
              "[INFORMATION];2024-03-06 14:00:01;Welcome\r\n"
              "[ATTENTION];2024-03-06 14:00:02;Duplicate disabled\r\n"
              "[ERROR];2024-03-06 14:00:03;Error accessing \"x\"\r\n"
              "[ARROW];2024-03-06 13:00:00;Ch 1: S\xC3\xA9 [13:00:00 - 13:03:07] (3:07)\r\n"
              "[];2024-03-06 14:00:04;odd; one\r\n");
    EXPECT_EQ(FQueue.Count(), 0u);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"history.csv"});
}

TEST_F(TActivityHistoryTest, AnEmptyHistoryExportsAnEmptyFile) {
    const std::string file = FDir.File("history.csv");
    ASSERT_TRUE(FHistory.SaveHistoryAs(file));
    EXPECT_EQ(orvane::test::ReadBytes(file), "");
}

TEST_F(TActivityHistoryTest, ExportReplacesAnOlderFileWhole) {
    const std::string file = FDir.File("history.csv");
    orvane::test::WriteBytes(file, std::string(5000, 'x'));
    FHistory.Add({At(2024, 3, 6, 14, 0, 1), "Welcome", TActivityIcon::aiInformation});
    ASSERT_TRUE(FHistory.SaveHistoryAs(file));
    EXPECT_EQ(orvane::test::ReadBytes(file), "[INFORMATION];2024-03-06 14:00:01;Welcome\r\n");
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"history.csv"});
}

TEST_F(TActivityHistoryTest, ExportingIntoAMissingFolderReportsPathNotFoundAndWritesNothing) {
    FHistory.Add({At(2024, 3, 6, 14, 0, 1), "Welcome", TActivityIcon::aiInformation});
    orvane::test::WriteBytes(FDir.File("plain"), "not a folder");
    const std::string files[] = {FDir.File("missing/history.csv"), FDir.File("plain/history.csv")};
    for (const std::string& file : files) {
        EXPECT_FALSE(FHistory.SaveHistoryAs(file));
        const auto entries = TakeActivities(FQueue);
        ASSERT_EQ(entries.size(), 1u) << file;
        EXPECT_EQ(entries[0].Str, "Error accessing \"" + file + "\": Path not found");
        EXPECT_EQ(entries[0].Icon, TActivityIcon::aiError);
    }
    EXPECT_FALSE(FHistory.SaveListingAs(files[0], {}));
    EXPECT_EQ(TakeActivities(FQueue).size(), 1u);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"plain"});
}

TEST_F(TActivityHistoryTest, ExportingOntoAFolderReportsTheFailureAndLeavesNoTemporaryFile) {
    std::filesystem::create_directory(FDir.Path() / "history.csv");
    EXPECT_FALSE(FHistory.SaveHistoryAs(FDir.File("history.csv")));
    const auto entries = TakeActivities(FQueue);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str, "Error accessing \"" + FDir.File("history.csv") + "\"");
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"history.csv"});
}

TEST_F(TActivityHistoryTest, AWriteErrorEndsTheExportWithTheSystemMessageAndLeavesNothing) {
    for (int i = 0; i < 100; ++i) {
        FHistory.Add(
            {FClock.Now(), "a line long enough to pass the limit", TActivityIcon::aiArrow});
    }
    const std::string file = FDir.File("history.csv");
    // A file size limit makes write() fail with EFBIG once the limit is reached.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    int code = 0;
    try {
        FHistory.SaveHistoryAs(file);
    } catch (const EFileError& e) {
        message = e.what();
        code = e.ErrorCode;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(code, EFBIG);
    EXPECT_EQ(message, "Error writing \"" + file + "\": " + std::strerror(EFBIG));
    EXPECT_TRUE(FolderNames().empty());
    EXPECT_EQ(FQueue.Count(), 0u);
    // The activity lock was released: the next export runs.
    EXPECT_TRUE(FHistory.SaveHistoryAs(file));
}

TEST_F(TActivityHistoryTest, ExportsTheMemoryListingWithTagsPathsAndLengths) {
    const std::vector<TListingRow> rows = {
        {0, "Song A", "/fp/Song A.qnf", "3:07"},  {1, "Song B", "/fp/Song B.qnf", "0:42"},
        {6, "Song C", "/fp/Song C.qnf", "61:40"}, {7, "Song D", "/fp/Song D.qnf", "0:00"},
        {3, "Song E", "/fp/Song E.qnf", "1:00"},
    };
    const std::string file = FDir.File("memory.csv");
    ASSERT_TRUE(FHistory.SaveListingAs(file, rows));
    EXPECT_EQ(orvane::test::ReadBytes(file),
              "Sound clips (5)\r\n"
              "[ENABLED];Song A;/fp/Song A.qnf;00:3:07\r\n"
              "[DISABLED];Song B;/fp/Song B.qnf;00:0:42\r\n"
              "[ENABLED,X];Song C;/fp/Song C.qnf;00:61:40\r\n"
              "[DISABLED,X];Song D;/fp/Song D.qnf;00:0:00\r\n"
              ";Song E;/fp/Song E.qnf;00:1:00\r\n");
}

TEST(TActivityHistory, AnEmptySongListExportsOnlyTheCount) {
    EXPECT_EQ(TActivityHistory::ListingText({}), "Sound clips (0)\r\n");
}

TEST(ActivityTag, NamesEachIconKindAndLeavesOthersEmpty) {
    EXPECT_EQ(ActivityTag(TActivityIcon::aiInformation), "[INFORMATION]");
    EXPECT_EQ(ActivityTag(TActivityIcon::aiAttention), "[ATTENTION]");
    EXPECT_EQ(ActivityTag(TActivityIcon::aiError), "[ERROR]");
    EXPECT_EQ(ActivityTag(TActivityIcon::aiArrow), "[ARROW]");
    EXPECT_EQ(ActivityTag(TActivityIcon{-1}), "[]");
    EXPECT_EQ(ActivityTag(TActivityIcon{6}), "[]");
}

}  // namespace
}  // namespace orvane::tracking
