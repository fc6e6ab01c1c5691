#include "tracking/Replace.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/Errors.h"

extern char** environ;

namespace orvane::tracking {
namespace {

TEST(Replace, ExpandsEveryPairInOrderIgnoringCase) {
    EXPECT_EQ(Replace("%TITLE on %Channel at %channel", {"%title", "Song", "%channel", "Ch01"}),
              "Song on Ch01 at Ch01");
}

TEST(Replace, ExpandsALaterPlaceholderInsideAnEarlierValueAgain) {
    const std::string result =
        Replace("%channel: %title", {"%title", "Live at %channel", "%channel", "Channel01"});
    EXPECT_EQ(result, "Channel01: Live at Channel01");
}

TEST(Replace, DoesNotExpandAValueByItsOwnName) {
    EXPECT_EQ(Replace("%a-%a", {"%a", "%a%a"}), "%a%a-%a%a");
}

TEST(Replace, QuotingEscapesAValueForTheQuotesAroundItsPlaceholder) {
    const std::string_view value = R"(it's "on" \)";
    EXPECT_EQ(Replace(R"(run "%title")", {"%title", value}, true), R"(run "it's \"on\" \\")");
    EXPECT_EQ(Replace(R"(run '%title')", {"%title", value}, true), R"(run 'it'\''s "on" '\\'')");
    EXPECT_EQ(Replace(R"(run %title)", {"%title", value}, true), R"(run 'it'\''s "on" '\\'')");
    EXPECT_EQ(Replace(R"(run %title)", {"%title", value}, false), R"(run it's "on" \)");
}

TEST(Replace, QuotingNeverExpandsAValueAgain) {
    EXPECT_EQ(Replace(R"(run "%title" %channel)", {"%title", "at %channel", "%channel", "C"}, true),
              R"(run "at %channel" 'C')");
}

TEST(Replace, QuotingLeavesAnAddressLineAndTheProgramWordAsTheyAre) {
    EXPECT_EQ(Replace("http://example.com/?t=%title", {"%title", "a 'b'"}, true),
              "http://example.com/?t=a 'b'");
    EXPECT_EQ(Replace("/opt/%title/run %title", {"%title", "x"}, true), "/opt/x/run 'x'");
}

TEST(Replace, RefusesAnOddNumberOfValues) {
    try {
        Replace("%title", {"%title", "a", "%channel"});
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Replace(): Argument count must be even.");
    }
}

TEST(Replace, AcceptsOwnedStringsAndLeavesUnknownTextAlone) {
    const std::vector<std::string> values{"%date", "2024-03-06", "", "ignored"};
    EXPECT_EQ(Replace("%date %time 100%", values), "2024-03-06 %time 100%");
    EXPECT_EQ(Replace("", values), "");
}

/// The arguments a POSIX shell makes of `parameters`: `sh -c "set -- <parameters>; ..."`
/// prints each of them followed by a zero byte.
std::vector<std::string> ShellWords(const std::string& parameters) {
    const std::string script =
        "set --" + parameters + "\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done";
    int out[2];
    if (::pipe(out) != 0) return {"pipe failed"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string shell = "/bin/sh";
    std::string dashC = "-c";
    std::string scriptArg = script;
    std::vector<char*> argv{const_cast<char*>(shell.c_str()), dashC.data(), scriptArg.data(),
                            nullptr};
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, shell.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof(buffer))) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    if (spawned != 0) return {"spawn failed"};
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        words.push_back(text.substr(start, end - start));
    }
    return words;
}

TEST(Replace, HostileValuesReachTheShellAsExactlyTheirTextInTheirWord) {
    const std::vector<std::string> values{
        R"(x\" -o pwned.txt \")",
        R"(Song\)",
        R"(\')",
        R"(\")",
        R"(it's "both" kinds)",
        "'",
        "\"",
        R"(\\)",
        "$(touch pwned)",
        "`touch pwned`",
        "$HOME ${HOME}",
        "a;b",
        "a&b",
        "a|b",
        "line one\nline two",
        "-o pwned.txt",
        "  two  spaces  ",
        "Motörhead – Ünïcødé ♪",
        "",
        "%channel",
        "* ? [a] ~ # !",
        "'\"\\'\"\\",
    };
    struct TTemplate {
        std::string Format;
        std::vector<std::string> (*Expected)(const std::string& value);
    };
    const std::vector<TTemplate> templates{
        {R"(prog "%title")", [](const std::string& v) { return std::vector{v}; }},
        {R"(prog '%title')", [](const std::string& v) { return std::vector{v}; }},
        {R"(prog %title)", [](const std::string& v) { return std::vector{v}; }},
        {R"(prog -s "http://example.com/log?t=%title")",
         [](const std::string& v) { return std::vector<std::string>{"-s", "http://example.com/log?t=" + v}; }},
        {R"(prog x%title"y"'z' "%channel")",
         [](const std::string& v) { return std::vector<std::string>{"x" + v + "yz", "Chan 'one'"}; }},
        {R"(prog "a\%title" 'b\%title' "\"%title\"")",
         [](const std::string& v) {
             return std::vector<std::string>{"a\\" + v, "b\\" + v, "\"" + v + "\""};
         }},
        {R"(prog \%title %title)",
         [](const std::string& v) { return std::vector<std::string>{"%title", v}; }},
    };
    for (const TTemplate& t : templates) {
        for (const std::string& value : values) {
            const std::string line =
                Replace(t.Format, {"%title", value, "%channel", "Chan 'one'"}, true);
            ASSERT_EQ(line.substr(0, 5), "prog ");
            EXPECT_EQ(ShellWords(line.substr(4)), t.Expected(value))
                << "template " << t.Format << "\nvalue " << value << "\nline " << line;
        }
    }
}

}  // namespace
}  // namespace orvane::tracking
