#include "ipc/TSingleInstance.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QtEndian>

#include "IpcTestUtil.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::ipc {
namespace {

QString UniqueName(const char* what) {
    return QStringLiteral("orvane3-test-%1-%2").arg(::getpid()).arg(QLatin1String(what));
}

/// Runs the event loop until `done` holds or `timeoutMs` passed; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

QByteArray U32(std::uint32_t value) {
    char le[4];
    qToLittleEndian(value, le);
    return QByteArray(le, 4);
}

TEST(TSingleInstance, CommandBlockIsZeroTerminatedUtf16StringsEndedByAnEmptyOne) {
    const QByteArray expected("a\0.\0w\0a\0v\0\0\0/\0x\0\0\0\0\0", 20);
    EXPECT_EQ(BuildCommandBlock({QStringLiteral("a.wav"), QStringLiteral("/x")}), expected);
    EXPECT_EQ(BuildCommandBlock({}), QByteArray("\0\0", 2));
    const QByteArray record = BuildCommandRecord({QStringLiteral("a.wav"), QStringLiteral("/x")});
    EXPECT_EQ(record.left(16), U32(0x4A) + U32(0) + U32(0xCAFEAFFE) + U32(20));
    EXPECT_EQ(record.mid(16), expected);
    // A character outside the basic plane travels as its surrogate pair.
    EXPECT_EQ(BuildCommandBlock({QString::fromUtf8("\xF0\x9D\x84\x9E")}),
              QByteArray("\x34\xD8\x1E\xDD\0\0\0\0", 8));
}

TEST(TSingleInstance, CommandBlocksAreReadUpToTheFirstEmptyStringOrRefused) {
    struct TCase {
        QByteArray Block;
        std::optional<QStringList> Expected;
    };
    const TCase cases[] = {
        {QByteArray("a\0\0\0\0\0", 6), QStringList{QStringLiteral("a")}},
        {QByteArray("a\0\0\0\0\0b\0\0\0", 10), QStringList{QStringLiteral("a")}},
        {QByteArray("\0\0", 2), QStringList{}},
        {QByteArray("a\0b\0\0\0c\0\0\0\0\0", 14), QStringList{QStringLiteral("ab"), QStringLiteral("c")}},
        {QByteArray(), std::nullopt},                      // no end at all
        {QByteArray("a\0\0\0\0", 5), std::nullopt},        // odd size
        {QByteArray("a\0b\0", 4), std::nullopt},           // string never terminated
        {QByteArray("a\0\0\0", 4), std::nullopt},         // the closing empty string missing
        {QByteArray("a\0\0\0b\0\0\0", 6), std::nullopt},   // last string's end cut off
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseCommandBlock(c.Block), c.Expected) << c.Block.toHex().toStdString();
    }
}

/// Sets an environment variable for the life of the object (unset when `value` is null).
class TEnvironment {
public:
    TEnvironment(const char* name, const std::optional<std::string>& value)
        : FName(name), FOld(qgetenv(name)), FHad(qEnvironmentVariableIsSet(name)) {
        if (value) {
            qputenv(name, QByteArray::fromStdString(*value));
        } else {
            qunsetenv(name);
        }
    }
    ~TEnvironment() {
        if (FHad) {
            qputenv(FName, FOld);
        } else {
            qunsetenv(FName);
        }
    }
    TEnvironment(const TEnvironment&) = delete;
    TEnvironment& operator=(const TEnvironment&) = delete;

private:
    const char* FName;
    QByteArray FOld;
    bool FHad;
};

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

uid_t OwnerOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_uid;
}

void MakeFolder(const std::string& path, mode_t mode) {
    std::filesystem::create_directories(path);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

TEST(TSingleInstance, NameIsTheFixedIdentifierAndTheUserInAFolderOfOurOwn) {
    const QString name = InstanceName();
    EXPECT_TRUE(name.contains(QLatin1String("{B1D7FCF3-D556-40AE-9DA7-B3DE2EA248DD}")));
    EXPECT_TRUE(name.endsWith(QString::number(::getuid())));
    const std::string folder = QFileInfo(name).path().toStdString();
    EXPECT_EQ(QFileInfo(name).path(), InstanceFolder());
    EXPECT_EQ(OwnerOf(folder), ::getuid());
    EXPECT_EQ(ModeOf(folder) & 077, 0u) << folder;
}

TEST(TSingleInstance, TheFolderIsTheRuntimeFolderWhenPrivateElseOneOfOurOwnInTheTemporaryFolder) {
    test::TTempDir dir;
    const std::string tmp = dir.File("tmp");
    const std::string own = tmp + "/orvane3-" + std::to_string(::getuid());
    struct TCase {
        const char* What;
        std::function<void()> Prepare;
        std::optional<std::string> Runtime;
        std::string Expected;  ///< the folder; empty: none, with `Error` in the reason
        const char* Error;
    };
    const TCase cases[] = {
        {"private runtime folder", [&] { MakeFolder(dir.File("run"), 0700); }, dir.File("run"),
         dir.File("run"), ""},
        {"no runtime folder: one of our own is made", [] {}, std::nullopt, own, ""},
        {"runtime folder open to others", [&] { MakeFolder(dir.File("open"), 0755); },
         dir.File("open"), own, ""},
        {"runtime folder missing", [] {}, dir.File("missing"), own, ""},
        {"our folder left open is closed again", [&] { MakeFolder(own, 0777); }, std::nullopt, own,
         ""},
        {"our folder name is a link",
         [&] {
             MakeFolder(dir.File("elsewhere"), 0700);
             std::filesystem::create_directory_symlink(dir.File("elsewhere"), own);
         },
         std::nullopt, "", "is not a folder"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(tmp);
        std::filesystem::create_directory(tmp);
        c.Prepare();
        const TEnvironment runtime("XDG_RUNTIME_DIR", c.Runtime);
        const TEnvironment temporary("TMPDIR", tmp);
        QString error;
        const QString folder = InstanceFolder(&error);
        EXPECT_EQ(folder.toStdString(), c.Expected) << c.What;
        if (c.Expected.empty()) {
            EXPECT_TRUE(error.contains(QLatin1String(c.Error)))
                << c.What << ": " << error.toStdString();
            // No folder, no single instance: the process goes on by itself and says why.
            TSingleInstance instance(QStringLiteral("probe"));
            EXPECT_EQ(instance.Start({}), TSingleInstance::TStart::stSecondary) << c.What;
            EXPECT_TRUE(instance.Note().contains(QLatin1String(c.Error)))
                << instance.Note().toStdString();
        } else {
            EXPECT_EQ(ModeOf(c.Expected), 0700u) << c.What;
        }
    }
}

TEST(TSingleInstance, AFolderOrRuntimeFolderOfAnotherUserIsNeverUsed) {
    std::string why;
    const auto other = test::OtherUser(why);
    if (!other) GTEST_SKIP() << why;
    test::TTempDir dir;
    const std::string tmp = dir.File("tmp");
    MakeFolder(tmp, 01777);
    const std::string theirs = dir.File("theirs");
    MakeFolder(theirs, 0700);
    ASSERT_EQ(::chown(theirs.c_str(), other->Uid, other->Gid), 0);
    const std::string own = tmp + "/orvane3-" + std::to_string(::getuid());
    {
        // Their private runtime folder is not ours: our own folder is made instead.
        const TEnvironment runtime("XDG_RUNTIME_DIR", theirs);
        const TEnvironment temporary("TMPDIR", tmp);
        EXPECT_EQ(InstanceFolder().toStdString(), own);
    }
    std::filesystem::remove_all(own);
    // Another user made our folder name first, with a lock file and a dead socket in it.
    MakeFolder(own, 0777);
    ASSERT_EQ(::chown(own.c_str(), other->Uid, other->Gid), 0);
    test::WriteBytes(own + "/probe.lock", "1\norvane3\n");
    const TEnvironment runtime("XDG_RUNTIME_DIR", std::nullopt);
    const TEnvironment temporary("TMPDIR", tmp);
    QString error;
    EXPECT_TRUE(InstanceFolder(&error).isEmpty());
    EXPECT_TRUE(
        error.contains(QStringLiteral("belongs to user id %1, not to this user").arg(other->Uid)))
        << error.toStdString();
    test::EnsureQtApp();
    TSingleInstance instance(QStringLiteral("probe"));
    EXPECT_EQ(instance.Start({QStringLiteral("x.wav")}), TSingleInstance::TStart::stSecondary);
    EXPECT_FALSE(instance.Listening());
    EXPECT_TRUE(
        instance.Note().contains(QLatin1String("this window runs as an instance of its own")))
        << instance.Note().toStdString();
}

/// A running instance in this process and a raw client that writes whatever the case needs.
class TSingleInstanceServer : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureQtApp();
        FInstance = std::make_unique<TSingleInstance>(UniqueName("server"));
        FInstance->SetStallTimeout(300);
        ASSERT_EQ(FInstance->Start({}), TSingleInstance::TStart::stPrimary);
        FInstance->OnCommands = [this](const QStringList& commands) { FCommands.append(commands); };
        QObject::connect(FInstance.get(), &TSingleInstance::protocolError,
                         [this](const QString& text) { FErrors.append(text); });
        QObject::connect(FInstance.get(), &TSingleInstance::bringToFront, [this] { ++FFronts; });
    }
    void TearDown() override { FInstance.reset(); }

    std::unique_ptr<QLocalSocket> Connect() {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(FInstance->Name());
        EXPECT_TRUE(socket->waitForConnected(2000));
        return socket;
    }
    /// Sends `bytes`, then pumps until an answer arrived or the server hung up.
    std::optional<std::int32_t> Exchange(QLocalSocket& socket, const QByteArray& bytes,
                                         int waitMs = 3000) {
        socket.write(bytes);
        socket.flush();
        PumpUntil([&] { return socket.bytesAvailable() >= 4 || socket.state() != QLocalSocket::ConnectedState; },
                  waitMs);
        if (socket.bytesAvailable() < 4) return std::nullopt;
        const QByteArray answer = socket.read(4);
        return qFromLittleEndian<std::int32_t>(answer.constData());
    }
    /// A well-formed forward still works: the server did not get stuck on earlier garbage.
    void ExpectServerStillAnswers() {
        auto socket = Connect();
        EXPECT_EQ(Exchange(*socket, BuildCommandRecord({QStringLiteral("after.wav")})), 1);
        EXPECT_TRUE(FCommands.contains(QStringLiteral("after.wav")));
    }

    std::unique_ptr<TSingleInstance> FInstance;
    QStringList FCommands;
    QStringList FErrors;
    int FFronts = 0;
};

TEST_F(TSingleInstanceServer, AWellFormedRecordIsHandledThenAcknowledgedWithOne) {
    auto socket = Connect();
    EXPECT_EQ(Exchange(*socket, BuildCommandRecord({QStringLiteral("x.wav"), QStringLiteral("y")})), 1);
    EXPECT_EQ(FCommands, (QStringList{QStringLiteral("x.wav"), QStringLiteral("y")}));
    EXPECT_EQ(Exchange(*socket, U32(WmBringToFront) + U32(0)), 1);
    EXPECT_EQ(FFronts, 1);
    EXPECT_TRUE(FErrors.isEmpty());
}

TEST_F(TSingleInstanceServer, AWrongMagicIsAnsweredWithZeroAndLogged) {
    auto socket = Connect();
    EXPECT_EQ(Exchange(*socket, BuildCommandRecord({QStringLiteral("x.wav")}, 0x12345678u)), 0);
    EXPECT_TRUE(FCommands.isEmpty());
    EXPECT_EQ(FErrors, QStringList{QStringLiteral("Invalid data structure passed in WM_COPYDATA")});
    ExpectServerStillAnswers();
}

TEST_F(TSingleInstanceServer, GarbageGetsNoAcknowledgementAndTheConnectionIsClosed) {
    struct TCase {
        const char* What;
        QByteArray Bytes;
        const char* ErrorPart;
    };
    const QByteArray oddBlock("a\0\0\0\0", 5);
    const TCase cases[] = {
        {"huge length", U32(WmCopyData) + U32(0) + U32(CopyDataMagic) + U32(0xFFFFFFF0u), "refused"},
        {"just above the limit", U32(WmCopyData) + U32(0) + U32(CopyDataMagic) + U32(MaxCommandBlockBytes + 1),
         "refused"},
        {"odd block", U32(WmCopyData) + U32(0) + U32(CopyDataMagic) + U32(5) + oddBlock, "not a list"},
        {"unterminated strings", U32(WmCopyData) + U32(0) + U32(CopyDataMagic) + U32(4) + QByteArray("a\0b\0", 4),
         "not a list"},
        {"unknown message", U32(0x1234) + U32(0) + QByteArray(64, 'z'), "unknown message"},
    };
    for (const auto& c : cases) {
        FErrors.clear();
        auto socket = Connect();
        EXPECT_EQ(Exchange(*socket, c.Bytes), std::nullopt) << c.What;
        EXPECT_TRUE(PumpUntil([&] { return socket->state() != QLocalSocket::ConnectedState; })) << c.What;
        ASSERT_EQ(FErrors.size(), 1) << c.What;
        EXPECT_TRUE(FErrors[0].contains(QLatin1String(c.ErrorPart))) << c.What << ": " << FErrors[0].toStdString();
    }
    EXPECT_TRUE(FCommands.isEmpty());
    ExpectServerStillAnswers();
}

TEST_F(TSingleInstanceServer, ATruncatedRecordIsDroppedWhenTheSenderHangsUp) {
    auto socket = Connect();
    const QByteArray partial = U32(WmCopyData) + U32(0) + U32(CopyDataMagic) + U32(100) + QByteArray(10, 'a');
    socket->write(partial);
    socket->flush();
    PumpUntil([] { return false; }, 100);
    socket->disconnectFromServer();
    EXPECT_TRUE(PumpUntil([&] { return !FErrors.isEmpty(); }));
    ASSERT_EQ(FErrors.size(), 1);
    EXPECT_TRUE(FErrors[0].contains(QLatin1String("truncated"))) << FErrors[0].toStdString();
    EXPECT_TRUE(FCommands.isEmpty());
    ExpectServerStillAnswers();
}

TEST_F(TSingleInstanceServer, ARecordThatStallsMidwayIsDroppedWithoutBlockingOthers) {
    auto stalled = Connect();
    stalled->write(U32(WmCopyData) + U32(0) + U32(CopyDataMagic));
    stalled->flush();
    ExpectServerStillAnswers();
    EXPECT_TRUE(PumpUntil([&] { return stalled->state() != QLocalSocket::ConnectedState; }));
    ASSERT_EQ(FErrors.size(), 1);
    EXPECT_TRUE(FErrors[0].contains(QLatin1String("incomplete"))) << FErrors[0].toStdString();
}

TEST_F(TSingleInstanceServer, ACommandHandlerThatThrowsIsAnsweredWithZero) {
    FInstance->OnCommands = [](const QStringList&) { throw std::runtime_error("disk full"); };
    auto socket = Connect();
    EXPECT_EQ(Exchange(*socket, BuildCommandRecord({QStringLiteral("x.wav")})), 0);
}

// --- two real processes ----------------------------------------------------------------------

/// The probe application with a fingerprint folder and a unique instance name.
class TSingleInstanceProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureQtApp();
        std::filesystem::create_directory(FDir.Path() / "fp");
        std::filesystem::create_directory(FDir.Path() / "elsewhere");
        FName = UniqueName(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override {
        for (auto& p : FProcesses) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        QLocalServer::removeServer(QDir(InstanceFolder()).filePath(FName));
    }
    QString Folder() const { return QString::fromStdString(FDir.Folder() + "fp/"); }

    QProcess& Launch(const QStringList& parameters, const QString& workDir = QString(),
                     const QStringList& extra = {}, const test::TOtherUser* as = nullptr,
                     const QString& name = QString(), const QString& folder = QString()) {
        FProcesses.push_back(std::make_unique<QProcess>());
        QProcess& p = *FProcesses.back();
        if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList arguments =
            QStringList{QStringLiteral("--name"), name.isEmpty() ? FName : name,
                        QStringLiteral("--folder"), folder.isEmpty() ? Folder() : folder} +
            extra + QStringList{QStringLiteral("--")} + parameters;
        if (as != nullptr) {
            test::StartAs(p, *as, QStringLiteral(ORVANE_INSTANCE_PROBE), arguments);
        } else {
            p.start(QStringLiteral(ORVANE_INSTANCE_PROBE), arguments);
        }
        EXPECT_TRUE(p.waitForStarted(10000));
        return p;
    }
    /// A folder inside the test folder for `user`: theirs, private.
    std::string FolderFor(const test::TOtherUser& user, const std::string& name) {
        ::chmod(FDir.Path().c_str(), 0711);
        const std::string folder = FDir.File(name);
        MakeFolder(folder, 0700);
        EXPECT_EQ(::chown(folder.c_str(), user.Uid, user.Gid), 0);
        return folder;
    }
    /// Everything the process still has to say, after it was ended.
    static QString Rest(QProcess& process) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
        return QString::fromUtf8(process.readAllStandardOutput());
    }
    /// Starts the running instance and waits until its event loop runs.
    QProcess& LaunchPrimary() {
        QProcess& p = Launch({});
        EXPECT_EQ(test::ReadLine(p), QStringLiteral("PRIMARY"));
        EXPECT_TRUE(test::WaitForLine(p, QStringLiteral("READY")));
        return p;
    }

    test::TTempDir FDir;
    QString FName;
    std::vector<std::unique_ptr<QProcess>> FProcesses;
};

TEST_F(TSingleInstanceProcesses, ASecondStartHandsOverAWavPathAndEndsOnlyAfterItWasFingerprinted) {
    QProcess& primary = LaunchPrimary();
    test::WriteWav(FDir.File("elsewhere/Song One.wav"), test::Music(7, 11025 * 3), 11025);

    // A relative path from the second start's own working folder.
    QProcess& second = Launch({QStringLiteral("Song One.wav")}, QString::fromStdString(FDir.File("elsewhere")));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(second.readAllStandardOutput()).trimmed(), QStringLiteral("FORWARDED"));
    // The sender was released only after the instance had written and loaded the fingerprint.
    EXPECT_TRUE(std::filesystem::exists(FDir.File("fp/Song One.qnf")));

    QStringList lines;
    ASSERT_TRUE(test::WaitForLine(primary, QStringLiteral("FRONT"), &lines));
    EXPECT_TRUE(lines.contains(QStringLiteral("COMMANDS 1")));
    EXPECT_TRUE(lines.contains(QStringLiteral("ENTRY Extracting fingerprint from \"Song One.wav\"")));
    EXPECT_EQ(lines.last(), QStringLiteral("LOADED 1")) << lines.join(QLatin1Char('\n')).toStdString();
}

TEST_F(TSingleInstanceProcesses, ASecondStartWithoutParametersOnlyBringsTheInstanceToFront) {
    QProcess& primary = LaunchPrimary();
    QProcess& second = Launch({});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(QString::fromUtf8(second.readAllStandardOutput()).trimmed(), QStringLiteral("FORWARDED"));
    QStringList lines;
    ASSERT_TRUE(test::WaitForLine(primary, QStringLiteral("FRONT"), &lines));
    EXPECT_FALSE(lines.contains(QStringLiteral("COMMANDS 0")));
}

TEST_F(TSingleInstanceProcesses, AWrongMagicMakesTheSenderGoOnAsAnInstanceOfItsOwn) {
    QProcess& primary = LaunchPrimary();
    QProcess& second = Launch({QStringLiteral("x.wav")}, QString(), {QStringLiteral("--magic"), QStringLiteral("12345678")});
    EXPECT_EQ(test::ReadLine(second), QStringLiteral("SECONDARY"));
    QStringList lines;
    EXPECT_TRUE(test::WaitForLine(primary, QStringLiteral("REFUSED Invalid data structure passed in WM_COPYDATA"),
                                  &lines, 20000));
    EXPECT_FALSE(lines.contains(QStringLiteral("FRONT")));
    EXPECT_TRUE(test::WaitForLine(second, QStringLiteral("READY")));
}

TEST_F(TSingleInstanceProcesses, ASocketLeftByACrashedInstanceDoesNotBlockTheNextStart) {
    QProcess& crashed = LaunchPrimary();
    crashed.kill();
    ASSERT_TRUE(crashed.waitForFinished(5000));
    const QString socketFile = QDir(InstanceFolder()).filePath(FName);
    ASSERT_TRUE(QFile::exists(socketFile)) << "the crash left its socket behind";

    QProcess& next = LaunchPrimary();
    QProcess& forwarder = Launch({QStringLiteral("nothing-here")});
    ASSERT_TRUE(forwarder.waitForFinished(20000));
    EXPECT_EQ(QString::fromUtf8(forwarder.readAllStandardOutput()).trimmed(), QStringLiteral("FORWARDED"));
    QStringList lines;
    ASSERT_TRUE(test::WaitForLine(next, QStringLiteral("FRONT"), &lines));
    EXPECT_TRUE(lines.contains(
        QStringLiteral("ENTRY Only .mp3 and .wav files are supported for fingerprint extraction")));
}

TEST_F(TSingleInstanceProcesses, TheRunningInstanceRefusesAConnectionFromAnotherUser) {
    std::string why;
    const auto other = test::OtherUser(why);
    if (!other) GTEST_SKIP() << why;
    if (!test::AnyoneMayRun(ORVANE_INSTANCE_PROBE, why)) GTEST_SKIP() << why;
    // Their instance, in their own folder; we (root) can reach its socket anyway.
    const std::string theirs = FolderFor(*other, "theirs");
    MakeFolder(theirs + "/fp", 0700);
    ASSERT_EQ(::chown((theirs + "/fp").c_str(), other->Uid, other->Gid), 0);
    const QString socket = QString::fromStdString(theirs + "/instance");
    QProcess& victim =
        Launch({}, QString(), {}, &*other, socket, QString::fromStdString(theirs + "/fp/"));
    ASSERT_EQ(test::ReadLine(victim), QStringLiteral("PRIMARY"));
    ASSERT_TRUE(test::WaitForLine(victim, QStringLiteral("READY")));

    QLocalSocket intruder;
    intruder.connectToServer(socket);
    ASSERT_TRUE(intruder.waitForConnected(5000));
    intruder.write(BuildCommandRecord({QStringLiteral("/etc/shadow.wav")}));
    intruder.flush();
    EXPECT_TRUE(test::WaitForLine(
        victim, QStringLiteral("REFUSED single instance: connection from user id 0 refused"),
        nullptr, 20000));
    EXPECT_FALSE(intruder.waitForReadyRead(1000) && intruder.bytesAvailable() > 0)
        << "no answer to a stranger";
    const QString rest = Rest(victim);
    EXPECT_FALSE(rest.contains(QLatin1String("COMMANDS"))) << rest.toStdString();
}

TEST_F(TSingleInstanceProcesses, ACommandLineIsNeverHandedToAnotherUsersSocket) {
    std::string why;
    const auto other = test::OtherUser(why);
    if (!other) GTEST_SKIP() << why;
    if (!test::AnyoneMayRun(ORVANE_INSTANCE_PROBE, why)) GTEST_SKIP() << why;
    // The other user listens first under the name in a folder both can write.
    const std::string theirs = FolderFor(*other, "theirs");
    const std::string shared = FDir.File("shared");
    MakeFolder(shared, 01777);
    const QString socket = QString::fromStdString(shared + "/instance");
    QProcess& attacker =
        Launch({}, QString(), {}, &*other, socket, QString::fromStdString(theirs + "/"));
    ASSERT_EQ(test::ReadLine(attacker), QStringLiteral("PRIMARY"));
    ASSERT_TRUE(test::WaitForLine(attacker, QStringLiteral("READY")));

    QProcess& victim =
        Launch({QStringLiteral("/home/me/private/Song.wav")}, QString(), {}, nullptr, socket);
    EXPECT_EQ(test::ReadLine(victim), QStringLiteral("SECONDARY"));
    EXPECT_EQ(test::ReadLine(victim),
              QStringLiteral(
                  "NOTE Single instance: the socket %1 is held by user id %2, not by this user; "
                  "this window runs as an instance of its own.")
                  .arg(socket)
                  .arg(other->Uid));
    EXPECT_TRUE(test::WaitForLine(victim, QStringLiteral("READY")));
    const QString heard = Rest(attacker);
    EXPECT_FALSE(heard.contains(QLatin1String("COMMANDS"))) << heard.toStdString();
    EXPECT_TRUE(QFile::exists(socket)) << "their socket is left alone";
}

TEST_F(TSingleInstanceProcesses, AnInstanceThatNeverAnswersLetsTheNextStartGoOnByItself) {
    // Something of ours listens under the name but never reads or answers.
    const std::string path = FDir.File("silent");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);

    QProcess& next =
        Launch({QStringLiteral("x.wav")}, QString(), {}, nullptr, QString::fromStdString(path));
    EXPECT_EQ(test::ReadLine(next, 60000), QStringLiteral("SECONDARY"));
    EXPECT_EQ(test::ReadLine(next),
              QStringLiteral(
                  "NOTE The running orvane3 did not answer within 5 seconds; this window runs as "
                  "an instance of its own."));
    EXPECT_TRUE(test::WaitForLine(next, QStringLiteral("READY")));
    ::close(listener);
}

TEST_F(TSingleInstanceServer, ASenderWaitsAsLongAsTheInstanceSaysItIsStillHandlingTheCommands) {
    // Handling takes longer than a sender waits in silence, and the event loop does not run
    // meanwhile (as while fingerprinting a long file).
    FInstance->OnCommands = [this](const QStringList& commands) {
        std::this_thread::sleep_for(std::chrono::milliseconds(AnswerTimeoutMs + 2500));
        FCommands.append(commands);
    };
    test::TTempDir dir;
    QProcess sender;
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sender.start(
        QStringLiteral(ORVANE_INSTANCE_PROBE),
        {QStringLiteral("--name"), FInstance->Name(), QStringLiteral("--folder"),
         QString::fromStdString(dir.Folder()), QStringLiteral("--"), QStringLiteral("long.mp3")});
    ASSERT_TRUE(sender.waitForStarted(10000));
    EXPECT_TRUE(PumpUntil([&] { return sender.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(QString::fromUtf8(sender.readAllStandardOutput()).trimmed(),
              QStringLiteral("FORWARDED"));
    EXPECT_EQ(FCommands, QStringList{QStringLiteral("long.mp3")});
}

}  // namespace
}  // namespace orvane::ipc
