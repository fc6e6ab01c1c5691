#include "ui/TDiagnostics.h"

#include <algorithm>
#include <exception>
#include <string>

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

#include "database/DBTabl.h"
#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "tracking/IRecognitionPause.h"

namespace orvane::ui {

namespace {

constexpr int KeyBits = 32;
// A memo's height when the layout gives none (89 pixels at 96 dpi).
constexpr int DefaultMemoHeight = 89;
constexpr int ReportWidth = 800;
constexpr int ReportHeight = 600;
constexpr std::uint64_t Mebibyte = 1024 * 1024;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString Mb(std::uint64_t bytes) { return QString::number(bytes / Mebibyte) + QStringLiteral("mb"); }

void CentreOnScreen(QDialog& window, QWidget* parent) {
    QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

QPlainTextEdit* MakeMemo(QWidget* parent, const QStringList& lines) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setReadOnly(true);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setPlainText(lines.join(QLatin1Char('\n')));
    return memo;
}

}  // namespace

std::uint8_t MatchBrightness(std::int32_t matches) {
    std::uint32_t b = 0;
    // From the eighth match on every bit is set, so later matches change nothing.
    for (std::int32_t i = 0; i < std::min(matches, 8); ++i) b = b == 0 ? 128 : b | (b >> 1);
    return static_cast<std::uint8_t>(b);
}

QRgb KeyBitColor(std::int32_t matches) {
    if (matches <= 0) return qRgb(255, 0, 0);
    return qRgb(255, 255, MatchBrightness(matches));
}

QImage FingerprintPicture(std::span<const std::uint32_t> keys,
                          const std::function<std::int32_t(std::uint32_t key)>& matchCount) {
    QImage picture(PictureWidth, PictureHeight, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 0));
    const std::size_t drawn = std::min(keys.size(), static_cast<std::size_t>(PictureDrawnKeys));
    for (std::size_t n = 0; n < drawn; ++n) {
        const std::uint32_t key = keys[n];
        const QRgb color = KeyBitColor(matchCount(key));
        const int x = static_cast<int>(n % PictureWidth);
        const int top = static_cast<int>(n / PictureWidth) * PictureBandHeight;
        for (int bit = 0; bit < KeyBits; ++bit) {
            const int y = top + bit;
            if (y >= PictureHeight) break;
            if ((key >> bit) & 1U) picture.setPixel(x, y, color);
        }
    }
    return picture;
}

QImage FingerprintPicture(const fingerprint::ISongServer& song, const database::TMediumDB& db) {
    const std::int32_t length = song.SongFile()->Length;
    const std::int32_t drawn = std::min(length, PictureDrawnKeys);
    std::vector<std::uint32_t> keys;
    keys.reserve(static_cast<std::size_t>(std::max(drawn, 0)));
    if (drawn > 0) {
        // Only the drawn keys are walked; the rest of a long fingerprint is never looked at.
        auto* container = const_cast<fingerprint::ISongServer&>(song).getClass();
        const auto blocks = container->Blocks();
        fingerprint::TIterator it = song.startIterator(0, drawn - 1);
        for (;;) {
            const std::uint32_t* block = blocks[static_cast<std::size_t>(it.currentBlock)];
            for (std::int32_t i = it.blockStart; i <= it.blockEnd; ++i) keys.push_back(block[i]);
            if (it.break_) break;
            song.continueIterator(it);
        }
    }
    std::vector<database::TDBItem> matches(PictureLookupRoom);
    return FingerprintPicture(keys, [&](std::uint32_t key) {
        return db.GetFromDB(matches.data(), PictureLookupRoom, key);
    });
}

QStringList FingerprintInfoLines(const fingerprint::ISongServer& song, std::int32_t slot) {
    auto* container = const_cast<fingerprint::ISongServer&>(song).getClass();
    const std::int32_t blocks = song.numFullBlocks() + (song.hasLastBlock() ? 1 : 0);
    return {QStringLiteral("Debugging information:"),
            container->IsAligned() ? QStringLiteral("Status: Aligned")
                                   : QStringLiteral("Status: Blocked"),
            QStringLiteral("Blocks: ") + QString::number(blocks),
            QStringLiteral("Keys: ") + QString::number(song.SongFile()->Length),
            QStringLiteral("Index: ") + QString::number(slot)};
}

std::unique_ptr<QDialog> MakeFingerprintWindow(QWidget* parent, const database::TSongList& songs,
                                               const database::TMediumDB& db, std::int32_t slot) {
    const fingerprint::ISongServer* song = songs.SongServer(slot);
    if (song == nullptr) return nullptr;
    auto window = std::make_unique<QDialog>(parent);
    window->setWindowTitle(QStringLiteral("Debugging and visualization"));
    window->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* image = new QLabel(window.get());
    image->setObjectName(QStringLiteral("Image"));
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image->setPixmap(QPixmap::fromImage(FingerprintPicture(*song, db)));
    image->setFixedSize(PictureWidth, PictureHeight);
    layout->addWidget(image);
    QPlainTextEdit* memo = MakeMemo(window.get(), FingerprintInfoLines(*song, slot));
    memo->setObjectName(QStringLiteral("Memo"));
    memo->setFixedHeight(DefaultMemoHeight);
    layout->addWidget(memo);
    // The whole picture stays visible: the memo goes below it, not over its lowest bands.
    window->setFixedSize(PictureWidth, PictureHeight + DefaultMemoHeight);
    CentreOnScreen(*window, parent);
    return window;
}

void DebugFingerprint(QWidget* parent, const database::TSongList& songs,
                      const database::TMediumDB& db, std::int32_t songListSlot) {
    if (songListSlot < 0) return;
    const std::unique_ptr<QDialog> window = MakeFingerprintWindow(parent, songs, db, songListSlot);
    if (window) window->exec();
}

void DebugSelectedFingerprint(QWidget* parent, const database::TSongList& songs,
                              const database::TMediumDB& db) {
    const std::int32_t row = songs.View().SelectedRow();
    if (row < 0) return;
    DebugFingerprint(parent, songs, db, songs.getIndexFromListviewIndex(row));
}

QStringList DatabaseReport(const TDatabaseReportParts& parts, const platform::TMemoryInfo& memory,
                           const QDateTime& now) {
    const tracking::TRecognitionPauseGuard pause(parts.Pause);
    QStringList lines;
    try {
        lines << QStringLiteral("Database debugging information @ %1:")
                     .arg(now.toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")))
              << QString() << QStringLiteral("GENERAL MEMORY INFORMATION")
              << QStringLiteral("Memory load: ") + QString::number(memory.MemoryLoad)
              << QStringLiteral("Total physical memory: ") + Mb(memory.TotalPhys)
              << QStringLiteral("Available physical memory: ") + Mb(memory.AvailPhys)
              << QStringLiteral("Total page file: ") + Mb(memory.TotalPageFile)
              << QStringLiteral("Available page file: ") + Mb(memory.AvailPageFile)
              << QStringLiteral("Total virtual memory: ") + Mb(memory.TotalVirtual)
              << QStringLiteral("Available virtual memory: ") + Mb(memory.AvailVirtual) << QString()
              << QStringLiteral("APPLICATION MEMORY INFORMATION")
              << QStringLiteral("Largest free virtual memory block: ") +
                     Mb(memory.LargestFreeRegion)
              << QStringLiteral("Total current memory usage: ") + Mb(memory.WorkingSet) << QString()
              << QStringLiteral("APPLICATION HEAP INFORMATION")
              << QStringLiteral("Allocated Medium Block Count: ") +
                     (memory.MediumBlockCount ? QString::number(*memory.MediumBlockCount)
                                              : QStringLiteral("n/a"))
              << QStringLiteral("Total Allocated Medium Block Size: ") +
                     QString::number(memory.MediumBlockBytes)
              << QStringLiteral("Reserved Medium Block Address Space: ") +
                     QString::number(memory.MediumReserved)
              << QStringLiteral("Allocated Large Block Count: ") +
                     QString::number(memory.LargeBlockCount)
              << QStringLiteral("Total Allocated Large Block Size: ") +
                     QString::number(memory.LargeBlockBytes)
              << QStringLiteral("Reserved Large Block Address Space: ") +
                     QString::number(memory.LargeReserved)
              << QString() << QStringLiteral("PROGRAM PARAMETERS");
        QString channels;
        for (std::size_t i = 0; i < parts.ActiveChannels.size(); ++i) {
            channels = i == 0 ? QString::number(parts.ActiveChannels[i])
                              : QStringLiteral("%1, %2").arg(channels).arg(parts.ActiveChannels[i]);
        }
        lines << QStringLiteral("Active channels: ") + channels << QString()
              << QStringLiteral("Database Information")
              << (parts.MainDB.Sorted() ? QStringLiteral("Satus: Optimized")
                                        : QStringLiteral("Satus: Not optimized"))
              << QStringLiteral("Performing integrity check...");
        try {
            parts.MainDB.CheckIntegrity();
        } catch (const std::exception& error) {
            lines << QString::fromUtf8(error.what());
        }
        lines << QStringLiteral("Done.");

        const database::TSongList& songs = parts.SongList;
        lines << QStringLiteral("Querying songlist (%1)").arg(songs.SlotCount());
        for (std::int32_t slot = 0; slot < songs.SlotCount(); ++slot) {
            // The step reached names the place of a failure in the error line.
            QString step = QStringLiteral("#1");
            try {
                const database::TSongEntry* entry = songs.Entry(slot);
                step = QStringLiteral("#2");
                if (entry == nullptr) continue;
                const fingerprint::ISongServer* song = entry->SongServer.get();
                step = QStringLiteral("#3");
                QString line;
                if (song != nullptr) {
                    step = QStringLiteral("#4");
                    const fingerprint::TSong* header = song->SongFile();
                    step = QStringLiteral("#5");
                    const std::int64_t uniqueID = header->UniqueID;
                    step = QStringLiteral("#6");
                    line = QString::number(uniqueID);
                    step = QStringLiteral("#7");
                    if ((entry->Index & 1) != 0) {
                        step = QStringLiteral("#7.5");
                        line = QStringLiteral("%1 (%2)").arg(Q(entry->Filename), line);
                    }
                    step = QStringLiteral("#8");
                }
                lines << line;
                step = QStringLiteral("#9");
            } catch (const std::exception& error) {
                lines << QStringLiteral("Error querying ") + QString::number(slot) +
                             QLatin1Char(' ') + QString::fromUtf8(error.what()) + QLatin1Char(' ') +
                             step;
            }
        }
        lines << QStringLiteral("Done.");
    } catch (const std::exception& error) {
        // The report ends where it failed; the reason stays readable at its end.
        lines << QString::fromUtf8(error.what());
    }
    return lines;
}

std::unique_ptr<QDialog> MakeReportWindow(QWidget* parent, const QStringList& lines) {
    auto window = std::make_unique<QDialog>(parent);
    window->setWindowTitle(QStringLiteral("Debugging"));
    window->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    QPlainTextEdit* memo = MakeMemo(window.get(), lines);
    memo->setObjectName(QStringLiteral("Memo"));
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(memo);
    window->setFixedSize(ReportWidth, ReportHeight);
    CentreOnScreen(*window, parent);
    return window;
}

void DebugWholeDatabase(QWidget* parent, const TDatabaseReportParts& parts) {
    QStringList lines;
    {
        const tracking::TRecognitionPauseGuard pause(parts.Pause);
        lines = DatabaseReport(parts, platform::ReadMemoryInfo(), QDateTime::currentDateTime());
    }
    const std::unique_ptr<QDialog> window = MakeReportWindow(parent, lines);
    window->exec();
}

}  // namespace orvane::ui
