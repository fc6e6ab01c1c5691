#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/uMainForm.h"
#include "support/TempDir.h"

namespace orvane::app {
namespace {

namespace fs = std::filesystem;

/// XDG_DATA_HOME pointed at a folder of the test while it runs, so the user's trash is untouched.
class TDataHome {
public:
    explicit TDataHome(const std::string& folder) {
        if (const char* old = std::getenv("XDG_DATA_HOME")) FOld = old, FHadOld = true;
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    }
    ~TDataHome() {
        if (FHadOld) {
            ::setenv("XDG_DATA_HOME", FOld.c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }

private:
    std::string FOld;
    bool FHadOld = false;
};

TEST(MoveFileToTrash, MovesAFileIntoTheUsersTrashWithItsRecord) {
    test::TTempDir dir;
    fs::create_directory(dir.File("data"));
    const TDataHome home(dir.File("data"));
    const std::string wav = dir.File("Song.wav");
    test::WriteBytes(wav, "RIFF");
    ASSERT_TRUE(MoveFileToTrash(wav));
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_EQ(test::ReadBytes(dir.File("data/Trash/files/Song.wav")), "RIFF");
    EXPECT_TRUE(fs::exists(dir.File("data/Trash/info/Song.wav.trashinfo")));
}

TEST(MoveFileToTrash, AFileThatIsNotThereIsNotMoved) {
    test::TTempDir dir;
    const TDataHome home(dir.File("data"));
    EXPECT_FALSE(MoveFileToTrash(dir.File("none.wav")));
}

}  // namespace
}  // namespace orvane::app
