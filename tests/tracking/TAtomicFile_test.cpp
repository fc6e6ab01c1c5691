#include "tracking/TAtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace orvane::tracking {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

int EntriesIn(const fs::path& folder) {
    return static_cast<int>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(TAtomicFile, CreatesANewFileWithTheUsualModeAndLeavesNothingElse) {
    TTempDir dir;
    const mode_t mask = ::umask(022);
    EXPECT_EQ(ReplaceFileContents(dir.File("history.csv"), "a;b\r\n"), 0);
    ::umask(mask);
    EXPECT_EQ(ReadBytes(dir.File("history.csv")), "a;b\r\n");
    EXPECT_EQ(ModeOf(dir.File("history.csv")), 0644u);
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
}

TEST(TAtomicFile, KeepsTheModeOfAnExistingFile) {
    TTempDir dir;
    for (unsigned mode : {0600u, 0640u, 0664u, 0400u}) {
        const std::string name = dir.File("m" + std::to_string(mode) + ".csv");
        WriteBytes(name, "old");
        ASSERT_EQ(::chmod(name.c_str(), mode), 0);
        EXPECT_EQ(ReplaceFileContents(name, "new"), 0) << mode;
        EXPECT_EQ(ReadBytes(name), "new");
        EXPECT_EQ(ModeOf(name), mode);
    }
}

TEST(TAtomicFile, WritesTheTargetOfALinkAndKeepsTheLink) {
    TTempDir dir;
    fs::create_directory(dir.File("real"));
    WriteBytes(dir.File("real/memory.csv"), "old");
    fs::create_symlink("real/memory.csv", dir.File("first.csv"));     // relative
    fs::create_symlink(dir.File("first.csv"), dir.File("second.csv"));  // absolute, a chain
    fs::create_symlink("real/new.csv", dir.File("dangling.csv"));
    EXPECT_EQ(ReplaceFileContents(dir.File("second.csv"), "through two links"), 0);
    EXPECT_TRUE(fs::is_symlink(dir.File("first.csv")));
    EXPECT_TRUE(fs::is_symlink(dir.File("second.csv")));
    EXPECT_EQ(ReadBytes(dir.File("real/memory.csv")), "through two links");
    EXPECT_EQ(ReplaceFileContents(dir.File("dangling.csv"), "created"), 0);
    EXPECT_TRUE(fs::is_symlink(dir.File("dangling.csv")));
    EXPECT_EQ(ReadBytes(dir.File("real/new.csv")), "created");
    EXPECT_EQ(EntriesIn(dir.File("real")), 2);
}

TEST(TAtomicFile, ALinkLoopIsRefused) {
    TTempDir dir;
    fs::create_symlink("b.csv", dir.File("a.csv"));
    fs::create_symlink("a.csv", dir.File("b.csv"));
    EXPECT_EQ(ReplaceFileContents(dir.File("a.csv"), "x"), ELOOP);
}

TEST(TAtomicFile, ANameOfTheLongestLengthWorks) {
    TTempDir dir;
    const std::string name = dir.File(std::string(251, 'x') + ".csv");  // 255 bytes
    EXPECT_EQ(ReplaceFileContents(name, "first"), 0);
    EXPECT_EQ(ReplaceFileContents(name, "second"), 0);
    EXPECT_EQ(ReadBytes(name), "second");
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
}

TEST(TAtomicFile, RefusesFoldersAndFifosWithoutBlocking) {
    TTempDir dir;
    fs::create_directory(dir.File("folder.csv"));
    ASSERT_EQ(::mkfifo(dir.File("fifo.csv").c_str(), 0600), 0);
    EXPECT_EQ(ReplaceFileContents(dir.File("folder.csv"), "x"), EISDIR);
    EXPECT_EQ(ReplaceFileContents(dir.File("fifo.csv"), "x"), EINVAL);
    EXPECT_EQ(EntriesIn(dir.Path()), 2);
}

/// Runs ReplaceFileContents as a user who may write `fileName` but not its folder: ourselves
/// with the folder made read-only, or (as root, who may write anywhere) user nobody in a folder
/// of root's. Returns the result, or -1 when the child could not run.
int ReplaceInAReadOnlyFolder(const TTempDir& dir, const std::string& fileName,
                             const std::string& bytes) {
    const bool root = ::geteuid() == 0;
    const uid_t nobody = 65534;
    if (root) {
        ::chmod(dir.Path().c_str(), 0755);
        if (::chown(fileName.c_str(), nobody, nobody) != 0) return -1;
    } else {
        ::chmod(dir.Path().c_str(), 0555);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (root && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(255);
        if (::access(dir.Path().c_str(), W_OK) == 0) ::_exit(254);  // the folder must refuse us
        ::_exit(ReplaceFileContents(fileName, bytes));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(dir.Path().c_str(), 0700);
    if (!WIFEXITED(status) || WEXITSTATUS(status) >= 254) return -1;
    return WEXITSTATUS(status);
}

TEST(TAtomicFile, WritesInPlaceWhereOnlyTheFileIsWritable) {
    TTempDir dir;
    const std::string name = dir.File("history.csv");
    WriteBytes(name, "an older and longer history");
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    ASSERT_EQ(ReplaceInAReadOnlyFolder(dir, name, "new"), 0);
    EXPECT_EQ(ReadBytes(name), "new");
    EXPECT_EQ(ModeOf(name), 0640u);
    EXPECT_EQ(EntriesIn(dir.Path()), 1);

    // In a sticky folder that we may write, another user's file that we may write.
    if (::geteuid() == 0) {
        test::TTempDir sticky;
        ASSERT_EQ(::chmod(sticky.Path().c_str(), 01777), 0);
        const std::string theirs = sticky.File("theirs.csv");
        WriteBytes(theirs, "old");
        ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
            ::_exit(ReplaceFileContents(theirs, "new"));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(ReadBytes(theirs), "new");
        EXPECT_EQ(EntriesIn(sticky.Path()), 1);
        ::chmod(sticky.Path().c_str(), 0700);
    }

    // Where the file is not writable either, nothing can be done.
    const std::string fresh = dir.File("fresh.csv");
    WriteBytes(fresh, "");
    ASSERT_EQ(::chmod(fresh.c_str(), 0444), 0);
    EXPECT_EQ(ReplaceInAReadOnlyFolder(dir, fresh, "x"), EACCES);
}

}  // namespace
}  // namespace orvane::tracking
