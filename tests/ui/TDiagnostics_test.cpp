// The diagnostics: the pixels of the fingerprint picture (colours by index entries, band layout,
// the cut at row 600), the lines under it, the database report line by line for an empty and a
// loaded library, and the two windows.
#include "ui/TDiagnostics.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include "UiTestApp.h"
#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "database/DBTabl.h"
#include "database/TMediumDBKeys.h"
#include "database/TMemorySongListView.h"
#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/IClock.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"

namespace orvane::ui {
namespace {

constexpr QRgb Black = 0xFF000000;
constexpr QRgb Red = 0xFFFF0000;
constexpr QRgb DimYellow = 0xFFFFFF80;
constexpr QRgb White = 0xFFFFFFFF;

// --- the picture ------------------------------------------------------------------------------

struct TBrightnessCase {
    std::int32_t Matches;
    int Brightness;
};

class MatchBrightnessTable : public ::testing::TestWithParam<TBrightnessCase> {};

TEST_P(MatchBrightnessTable, EachEntrySetsTheNextLowerBit) {
    EXPECT_EQ(MatchBrightness(GetParam().Matches), GetParam().Brightness) << GetParam().Matches;
}

INSTANTIATE_TEST_SUITE_P(Cases, MatchBrightnessTable,
                         ::testing::Values(TBrightnessCase{0, 0}, TBrightnessCase{1, 128},
                                           TBrightnessCase{2, 192}, TBrightnessCase{3, 224},
                                           TBrightnessCase{4, 240}, TBrightnessCase{7, 254},
                                           TBrightnessCase{8, 255}, TBrightnessCase{9, 255},
                                           TBrightnessCase{4097, 255}));

TEST(FingerprintPicture, SetBitsAreRedWithoutEntriesDimYellowWithOneWhiteWithEight) {
    // Key 0 has no entries, key 1 one, key 2 eight; each has bits 0, 5 and 31 set.
    const std::uint32_t bits = 0x80000021U;
    const std::vector<std::uint32_t> keys = {bits, bits | 0x2U, bits | 0x4U};
    const QImage picture = FingerprintPicture(keys, [](std::uint32_t key) {
        return key == (0x80000021U | 0x2U) ? 1 : key == (0x80000021U | 0x4U) ? 8 : 0;
    });
    ASSERT_EQ(picture.size(), QSize(1024, 600));
    ASSERT_EQ(picture.format(), QImage::Format_RGB32);
    for (const int bit : {0, 5, 31}) {
        EXPECT_EQ(picture.pixel(0, bit), Red) << bit;
        EXPECT_EQ(picture.pixel(1, bit), DimYellow) << bit;
        EXPECT_EQ(picture.pixel(2, bit), White) << bit;
    }
    EXPECT_EQ(picture.pixel(1, 1), DimYellow);
    EXPECT_EQ(picture.pixel(2, 2), White);
    for (const int bit : {3, 4, 6, 30}) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(picture.pixel(x, bit), Black) << x << " " << bit;
    }
    EXPECT_EQ(picture.pixel(0, 1), Black);
    EXPECT_EQ(picture.pixel(3, 0), Black);
}

TEST(FingerprintPicture, BandsOf1024KeysStackWithABlackRowAndRowsFrom600AreCut) {
    const std::vector<std::uint32_t> keys(20000, 0xFFFFFFFFU);
    int asked = 0;
    const QImage picture = FingerprintPicture(keys, [&asked](std::uint32_t) {
        ++asked;
        return 1;
    });
    // Keys 0 ... 19,455 (19 bands) are looked up; later ones are never drawn.
    EXPECT_EQ(asked, 19456);
    EXPECT_EQ(picture.pixel(1023, 0), DimYellow);
    EXPECT_EQ(picture.pixel(1023, 31), DimYellow);
    for (int x : {0, 500, 1023}) {
        for (int band = 0; band < 18; ++band) {
            EXPECT_EQ(picture.pixel(x, band * 33 + 32), Black) << x << " band " << band;
        }
    }
    // Key 1024 starts the second band at row 33; key 18,432 the nineteenth at row 594, of
    // which the rows 594 ... 599 (bits 0 ... 5) fit.
    EXPECT_EQ(picture.pixel(0, 33), DimYellow);
    EXPECT_EQ(picture.pixel(0, 64), DimYellow);
    EXPECT_EQ(picture.pixel(0, 593), Black);
    EXPECT_EQ(picture.pixel(0, 594), DimYellow);
    EXPECT_EQ(picture.pixel(1023, 599), DimYellow);
}

TEST(FingerprintPicture, AShortFingerprintLeavesTheRestBlack) {
    const std::vector<std::uint32_t> keys(1030, 0x1U);
    const QImage picture = FingerprintPicture(keys, [](std::uint32_t) { return 0; });
    EXPECT_EQ(picture.pixel(5, 33), Red);
    EXPECT_EQ(picture.pixel(6, 33), Black);
    EXPECT_EQ(picture.pixel(5, 34), Black);
}

// --- a library of real fingerprints --------------------------------------------------------

class TFixedClock final : public tracking::IClock {
public:
    tracking::TDateTime Now() const override { return 45000.5; }
    std::int64_t MonotonicMs() const override { return 1000; }
};

/// Counts pauses and remembers whether the report ran inside one.
class TWatchedPause final : public tracking::IRecognitionPause {
public:
    void PauseRecognition() override {
        ++Depth;
        ++Pauses;
    }
    void ResumeRecognition() override { --Depth; }
    int Depth = 0;
    int Pauses = 0;
};

/// A song list and key index as the main window holds them, with fingerprints taken from
/// synthetic music through the file fingerprinting path.
class TDiagnosticsTest : public test::TUiTest {
protected:
    static void SetUpTestSuite() {
        test::TUiTest::SetUpTestSuite();
        platform::InstallAudioConversion();
    }

    TRefPtr<fingerprint::TSongServer> Fingerprint(std::uint32_t seed, double seconds) {
        const std::string wav = FDir.File("clip" + std::to_string(seed) + ".wav");
        orvane::test::WriteWav(
            wav, orvane::test::Music(seed, static_cast<std::size_t>(seconds * 11025)), 11025);
        auto reader = audio::OpenAudioReader(wav, audio::TAudioFileType::ftWav);
        signal::QnKeyConversion converter;
        auto song = MakeRef<fingerprint::TSongServer>();
        EXPECT_TRUE(audio::ComputeLineKeys(*reader, converter, *song, [](float) { return true; }));
        return song;
    }
    /// Loads `song` as the library does; returns its slot.
    std::int32_t Load(const TRefPtr<fingerprint::TSongServer>& song, const std::string& file) {
        const std::int32_t slot = FSongs.reserveSongIndex();
        FSongs.setFileName(slot, file);
        database::AddToDatabase(*song, FDB, slot);
        FSongs.setSongServer(slot, song);
        FSongs.visualizeSong(slot);
        return slot;
    }
    TDatabaseReportParts Parts(std::vector<std::int32_t> channels = {}) {
        return TDatabaseReportParts{FDB, FSongs, FPause, std::move(channels)};
    }
    static platform::TMemoryInfo Memory() {
        platform::TMemoryInfo m;
        m.MemoryLoad = 42;
        m.TotalPhys = 16ull << 30;
        m.AvailPhys = (8ull << 30) + 5;
        m.TotalPageFile = 20ull << 30;
        m.AvailPageFile = 12ull << 30;
        m.TotalVirtual = 1ull << 47;
        m.AvailVirtual = (1ull << 47) - (300ull << 20);
        m.LargestFreeRegion = 40ull << 40;
        m.WorkingSet = (123ull << 20) + 1023;
        m.MediumBlockBytes = 5000;
        m.MediumReserved = 135168;
        m.LargeBlockCount = 3;
        m.LargeBlockBytes = 9000000;
        m.LargeReserved = 9000000;
        return m;
    }
    static QDateTime Now() { return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)); }
    static QStringList ReportHead(const char* channels, const char* status) {
        return {QStringLiteral("Database debugging information @ 2026-03-04 05.06.07:"),
                QString(),
                QStringLiteral("GENERAL MEMORY INFORMATION"),
                QStringLiteral("Memory load: 42"),
                QStringLiteral("Total physical memory: 16384mb"),
                QStringLiteral("Available physical memory: 8192mb"),
                QStringLiteral("Total page file: 20480mb"),
                QStringLiteral("Available page file: 12288mb"),
                QStringLiteral("Total virtual memory: 134217728mb"),
                QStringLiteral("Available virtual memory: 134217428mb"),
                QString(),
                QStringLiteral("APPLICATION MEMORY INFORMATION"),
                QStringLiteral("Largest free virtual memory block: 41943040mb"),
                QStringLiteral("Total current memory usage: 123mb"),
                QString(),
                QStringLiteral("APPLICATION HEAP INFORMATION"),
                QStringLiteral("Allocated Medium Block Count: n/a"),
                QStringLiteral("Total Allocated Medium Block Size: 5000"),
                QStringLiteral("Reserved Medium Block Address Space: 135168"),
                QStringLiteral("Allocated Large Block Count: 3"),
                QStringLiteral("Total Allocated Large Block Size: 9000000"),
                QStringLiteral("Reserved Large Block Address Space: 9000000"),
                QString(),
                QStringLiteral("PROGRAM PARAMETERS"),
                QStringLiteral("Active channels: ") + QString::fromUtf8(channels),
                QString(),
                QStringLiteral("Database Information"),
                QString::fromUtf8(status),
                QStringLiteral("Performing integrity check..."),
                QStringLiteral("Done.")};
    }

    orvane::test::TTempDir FDir;
    tracking::TQueuePoster FPoster;
    TFixedClock FClock;
    tracking::TPosting FPosting{FPoster, FClock};
    TWatchedPause FPause;
    database::TMemorySongListView FView;
    database::TSongList FSongs{FPause, FPosting, FView};
    database::TMediumDB FDB;
};

TEST_F(TDiagnosticsTest, TheReportOfAnEmptyLibraryListsNoSlots) {
    const QStringList lines = DatabaseReport(Parts(), Memory(), Now());
    QStringList expected = ReportHead("", "Satus: Optimized");
    expected << QStringLiteral("Querying songlist (0)") << QStringLiteral("Done.");
    EXPECT_EQ(lines, expected);
}

TEST_F(TDiagnosticsTest, TheReportListsEveryOccupiedSlotUnderTheRecognitionPause) {
    const auto a = Fingerprint(1, 3), b = Fingerprint(2, 3), c = Fingerprint(3, 3);
    Load(a, "/fp/a.qnf");
    Load(b, "/fp/b.qnf");
    Load(c, "/fp/c.qnf");
    // A slot whose load failed keeps no fingerprint; a freed slot is left out.
    const std::int32_t failed = FSongs.reserveSongIndex();
    ASSERT_EQ(failed, 3);
    FDB.DelSong(0);
    FSongs.freeSong(0, false);
    FPause.Pauses = 0;
    QStringList lines = DatabaseReport(Parts({0}), Memory(), Now());
    EXPECT_EQ(FPause.Pauses, 1);
    EXPECT_EQ(FPause.Depth, 0);
    QStringList expected = ReportHead("0", "Satus: Not optimized");
    expected << QStringLiteral("Querying songlist (4)") << QStringLiteral("/fp/b.qnf (1025)")
             << QStringLiteral("1026") << QString() << QStringLiteral("Done.");
    EXPECT_EQ(lines, expected);

    FDB.Sort();
    lines = DatabaseReport(Parts({0, 2, 5}), Memory(), Now());
    EXPECT_EQ(lines[24], QStringLiteral("Active channels: 0, 2, 5"));
    EXPECT_EQ(lines[27], QStringLiteral("Satus: Optimized"));
}

TEST_F(TDiagnosticsTest, TheInfoLinesTellTheShapeBlocksKeysAndSlot) {
    auto song = MakeRef<fingerprint::TSongServer>();
    const std::vector<std::uint32_t> keys(5000, 7U);
    song->Add(keys.data(), 5000);
    EXPECT_EQ(FingerprintInfoLines(*song, 3),
              (QStringList{QStringLiteral("Debugging information:"),
                           QStringLiteral("Status: Blocked"), QStringLiteral("Blocks: 2"),
                           QStringLiteral("Keys: 5000"), QStringLiteral("Index: 3")}));
    song->serialize();
    EXPECT_EQ(FingerprintInfoLines(*song, 0)[1], QStringLiteral("Status: Aligned"));
    EXPECT_EQ(FingerprintInfoLines(*song, 0)[2], QStringLiteral("Blocks: 2"));
}

TEST_F(TDiagnosticsTest, ALoadedFingerprintIsDrawnFromTheIndexAndAnUnknownOneInRed) {
    const auto loaded = Fingerprint(4, 5);
    Load(loaded, "/fp/loaded.qnf");
    FDB.Sort();
    const auto unknown = Fingerprint(5, 5);
    const auto count = [](const QImage& picture, auto&& predicate) {
        int n = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) n += predicate(picture.pixel(x, y)) ? 1 : 0;
        }
        return n;
    };
    const auto isRed = [](QRgb p) { return p == Red; };
    const auto isLit = [](QRgb p) { return p != Black; };
    const auto isYellowish = [](QRgb p) { return qRed(p) == 255 && qGreen(p) == 255; };
    const QImage known = FingerprintPicture(*loaded, FDB);
    EXPECT_EQ(count(known, isRed), 0);
    EXPECT_GT(count(known, isYellowish), 1000);
    const QImage other = FingerprintPicture(*unknown, FDB);
    EXPECT_GT(count(other, isRed), 1000);
    EXPECT_GT(count(other, isRed), count(other, isLit) * 9 / 10);
    // The picture matches the keys bit by bit.
    const std::vector<std::uint32_t> keys = loaded->CopyKeys();
    ASSERT_GT(keys.size(), 300u);
    for (const int n : {0, 17, 299}) {
        for (int bit = 0; bit < 32; ++bit) {
            EXPECT_EQ(known.pixel(n, bit) != Black,
                      ((keys[static_cast<std::size_t>(n)] >> bit) & 1U) != 0)
                << n << " " << bit;
        }
    }
}

TEST_F(TDiagnosticsTest, ThePictureWindowShowsTheImageOverItsMemo) {
    const std::int32_t slot = Load(Fingerprint(6, 2), "/fp/x.qnf");
    FDB.Sort();
    const std::unique_ptr<QDialog> window = MakeFingerprintWindow(nullptr, FSongs, FDB, slot);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Debugging and visualization"));
    const auto* image = window->findChild<QLabel*>(QStringLiteral("Image"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixmap().size(), QSize(1024, 600));
    const auto* memo = window->findChild<QPlainTextEdit*>(QStringLiteral("Memo"));
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->toPlainText().startsWith(QStringLiteral("Debugging information:\n")));
    EXPECT_TRUE(memo->toPlainText().endsWith(QStringLiteral("\nIndex: 0")));
    window->adjustSize();
    EXPECT_GE(memo->geometry().top(), image->geometry().bottom());
    EXPECT_EQ(MakeFingerprintWindow(nullptr, FSongs, FDB, 1), nullptr);
}

TEST_F(TDiagnosticsTest, WithoutASelectedRowDebugFingerprintOpensNothing) {
    Load(Fingerprint(7, 2), "/fp/y.qnf");
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        ADD_FAILURE() << "a window was opened";
    });
    watchdog.start(5000);
    FView.SetSelectedRow(-1);
    DebugSelectedFingerprint(nullptr, FSongs, FDB);
    DebugFingerprint(nullptr, FSongs, FDB, -1);
    DebugFingerprint(nullptr, FSongs, FDB, 9);
}

TEST_F(TDiagnosticsTest, TheReportWindowHoldsTheLinesInA800By600Memo) {
    const QStringList lines = DatabaseReport(Parts(), Memory(), Now());
    const std::unique_ptr<QDialog> window = MakeReportWindow(nullptr, lines);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Debugging"));
    EXPECT_EQ(window->size(), QSize(800, 600));
    const auto* memo = window->findChild<QPlainTextEdit*>(QStringLiteral("Memo"));
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->toPlainText().split(QLatin1Char('\n')), lines);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(TDiagnosticsTest, DebugWholeDatabaseShowsTheLiveReportAndResumesRecognition) {
    Load(Fingerprint(8, 2), "/fp/z.qnf");
    QString text;
    QTimer::singleShot(0, [&text] {
        auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        text = window->findChild<QPlainTextEdit*>()->toPlainText();
        window->accept();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    watchdog.start(10000);
    DebugWholeDatabase(nullptr, Parts({0}));
    EXPECT_EQ(FPause.Depth, 0);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Database debugging information @ ")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nQuerying songlist (1)\n1024\nDone.")));
    EXPECT_FALSE(text.contains(QStringLiteral("Total physical memory: 0mb")));
}

}  // namespace
}  // namespace orvane::ui
