#include "ipc/TSingleInstance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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

TEST(TSingleInstance, NameIsTheFixedIdentifierAndTheUser) {
    const QString name = InstanceName();
    EXPECT_TRUE(name.contains(QLatin1String("{B1D7FCF3-D556-40AE-9DA7-B3DE2EA248DD}")));
    EXPECT_TRUE(name.endsWith(QString::number(::getuid())));
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
        QLocalServer::removeServer(FName);
    }
    QString Folder() const { return QString::fromStdString(FDir.Folder() + "fp/"); }

    QProcess& Launch(const QStringList& parameters, const QString& workDir = QString(),
                     const QStringList& extra = {}) {
        FProcesses.push_back(std::make_unique<QProcess>());
        QProcess& p = *FProcesses.back();
        if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(ORVANE_INSTANCE_PROBE),
                QStringList{QStringLiteral("--name"), FName, QStringLiteral("--folder"), Folder()} + extra +
                    QStringList{QStringLiteral("--")} + parameters);
        EXPECT_TRUE(p.waitForStarted(10000));
        return p;
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
    const QString socketFile = QDir(QDir::tempPath()).filePath(FName);
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

}  // namespace
}  // namespace orvane::ipc
