#include "ipc/IPCBasics.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>

#include <QElapsedTimer>
#include <QProcess>

#include "IpcTestUtil.h"

namespace orvane::ipc {
namespace {

using TReceive = TUniDirDataClient::TReceive;

std::int32_t ReadSizeCell(std::uint32_t id) {
    TSharedMem cell(SizeCellName(id), 4);
    std::int32_t size = 0;
    std::memcpy(&size, cell.View(), 4);
    return size;
}

bool BlockExists(std::uint32_t id) {
    const int fd = ::shm_open(AnswerBlockName(id).c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

TEST(TUniDirDataServer, NamesCarryTheIdentifierAsEightUpperCaseHexDigits) {
    EXPECT_EQ(ExchangeStringID(255), "000000FF");
    EXPECT_EQ(ExchangeStringID(0xABCDEF12u), "ABCDEF12");
    EXPECT_EQ(SizeCellName(255), "/{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}.EI000000FF");
    EXPECT_EQ(ServerEventName(255), "/{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}ES000000FF");
    EXPECT_EQ(ClientEventName(255), "/{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}EC000000FF");
    EXPECT_EQ(AnswerBlockName(255), "/{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}.TDS000000FF");
}

TEST(TUniDirDataServer, TextTravelsAsLittleEndianUtf16WithoutTerminator) {
    const std::vector<std::uint8_t> hello = {0x48, 0, 0x65, 0, 0x6C, 0, 0x6C, 0, 0x6F, 0};
    EXPECT_EQ(TextToUtf16Le("Hello"), hello);
    // "é€𝄞": one unit, one unit, a surrogate pair.
    const std::vector<std::uint8_t> mixed = {0xE9, 0x00, 0xAC, 0x20, 0x34, 0xD8, 0x1E, 0xDD};
    EXPECT_EQ(TextToUtf16Le("\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E"), mixed);
    EXPECT_EQ(Utf16LeToText(mixed), "\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E");
}

TEST(TUniDirDataServer, FiveCharacterTextIsATenByteBlockTakenByTheReceiver) {
    const std::uint32_t id = test::UniqueExchangeID(1);
    TUniDirDataServer server(id);
    TUniDirDataClient client(id);
    std::vector<std::uint8_t> received;
    TReceive result = TReceive::rcTimeout;
    std::int32_t sizeSeen = -1;
    std::thread receiver([&] {
        result = client.Receive(5000, received);
        sizeSeen = static_cast<std::int32_t>(received.size());
    });
    server.CreateAnswer(std::string_view("Hello"));
    receiver.join();
    EXPECT_EQ(result, TReceive::rcAnswer);
    EXPECT_EQ(sizeSeen, 10);
    EXPECT_EQ(ReadSizeCell(id), 10);
    EXPECT_EQ(Utf16LeToText(received), "Hello");
    EXPECT_TRUE(server.ErrorMessage().empty());
    EXPECT_FALSE(BlockExists(id)) << "the block lives only while one answer is handed over";
}

TEST(TUniDirDataServer, AfterDoneAnswersLeaveTheSizeCellAtZeroAndMakeNoBlock) {
    const std::uint32_t id = test::UniqueExchangeID(2);
    TUniDirDataServer server(id);
    server.Done();
    EXPECT_TRUE(server.IsDone());
    const std::uint8_t bytes[3] = {1, 2, 3};
    EXPECT_FALSE(server.CreateAnswer(bytes, 3));
    server.CreateAnswer(std::string_view("late"));
    EXPECT_EQ(ReadSizeCell(id), 0);
    EXPECT_FALSE(BlockExists(id));
    TUniDirDataClient client(id);
    std::vector<std::uint8_t> received;
    EXPECT_EQ(client.Receive(1000, received), TReceive::rcEnd);
}

TEST(TUniDirDataServer, AnEmptyAnswerIsNotSentSinceItsSizeWouldReadAsTheEnd) {
    const std::uint32_t id = test::UniqueExchangeID(3);
    TUniDirDataServer server(id);
    TUniDirDataClient client(id);
    server.CreateAnswer(std::string_view(""));
    std::vector<std::uint8_t> received;
    EXPECT_EQ(client.Receive(100, received), TReceive::rcTimeout);
}

TEST(TUniDirDataServer, ASignalLeftByAnEarlierExchangeIsNotTakenForAnAnswer) {
    const std::uint32_t id = test::UniqueExchangeID(4);
    {
        TEvent staleServer(ServerEventName(id));
        TEvent staleClient(ClientEventName(id));
        staleServer.Signal();
        staleClient.Signal();
    }
    TUniDirDataServer server(id);
    TUniDirDataClient client(id);
    std::vector<std::uint8_t> received;
    EXPECT_EQ(client.Receive(50, received), TReceive::rcTimeout);
    const std::uint8_t bytes[2] = {'o', 0};
    EXPECT_FALSE(server.CreateAnswer(bytes, 2)) << "no receiver took it";
}

TEST(TUniDirDataClient, ABlockSmallerThanItsSizeCellIsReportedLostNotRead) {
    const std::uint32_t id = test::UniqueExchangeID(5);
    TUniDirDataServer server(id);
    TUniDirDataClient client(id);
    {
        TSharedMem cell(SizeCellName(id), 4);
        const std::int32_t claimed = 1 << 20;
        std::memcpy(cell.View(), &claimed, 4);
    }
    TSharedMem block(AnswerBlockName(id), 16);
    TEvent(ServerEventName(id)).Signal();
    std::vector<std::uint8_t> received;
    EXPECT_EQ(client.Receive(1000, received), TReceive::rcLost);
    EXPECT_TRUE(received.empty());
    block.Unlink();
}

/// Starts the receiver program on exchange `id` and waits until it has opened it.
void StartReceiver(QProcess& process, std::uint32_t id, bool answer) {
    QStringList args{QString::number(id)};
    if (!answer) args << QStringLiteral("--no-answer");
    process.start(QStringLiteral(ORVANE_ANSWER_RECEIVER), args);
    ASSERT_TRUE(process.waitForStarted(10000));
    ASSERT_EQ(test::ReadLine(process), QStringLiteral("READY"));
}

TEST(TUniDirDataServer, ASecondProcessReceivesTheAnswersInOrderAndTheEndMarker) {
    test::EnsureQtApp();
    const std::uint32_t id = test::UniqueExchangeID(6);
    TUniDirDataServer server(id);
    QProcess receiver;
    StartReceiver(receiver, id, true);
    const std::vector<std::string> answers = {"Memory cleared", "Reading fingerprints from hard disk...",
                                              "\xC3\x9C" "ber 5 fingerprints were loaded into memory",
                                              "Optimizing database..."};
    for (const auto& text : answers) server.CreateAnswer(text);
    server.Done();
    ASSERT_TRUE(receiver.waitForFinished(20000));
    EXPECT_EQ(receiver.exitCode(), 0);
    QStringList lines = QString::fromUtf8(receiver.readAllStandardOutput()).split(QLatin1Char('\n'),
                                                                                  Qt::SkipEmptyParts);
    QStringList expected;
    for (const auto& text : answers) expected << QStringLiteral("ANSWER ") + QString::fromStdString(text);
    expected << QStringLiteral("END");
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(server.ErrorMessage().empty());
}

TEST(TUniDirDataServer, AReceiverThatNeverAnswersCostsTheFullHandOverPerAnswerAndLosesNothing) {
    test::EnsureQtApp();
    const std::uint32_t id = test::UniqueExchangeID(7);
    TUniDirDataServer server(id);
    QProcess receiver;
    StartReceiver(receiver, id, false);
    constexpr int Answers = 3;
    QElapsedTimer timer;
    timer.start();
    int taken = 0;
    for (int i = 0; i < Answers; ++i) {
        const std::vector<std::uint8_t> bytes = TextToUtf16Le("answer " + std::to_string(i));
        taken += server.CreateAnswer(bytes.data(), static_cast<std::int32_t>(bytes.size())) ? 1 : 0;
    }
    const qint64 elapsed = timer.elapsed();
    server.Done();
    EXPECT_EQ(taken, 0);
    EXPECT_GE(elapsed, Answers * AnswerHandOverMs);
    ASSERT_TRUE(receiver.waitForFinished(20000));
    const QStringList lines = QString::fromUtf8(receiver.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(lines, (QStringList{QStringLiteral("ANSWER answer 0"), QStringLiteral("ANSWER answer 1"),
                                  QStringLiteral("ANSWER answer 2"), QStringLiteral("END")}));
}

/// Removes every object of exchange `id`, whoever made it.
void UnlinkExchange(std::uint32_t id) {
    ::shm_unlink(SizeCellName(id).c_str());
    ::shm_unlink(AnswerBlockName(id).c_str());
    ::sem_unlink(ServerEventName(id).c_str());
    ::sem_unlink(ClientEventName(id).c_str());
}

TEST(TUniDirDataServer, AnExistingObjectThatIsNotOursAloneIsRefusedWithAClearError) {
    struct TCase {
        const char* What;
        std::function<void(std::uint32_t)> Plant;  ///< leaves one object of the exchange behind
        const char* Error;
    };
    const auto plantShm = [](const std::string& name, mode_t mode) {
        const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 4), 0);
        ::fchmod(fd, mode);
        ::close(fd);
    };
    const auto plantSem = [](const std::string& name, mode_t mode) {
        sem_t* sem = ::sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 0);
        ASSERT_NE(sem, SEM_FAILED);
        ::sem_close(sem);
        ::chmod(("/dev/shm/sem." + name.substr(1)).c_str(), mode);
    };
    const TCase cases[] = {
        {"size cell readable by all", [&](std::uint32_t id) { plantShm(SizeCellName(id), 0644); },
         "Refusing shared memory /{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}.EI"},
        {"size cell writable by all", [&](std::uint32_t id) { plantShm(SizeCellName(id), 0666); },
         "its mode is 0666, not 0600"},
        {"server event open to all", [&](std::uint32_t id) { plantSem(ServerEventName(id), 0666); },
         "Refusing event /{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}ES"},
        {"client event readable by the group",
         [&](std::uint32_t id) { plantSem(ClientEventName(id), 0640); },
         "its mode is 0640, not 0600"},
    };
    std::uint32_t k = 20;
    for (const auto& c : cases) {
        const std::uint32_t id = test::UniqueExchangeID(k++);
        UnlinkExchange(id);
        c.Plant(id);
        try {
            TUniDirDataServer server(id);
            ADD_FAILURE() << c.What << ": the exchange was opened";
        } catch (const EShmError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos)
                << c.What << ": " << e.what();
        }
        UnlinkExchange(id);
    }
}

TEST(TUniDirDataServer, AnAnswerBlockPlantedBeforeTheAnswerIsNotReadByTheReceiver) {
    const std::uint32_t id = test::UniqueExchangeID(30);
    TUniDirDataServer server(id);
    TUniDirDataClient client(id);
    {
        TSharedMem cell(SizeCellName(id), 4);
        const std::int32_t claimed = 4;
        std::memcpy(cell.View(), &claimed, 4);
    }
    const int fd = ::shm_open(AnswerBlockName(id).c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4), 0);
    ::fchmod(fd, 0644);
    ::close(fd);
    TEvent(ServerEventName(id)).Signal();
    std::vector<std::uint8_t> received;
    EXPECT_EQ(client.Receive(1000, received), TReceive::rcLost);
    ::shm_unlink(AnswerBlockName(id).c_str());
}

TEST(TUniDirDataServer, AnExchangeAnotherUserMadeFirstIsRefusedAndThatUserReadsNoAnswer) {
    std::string why;
    const auto other = test::OtherUser(why);
    if (!other) GTEST_SKIP() << why;
    if (!test::AnyoneMayRun(ORVANE_ANSWER_RECEIVER, why)) GTEST_SKIP() << why;
    test::EnsureQtApp();
    const std::uint32_t id = test::UniqueExchangeID(31);
    UnlinkExchange(id);
    // The other user's receiver makes the exchange's objects before we do.
    QProcess attacker;
    attacker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    test::StartAs(attacker, *other, QStringLiteral(ORVANE_ANSWER_RECEIVER),
                  {QString::number(id), QStringLiteral("--timeout"), QStringLiteral("3000")});
    ASSERT_TRUE(attacker.waitForStarted(10000));
    ASSERT_EQ(test::ReadLine(attacker), QStringLiteral("READY"));
    try {
        TUniDirDataServer server(id);
        server.CreateAnswer(std::string_view("Secret title"));
        server.Done();
        ADD_FAILURE() << "the other user's exchange was used";
    } catch (const EShmError& e) {
        EXPECT_NE(std::string(e.what()).find("it belongs to user id " + std::to_string(other->Uid) +
                                             ", not to this user"),
                  std::string::npos)
            << e.what();
    }
    ASSERT_TRUE(attacker.waitForFinished(20000));
    const QString heard = QString::fromUtf8(attacker.readAllStandardOutput());
    EXPECT_EQ(heard.trimmed(), QStringLiteral("TIMEOUT")) << heard.toStdString();
    UnlinkExchange(id);
}

}  // namespace
}  // namespace orvane::ipc
