#include "ui/TForm10.h"

#include <mutex>
#include <utility>

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/uMainForm.h"
#include "base/TimeText.h"
#include "recognition/TChannel.h"
#include "recognition/TRecognitionLock.h"
#include "tracking/TSystemClock.h"
#include "ui/Fonts.h"

namespace orvane::ui {
namespace {

// The layout at 96 dpi; Qt scales it.
constexpr int ClientWidth = 623;
constexpr int ClientHeight = 303;
constexpr int StripHeight = 52;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Channel captions keep "&&" for a literal "&" (tab texts); a list cell shows text as it is.
std::string SingleAmpersands(std::string text) {
    for (std::size_t at = text.find("&&"); at != std::string::npos; at = text.find("&&", at + 1)) {
        text.erase(at, 1);
    }
    return text;
}

}  // namespace

TChannelReader ChannelReaderOf(const app::TMainForm& form, recognition::TRecognitionLock* lock) {
    return [&form, lock] {
        std::vector<TOverviewChannel> channels;
        const recognition::TChannel* channel = form.Channel();
        if (channel == nullptr) return channels;
        TOverviewChannel row;
        {
            std::unique_lock<recognition::TRecognitionLock> guard;
            if (lock != nullptr) guard = std::unique_lock(*lock);
            row.Caption = channel->Caption();
            row.Active = channel->Active();
            row.Cap = channel->ReadCap();
        }
        row.Now = channel->Mode() == recognition::ChannelMode::cmManual
                      ? row.Cap.TimeStamp
                      : form.Posting().Clock().Now();
        channels.push_back(std::move(row));
        return channels;
    };
}

std::string OverviewPosition(const tracking::capInfo& cap, tracking::TDateTime now) {
    // The same 32-bit float of seconds as the main window's label, so both say "ended" together.
    const auto elapsed = static_cast<float>((now - cap.TimeStamp) * 86400.0 + cap.Pos);
    const long long secs = RoundHalfEven(static_cast<double>(elapsed));
    if (static_cast<double>(secs) > static_cast<double>(cap.length)) return "ended";
    return MinSecText(static_cast<double>(secs));
}

TForm10::TForm10(TChannelReader reader, TWallClock clock, QWidget* parent)
    : QDialog(parent), FReader(std::move(reader)), FClock(std::move(clock)) {
    if (!FClock) {
        FClock = [] { return tracking::TSystemClock().Now(); };
    }
    setWindowTitle(QStringLiteral("Active channels overview"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    resize(ClientWidth, ClientHeight);
    setMinimumSize(300, 115);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    FView = new QTreeWidget(this);
    FView->setObjectName(QStringLiteral("View"));
    FView->setRootIsDecorated(false);
    FView->setItemsExpandable(false);
    FView->setUniformRowHeights(true);
    FView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FView->setSelectionMode(QAbstractItemView::SingleSelection);
    FView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FView->setHeaderLabels({QStringLiteral("Channel"), QStringLiteral("Currently playing"),
                            QStringLiteral("Position")});
    QHeaderView* header = FView->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    header->setSectionResizeMode(colPlaying, QHeaderView::Stretch);
    header->resizeSection(colChannel, 150);
    header->resizeSection(colPosition, 80);
    layout->addWidget(FView, 1);

    auto* strip = new QWidget(this);
    strip->setFixedHeight(StripHeight);
    layout->addWidget(strip);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(0, 6, 0, 0);
    stripLayout->setSpacing(0);
    auto* row = new QHBoxLayout();
    row->setContentsMargins(8, 0, 8, 0);
    FCloseButton = new QPushButton(QStringLiteral("&Close"), strip);
    FCloseButton->setObjectName(QStringLiteral("Button1"));
    FCloseButton->setFixedSize(75, 23);
    FCloseButton->setDefault(true);
    connect(FCloseButton, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(FCloseButton);
    row->addStretch(1);
    stripLayout->addLayout(row);
    stripLayout->addStretch(1);
    FStatus = new QStatusBar(strip);
    FStatus->setObjectName(QStringLiteral("StatusBar1"));
    stripLayout->addWidget(FStatus);

    FTimer1.setInterval(TickIntervalMs);
    connect(&FTimer1, &QTimer::timeout, this, &TForm10::Timer1Timer);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TForm10::~TForm10() = default;

void TForm10::ShowOverview() {
    show();
    raise();
    activateWindow();
}

void TForm10::Timer1Timer() {
    const std::vector<TOverviewChannel> channels =
        FReader ? FReader() : std::vector<TOverviewChannel>{};
    if (isVisible()) {
        FStatus->showMessage(QStringLiteral("System time: ") + Q(tracking::DateTimeText(FClock())));
        bool rebuild = channels.size() != Lines.size();
        for (std::size_t i = 0; !rebuild && i < channels.size(); ++i) {
            rebuild = (Lines[i] != nullptr) != channels[i].Active;
        }
        if (rebuild) RebuildLines(channels);
    }
    for (std::size_t i = 0; i < channels.size() && i < Lines.size(); ++i) {
        QTreeWidgetItem* line = Lines[i];
        if (line == nullptr) continue;
        const tracking::capInfo& cap = channels[i].Cap;
        if (cap.Caption.empty()) {
            line->setText(colPlaying, QString());
            line->setText(colPosition, QString());
        } else {
            line->setText(colPlaying, Q(cap.Caption));
            line->setText(colPosition, Q(OverviewPosition(cap, channels[i].Now)));
        }
    }
}

void TForm10::RebuildLines(const std::vector<TOverviewChannel>& channels) {
    ++FRebuilds;
    FView->clear();
    Lines.assign(channels.size(), nullptr);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (!channels[i].Active) continue;
        Lines[i] = new QTreeWidgetItem(
            FView, {Q(SingleAmpersands(channels[i].Caption)), QString(), QString()});
    }
}

void TForm10::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Timer1Timer();
    FTimer1.start();
    FCloseButton->setFocus();
}

void TForm10::hideEvent(QHideEvent* event) {
    FTimer1.stop();
    QDialog::hideEvent(event);
}

}  // namespace orvane::ui
