#include "app/TEvents.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "SettingsTestUtil.h"
#include "base/Errors.h"
#include "support/TempDir.h"
#include "tracking/Replace.h"
#include "tracking/TEventServe.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"

namespace orvane::app {
namespace {

using orvane::test::TTempDir;
using test::TempLocation;
using test::WaitForLines;
using tracking::TEvent;
using tracking::TEventData;
using tracking::TEventServe;

/// Records the command lines it is asked to start.
class TRecordingRunner final : public tracking::IEventRunner {
public:
    void exec(const std::string& commandLine, bool hidden) override {
        Started.push_back({commandLine, hidden});
    }
    std::vector<std::pair<std::string, bool>> Started;
};

std::vector<std::string> ActivityTexts(tracking::TQueuePoster& queue) {
    std::vector<std::string> texts;
    for (auto& message : queue.TakeAll()) {
        if (auto* entry = std::get_if<tracking::TActivityData>(&message)) {
            EXPECT_EQ(entry->Icon, tracking::TActivityIcon::aiError);
            texts.push_back(entry->Str);
        }
    }
    return texts;
}

std::vector<std::int32_t> Ranks(const TEventServe& table) {
    std::vector<std::int32_t> ranks;
    for (const TEvent& event : table.Events()) ranks.push_back(event.Data.Priority);
    return ranks;
}

TEST(TEventServe, ASavedTableLoadsBackTheSameAndTheStoreHoldsNothingElse) {
    TTempDir dir;
    TEventReg reg(TempLocation(dir));
    reg.add("Stale", TEventData{0, "old", false, 0});

    TEventServe table;
    table.addevent("Log start", TEventData{0, "sh -c 'echo \"%title\"'", true, 2});
    table.addevent("Expired", TEventData{2, "notify %channel", false, 0});
    table.addevent("Duplicate", TEventData{6, "http://example.org/?t=%title", true, 1});
    table.savetoreg(reg);

    EXPECT_EQ(reg.getList(), (std::vector<std::string>{"Duplicate", "Expired", "Log start"}));
    TEventServe loaded;
    loaded.getfromreg(reg);
    ASSERT_EQ(loaded.NoEvents(), 3);
    // The store lists names in its own (sorted) order; each definition comes back whole.
    for (const TEvent& event : table.Events()) {
        bool found = false;
        for (const TEvent& back : loaded.Events()) {
            if (back.Name == event.Name) {
                EXPECT_EQ(back, event);
                found = true;
            }
        }
        EXPECT_TRUE(found) << event.Name;
    }
    QSettings raw(QString::fromStdString(dir.File("OrvanePro3.conf")), QSettings::IniFormat);
    raw.beginGroup(QStringLiteral("Events"));
    EXPECT_EQ(raw.childGroups().size(), 3);
    EXPECT_EQ(raw.value(QStringLiteral("Expired/Event")).toString(), QStringLiteral("2"));
    EXPECT_EQ(raw.value(QStringLiteral("Log start/Hidden")).toString(), QStringLiteral("1"));
}

TEST(TEventServe, DeletingRankOneOfThreeClosesTheGap) {
    TEventServe table;
    table.addevent("a", TEventData{0, "a", false, 2});
    table.addevent("b", TEventData{0, "b", false, 1});
    table.addevent("c", TEventData{0, "c", false, 0});
    table.delevent(1);
    ASSERT_EQ(table.NoEvents(), 2);
    EXPECT_EQ(table.Event(0).Name, "a");
    EXPECT_EQ(table.Event(1).Name, "c");
    EXPECT_EQ(Ranks(table), (std::vector<std::int32_t>{1, 0}));
    EXPECT_THROW(table.delevent(2), EInvalidOperation);
}

TEST(TEventServe, TheListShowsSlotsInRankOrderAndMovesSwapRanks) {
    TEventServe table;
    table.addevent("a", TEventData{0, "", false, 2});
    table.addevent("b", TEventData{0, "", false, 0});
    table.addevent("c", TEventData{0, "", false, 1});
    EXPECT_EQ(table.RankOrder(), (std::vector<std::int32_t>{1, 2, 0}));
    table.SwapPriority(1, 2);  // "c" moves up past "b"
    EXPECT_EQ(table.RankOrder(), (std::vector<std::int32_t>{2, 1, 0}));
    EXPECT_THROW(table.SwapPriority(0, 3), EInvalidOperation);
}

TEST(TEventServe, RanksOutOfRangeAreNotListedAndSharedRanksListEverySlot) {
    TEventServe table;
    table.addevent("a", TEventData{0, "", false, 0});
    table.addevent("b", TEventData{0, "", false, 7});
    table.addevent("c", TEventData{0, "", false, 0});
    EXPECT_EQ(table.RankOrder(), (std::vector<std::int32_t>{0, 2}));
}

TEST(TEventServe, AHundredAndFirstDefinitionIsRefused) {
    TEventServe table;
    for (int i = 0; i < TEventServe::MaxEvents; ++i) {
        table.addevent("e" + std::to_string(i), TEventData{0, "", false, i});
    }
    EXPECT_THROW(
        {
            try {
                table.addevent("one too many", TEventData{});
            } catch (const EInvalidOperation& error) {
                EXPECT_STREQ(error.what(), "No more than 100 events can be defined.");
                throw;
            }
        },
        EInvalidOperation);
    EXPECT_EQ(table.NoEvents(), 100);
}

TEST(TEventReg, AStoreOfMoreThanAHundredLoadsTheFirstHundredAndSaysSo) {
    TTempDir dir;
    TEventReg reg(TempLocation(dir));
    for (int i = 0; i < 101; ++i) {
        reg.add("e" + std::to_string(1000 + i), TEventData{0, "", false, i});
    }
    TEventServe table;
    EXPECT_THROW(table.getfromreg(reg), EInvalidOperation);
    EXPECT_EQ(table.NoEvents(), 100);
}

struct TBadDefinition {
    const char* Line;  // replaces the line of the same key in definition "B", or is added
    const char* Message;
    std::int32_t Loaded;  // definitions loaded before the error
};

class TEventRegBadDefinition : public ::testing::TestWithParam<TBadDefinition> {};

TEST_P(TEventRegBadDefinition, StopsTheLoadWithAnErrorNamingTheValue) {
    TTempDir dir;
    std::vector<std::string> lines{"A%20first\\Event=0", "A%20first\\Command=x",
                                   "A%20first\\Hidden=0", "A%20first\\Priority=0",
                                   "B\\Event=0",          "B\\Command=y",
                                   "B\\Hidden=0",         "B\\Priority=1"};
    const std::string line = GetParam().Line;
    const std::string key = line.substr(0, line.find('=') + 1);
    bool replaced = false;
    for (std::string& existing : lines) {
        if (existing.rfind(key, 0) == 0) {
            existing = line;
            replaced = true;
        }
    }
    if (!replaced) lines.push_back(line);
    std::string text = "[Events]\n";
    for (const std::string& l : lines) text += l + "\n";
    orvane::test::WriteBytes(dir.File("OrvanePro3.conf"), text);

    TEventReg reg(TempLocation(dir));
    TEventServe table;
    try {
        table.getfromreg(reg);
        FAIL() << "no error";
    } catch (const EError& error) {
        EXPECT_STREQ(error.what(), GetParam().Message);
    }
    ASSERT_EQ(table.NoEvents(), GetParam().Loaded);
    EXPECT_EQ(table.Event(0).Name, "A first");
}

INSTANTIATE_TEST_SUITE_P(
    Values, TEventRegBadDefinition,
    ::testing::Values(
        TBadDefinition{"B\\Event=start", "Event \"B\": the value \"Event\" is not a whole number.",
                       1},
        TBadDefinition{"B\\Event=256", "Event \"B\": the value \"Event\" is out of range.", 1},
        TBadDefinition{"B\\Priority=", "Event \"B\": the value \"Priority\" is not a whole number.",
                       1},
        TBadDefinition{"B\\Command=@Point(1 2)", "Event \"B\": the value \"Command\" is not a text.",
                       1},
        TBadDefinition{"C\\Command=z", "Event \"C\": the value \"Event\" is missing.", 2}));

TEST(TEventReg, NamesThatWouldSplitIntoGroupsAreRefused) {
    TTempDir dir;
    TEventReg reg(TempLocation(dir));
    for (const char* name : {"", "a/b", "a\\b"}) {
        EXPECT_THROW(reg.add(name, TEventData{}), EInvalidOperation) << name;
    }
    reg.add("Odd name: %title & 'quotes'", TEventData{3, "c", true, 0});
    EXPECT_EQ(reg.getList(), std::vector<std::string>{"Odd name: %title & 'quotes'"});
}

TEST(TEventServe, TriggerRunsTheDefinitionsOfTheKindInRankOrderWithQuotedPlaceholders) {
    TRecordingRunner runner;
    TEventServe table(&runner);
    table.addevent("second", TEventData{0, "b %title", false, 2});
    table.addevent("other kind", TEventData{2, "x %channel", false, 0});
    table.addevent("first", TEventData{0, "a \"%title\" on %CHANNEL", true, 1});
    table.addevent("third", TEventData{0, "c %position", false, 3});
    const std::vector<std::string> pairs{"%title",   "Don't \"Stop\"", "%position", "1:05",
                                         "%channel", "Channel01"};

    table.TriggerEvent(0, pairs);
    EXPECT_TRUE(runner.Started.empty()) << "events are off";

    table.SetEnabled(true);
    table.TriggerEvent(0, pairs);
    const std::vector<std::pair<std::string, bool>> expected{
        {R"(a "Don't \"Stop\"" on 'Channel01')", true},
        {R"(b 'Don'\''t "Stop"')", false},
        {"c '1:05'", false}};
    EXPECT_EQ(runner.Started, expected);

    runner.Started.clear();
    table.TriggerEvent(6, {"%date", "d"});
    table.TriggerEvent(0, {"%title"});  // an odd list runs nothing
    EXPECT_TRUE(runner.Started.empty());
}

TEST(TExecCommand, SplitsAtTheFirstBlankUnlessTheLineIsAnAddress) {
    struct TCase {
        const char* Line;
        const char* Program;
        const char* Parameters;
    };
    for (const TCase& c : {TCase{"/usr/bin/prog arg", "/usr/bin/prog", " arg"},
                           TCase{"prog  two  blanks", "prog", "  two  blanks"},
                           TCase{"prog", "prog", ""},
                           TCase{"http://example.org/a b", "http://example.org/a b", ""},
                           TCase{"https://example.org/a b", "https://example.org/a", " b"},
                           TCase{"HTTP://x y", "HTTP://x", " y"},
                           TCase{"", "", ""}}) {
        const TExecCommand command = SplitExecCommand(c.Line);
        EXPECT_EQ(command.Program, c.Program) << c.Line;
        EXPECT_EQ(command.Parameters, c.Parameters) << c.Line;
    }
}

TEST(TExecCommand, ParametersSplitIntoWordsLikeAShell) {
    struct TCase {
        const char* Parameters;
        std::vector<std::string> Words;
    };
    const std::vector<TCase> cases{
        {" -c 'echo \"a b\" >> f'", {"-c", "echo \"a b\" >> f"}},
        {" 'Don\\'t'", {"Don't"}},
        {" \"say \\\"hi\\\" \\\\ \\$x\"", {"say \"hi\" \\ $x"}},
        {" \"keep \\' and \\n\"", {"keep ' and \\n"}},
        {" 'a \\\"b\\\" \\\\ \\$'", {"a \"b\" \\\\ \\$"}},
        {" a\\ b c", {"a b", "c"}},
        {" ''", {""}},
        {" 'open", {"open"}},
        {" trailing\\", {"trailing\\"}},
        {"   ", {}},
        {" x'y'\"z\"", {"xyz"}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(SplitParameters(c.Parameters), c.Words) << c.Parameters;
    }
}

TEST(TExecCommand, HostileValuesComeOutOfTheSplitAsExactlyTheirTextInTheirWord) {
    const std::vector<std::string> values{
        R"(x\" -o pwned.txt \")", R"(Song\)", R"(\')", R"(\")", R"(it's "both")", "'", "\"",
        R"(\\)", "$(touch pwned)", "`id`", "a;b&c|d", "line one\nline two", "-o pwned.txt",
        "  two  spaces ", "Motörhead – Ünïcødé", "", "%channel"};
    for (const std::string& v : values) {
        const std::string line = tracking::Replace(
            R"(curl -s "http://example.com/log?t=%title" '%title' %title x%title"y" "\%title")",
            {"%title", v, "%channel", "C"}, true);
        const TExecCommand command = SplitExecCommand(line);
        EXPECT_EQ(command.Program, "curl");
        const std::vector<std::string> expected{"-s", "http://example.com/log?t=" + v, v, v,
                                                "x" + v + "y", "\\" + v};
        EXPECT_EQ(SplitParameters(command.Parameters), expected) << "value " << v;
    }
}

class TEventRunnerTest : public ::testing::Test {
protected:
    TTempDir Dir;
    tracking::TQueuePoster Queue;
    tracking::TSystemClock Clock;
    tracking::TPosting Posting{Queue, Clock};
    TEventRunner Runner{Posting};
};

TEST_F(TEventRunnerTest, TriggeredCommandsRunWithTheirExpandedQuotedPlaceholders) {
    const std::string out = Dir.File("heard.txt");
    TEventServe table(&Runner);
    table.SetEnabled(true);
    // The values reach the script as arguments, so nothing in a title is run by the shell.
    table.addevent("log", TEventData{0,
                                     "sh -c 'echo \"$1|$2\" >> " + out +
                                         "' sh \"%title\" '%channel'",
                                     true, 0});
    table.TriggerEvent(0, {"%title", "Don't \"Stop\" $(echo bad) `x`", "%channel", "Chan'nel"});
    EXPECT_EQ(WaitForLines(out, 1), "Don't \"Stop\" $(echo bad) `x`|Chan'nel\n");
    EXPECT_TRUE(ActivityTexts(Queue).empty());
}

TEST_F(TEventRunnerTest, AProgramThatCannotBeStartedLeavesAnErrorEntry) {
    Runner.exec("/no/such/program --flag", false);
    Runner.exec("no-such-program-anywhere", true);
    orvane::test::WriteBytes(Dir.File("not-executable"), "#!/bin/sh\n");
    Runner.exec(Dir.File("not-executable") + " x", false);
    EXPECT_EQ(ActivityTexts(Queue),
              (std::vector<std::string>{"Error executing \"/no/such/program\"",
                                        "Error executing \"no-such-program-anywhere\"",
                                        "Error executing \"" + Dir.File("not-executable") +
                                            "\""}));
}

TEST_F(TEventRunnerTest, AddressesAndDocumentsGoWholeToTheOpener) {
    const std::string out = Dir.File("opened.txt");
    const std::string opener = Dir.File("opener.sh");
    orvane::test::WriteBytes(opener, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " + out + "\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    Runner.Opener = QString::fromStdString(opener);

    Runner.exec("http://example.org/a b", true);
    EXPECT_EQ(WaitForLines(out, 1), "http://example.org/a b\n");
    orvane::test::WriteBytes(Dir.File("doc.txt"), "x");
    Runner.exec(Dir.File("doc.txt"), true);
    EXPECT_EQ(WaitForLines(out, 2), "http://example.org/a b\n" + Dir.File("doc.txt") + "\n");
    EXPECT_TRUE(ActivityTexts(Queue).empty());
}

TEST_F(TEventRunnerTest, AMissingOpenerIsReportedWithTheAddress) {
    Runner.Opener = QStringLiteral("/no/such/opener");
    Runner.exec("http://example.org/", false);
    EXPECT_EQ(ActivityTexts(Queue),
              std::vector<std::string>{"Error executing \"http://example.org/\""});
}

}  // namespace
}  // namespace orvane::app
