#include "base/RegularFile.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace orvane {
namespace {

using test::TTempDir;

TEST(TRegularFile, OpensARegularFileAndThroughALinkWithItsSize) {
    TTempDir dir;
    test::WriteBytes(dir.File("a.wav"), "12345");
    std::filesystem::create_symlink(dir.File("a.wav"), dir.File("link.wav"));
    for (const char* name : {"a.wav", "link.wav"}) {
        const TRegularFile file(dir.File(name));
        EXPECT_EQ(file.Size(), 5u) << name;
        char buffer[8] = {};
        EXPECT_EQ(::read(file.Fd(), buffer, sizeof(buffer)), 5) << name;
    }
}

TEST(TRegularFile, RefusesEveryOtherKindOfFileByNameWithoutBlocking) {
    TTempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo.qnf").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.File("folder.qnf"));
    std::filesystem::create_symlink("/dev/zero", dir.File("zero.qnf"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir.File("socket.qnf");
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    struct TCase {
        const char* Name;
        const char* Message;
        int Code;
    };
    for (const TCase& c : {TCase{"fifo.qnf", "\"fifo.qnf\" (a FIFO) is not a regular file", EINVAL},
                           TCase{"folder.qnf", "\"folder.qnf\" (a folder) is not a regular file", EISDIR},
                           TCase{"zero.qnf", "\"zero.qnf\" (a character device) is not a regular file", EINVAL},
                           TCase{"socket.qnf", "\"socket.qnf\" (a socket) is not a regular file", EINVAL}}) {
        try {
            const TRegularFile file(dir.File(c.Name), c.Name);
            ADD_FAILURE() << c.Name << " was opened";
        } catch (const ENotRegularFile& e) {
            EXPECT_STREQ(e.what(), c.Message);
            EXPECT_EQ(e.ErrorCode, c.Code) << c.Name;
        }
    }
    ::close(sock);
}

TEST(TRegularFile, AMissingFileCarriesErrnoAndItsName) {
    TTempDir dir;
    try {
        const TRegularFile file(dir.File("none.wav"), "none.wav");
        FAIL() << "no exception";
    } catch (const ENotRegularFile&) {
        FAIL() << "a missing file is not an odd file";
    } catch (const EFileError& e) {
        EXPECT_EQ(e.ErrorCode, ENOENT);
        EXPECT_STREQ(e.what(), "Cannot open \"none.wav\": No such file or directory");
    }
}

}  // namespace
}  // namespace orvane
