#include "ui/TForm2.h"

#include <utility>

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "base/TimeText.h"
#include "ui/Fonts.h"

namespace orvane::ui {

namespace {

constexpr int Timer1Interval = 1000;
constexpr double SecondsPerKey = 128.0 / 11025.0;

}  // namespace

QString CapturingStatus(std::int64_t keyCount) {
    return QString::fromLatin1(TForm2::CapturingText) + QStringLiteral(" [") +
           QString::fromStdString(MinSecText(static_cast<double>(keyCount) * SecondsPerKey)) +
           QString::fromLatin1(TForm2::LimitText);
}

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Generate fingerprint from audio in"));
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* body = new QWidget(this);
    outer->addWidget(body);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(12, 12, 12, 8);
    column->setSpacing(8);

    Label2 = new QLabel(QStringLiteral("Capturing is in progress. In the meantime you may enter "
                                       "information about the sound clip \nthat you are "
                                       "recording."),
                        body);
    column->addWidget(Label2);

    auto* group = new QGroupBox(QStringLiteral("Information about sound clip"), body);
    column->addWidget(group);
    auto* groupColumn = new QVBoxLayout(group);
    Label3 = new QLabel(QStringLiteral("Artist - song title:"), group);
    groupColumn->addWidget(Label3);
    Edit1 = new QLineEdit(group);
    Edit1->setMinimumWidth(380);
    Label3->setBuddy(Edit1);
    groupColumn->addWidget(Edit1);
    Label4 = new QLabel(QStringLiteral("Please enter the artist's name and the song title, "
                                       "separated by \" - \" (for example \"Artist - Song "
                                       "title\")."),
                        group);
    Label4->setWordWrap(true);
    groupColumn->addWidget(Label4);

    Label1 = new QLabel(
        QStringLiteral("When the song has finished playing choose one of these actions:"), body);
    column->addWidget(Label1);

    auto* buttons = new QHBoxLayout();
    column->addLayout(buttons);
    Button4 = new QPushButton(QStringLiteral("&Stop capturing"), body);
    Button3 = new QPushButton(QStringLiteral("S&ave && close"), body);
    Button2 = new QPushButton(QStringLiteral("&Cancel"), body);
    for (QPushButton* b : {Button4, Button3, Button2}) {
        // Only the button the dialog names is the default; focus must not move it.
        b->setAutoDefault(false);
        b->setMinimumWidth(110);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    FStatusPanel = new QLabel(StatusBar1);
    StatusBar1->addWidget(FStatusPanel, 1);
    outer->addWidget(StatusBar1);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    Timer1 = new QTimer(this);
    Timer1->setInterval(Timer1Interval);

    connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
    connect(Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Edit1, &QLineEdit::textChanged, this, &TForm2::Edit1Change);

    Prepare(TRefPtr<recognition::IRecInfo>(), nullptr);
}

TForm2::~TForm2() = default;

void TForm2::Prepare(TRefPtr<recognition::IRecInfo> capture, recognition::FptRecorder* recorder) {
    FCapture = std::move(capture);
    FRecorder = recorder;
    FStopped = false;
    Edit1->clear();
    Button4->setEnabled(true);
    Button4->setDefault(true);
    Button3->setDefault(false);
    Button3->setEnabled(false);
}

std::string TForm2::TitleText() const { return Edit1->text().toStdString(); }

QString TForm2::StatusText() const { return FStatusPanel->text(); }

void TForm2::SetStatus(const QString& text) { FStatusPanel->setText(text); }

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    SetStatus(QString::fromLatin1(CapturingText));
    FStopped = false;
    Button3->setEnabled(false);
    Edit1->setFocus();
    Button4->setEnabled(true);
    Button4->setDefault(true);
    Button3->setDefault(false);
    Timer1->start();
    Timer1Timer();
}

void TForm2::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) Timer1->stop();
    QDialog::hideEvent(event);
}

void TForm2::Timer1Timer() {
    if (FStopped) return;
    const std::int32_t keys = FCapture ? FCapture->KeyCount() : 0;
    if (recognition::CaptureLimitReached(keys)) {
        StopCapturing();
        return;
    }
    SetStatus(CapturingStatus(keys));
}

void TForm2::StopCapturing() {
    if (FRecorder != nullptr && FCapture) {
        FRecorder->unregisterRecording(FCapture);
    } else if (FCapture) {
        FCapture->Deactivate();
    }
    FStopped = true;
    Timer1->stop();
    Button4->setDefault(false);
    Button4->setEnabled(false);
    Button3->setDefault(true);
    if (!Edit1->text().isEmpty()) {
        Button3->setEnabled(true);
    } else {
        Edit1->setFocus();
    }
    SetStatus(QString::fromLatin1(StoppedText));
}

void TForm2::Button4Click() { StopCapturing(); }

void TForm2::Button3Click() {
    StopCapturing();
    if (Edit1->text().isEmpty()) return;
    if (OnSaveTitle && !OnSaveTitle(TitleText())) {
        Edit1->setFocus();
        Edit1->selectAll();
        return;
    }
    accept();
}

void TForm2::Edit1Change() { Button3->setEnabled(!Edit1->text().isEmpty() && FStopped); }

}  // namespace orvane::ui
