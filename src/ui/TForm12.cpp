#include "ui/TForm12.h"

#include <exception>
#include <utility>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "database/TFptLibrary.h"
#include "ui/Fonts.h"

namespace orvane::ui {
namespace {

// The layout at 96 dpi; Qt scales it.
constexpr int ClientWidth = 420;
constexpr int ClientHeight = 320;

}  // namespace

TForm12::TForm12(TApplyDeletionList apply, QWidget* parent)
    : QDialog(parent), FApply(std::move(apply)) {
    setWindowTitle(QStringLiteral("Deletion List"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    resize(ClientWidth, ClientHeight);
    setMinimumSize(300, 200);
    ShowMessage = [this](const QString& text) {
        QMessageBox::information(this, windowTitle(), text);
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    auto* label = new QLabel(QString::fromLatin1(LabelText), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    layout->addWidget(label);

    FStack = new QStackedWidget(this);
    FMemo1 = new QPlainTextEdit(FStack);
    FMemo1->setObjectName(QStringLiteral("Memo1"));
    FMemo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    FMemo1->setTabChangesFocus(true);
    label->setBuddy(FMemo1);
    FStack->addWidget(FMemo1);
    auto* working = new QWidget(FStack);
    working->setObjectName(QStringLiteral("Panel1"));
    auto* workingLayout = new QVBoxLayout(working);
    workingLayout->addStretch(1);
    FWorkingLabel = new QLabel(QString::fromLatin1(WorkingText), working);
    FWorkingLabel->setAlignment(Qt::AlignCenter);
    workingLayout->addWidget(FWorkingLabel);
    FCancelButton = new QPushButton(QStringLiteral("&Cancel..."), working);
    FCancelButton->setObjectName(QStringLiteral("ButtonCancel"));
    FCancelButton->setFixedSize(75, 23);
    FCancelButton->setAutoDefault(false);
    connect(FCancelButton, &QPushButton::clicked, this, [this] { DoCancel = true; });
    workingLayout->addWidget(FCancelButton, 0, Qt::AlignHCenter);
    workingLayout->addStretch(1);
    FStack->addWidget(working);
    layout->addWidget(FStack, 1);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    FApplyButton = new QPushButton(QStringLiteral("&Apply"), this);
    FApplyButton->setObjectName(QStringLiteral("ButtonApply"));
    FApplyButton->setFixedSize(75, 23);
    FApplyButton->setAutoDefault(false);
    connect(FApplyButton, &QPushButton::clicked, this, &TForm12::ApplyClick);
    buttons->addWidget(FApplyButton);
    FCloseButton = new QPushButton(QStringLiteral("&Close"), this);
    FCloseButton->setObjectName(QStringLiteral("ButtonClose"));
    FCloseButton->setFixedSize(75, 23);
    FCloseButton->setAutoDefault(false);
    connect(FCloseButton, &QPushButton::clicked, this, &TForm12::reject);
    buttons->addWidget(FCloseButton);
    layout->addLayout(buttons);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TForm12::~TForm12() = default;

bool TForm12::Execute(QWidget* parent, database::TFptLibrary& library) {
    TForm12 dialog(
        [&library](std::vector<std::string> lines, bool& doCancel) {
            return library.ApplyDeletionList(std::move(lines), doCancel);
        },
        parent);
    return dialog.exec() == QDialog::Accepted;
}

std::vector<std::string> TForm12::Lines() const {
    std::vector<std::string> lines;
    const QString text = FMemo1->toPlainText();
    if (text.isEmpty()) return lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
    return lines;
}

void TForm12::SetLines(const std::vector<std::string>& lines) {
    QStringList texts;
    for (const std::string& line : lines) texts.push_back(QString::fromStdString(line));
    FMemo1->setPlainText(texts.join(QLatin1Char('\n')));
}

void TForm12::SetWorking(bool working) {
    FWorking = working;
    FStack->setCurrentIndex(working ? 1 : 0);
    FApplyButton->setEnabled(!working);
    FCloseButton->setEnabled(!working);
    if (working) {
        FCancelButton->setFocus();
    } else {
        FMemo1->setFocus();
    }
}

void TForm12::ApplyClick() {
    if (FWorking || !FApply) return;
    DoCancel = false;
    SetWorking(true);
    QCoreApplication::processEvents();
    database::TDeletionListResult result;
    try {
        result = FApply(Lines(), DoCancel);
    } catch (const std::exception& error) {
        // The list stays as the user typed it; the dialog must not stay locked.
        SetWorking(false);
        ShowMessage(QString::fromUtf8(error.what()));
        return;
    }
    SetLines(result.Lines);
    SetWorking(false);
    if (result.Lines.empty()) {
        accept();
    } else if (!result.Cancelled) {
        ShowMessage(
            QString::fromLatin1(database::NotAllMatchedMessage.data(),
                                static_cast<qsizetype>(database::NotAllMatchedMessage.size())));
    }
}

void TForm12::reject() {
    if (FWorking) {
        DoCancel = true;
        return;
    }
    QDialog::reject();
}

}  // namespace orvane::ui
