// The fingerprint properties dialog: filled from the caller's fields, "&Ok" hands the edited
// name back, "&Cancel", Escape and the close box leave the fields alone.
#include "ui/TForm5.h"

#include <functional>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "UiTestApp.h"

namespace orvane::ui {
namespace {

class TForm5Test : public test::TUiTest {
protected:
    static database::TFptProperties Sample() {
        database::TFptProperties properties;
        properties.SongNo = 7;
        properties.EditName = "Hit Song";
        properties.LabelDuration = "3:07";
        properties.FileLabel = "/home/user/Fingerprints/Hit Song.qnf";
        return properties;
    }

    /// Runs `answer` on the modal properties dialog once it shows; a dialog still open after
    /// five seconds is rejected, so a test never blocks.
    static void AnswerModal(std::function<void(TForm5&)> answer) {
        auto tries = std::make_shared<int>(0);
        auto poll = std::make_shared<std::function<void()>>();
        *poll = [answer, tries, poll] {
            if (auto* dialog = qobject_cast<TForm5*>(QApplication::activeModalWidget())) {
                answer(*dialog);
                return;
            }
            if (++*tries < 500) {
                QTimer::singleShot(10, *poll);
            } else if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        };
        QTimer::singleShot(0, *poll);
    }
};

TEST_F(TForm5Test, LooksLikeTheLayout) {
    TForm5 dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Fingerprint Properties"));
    EXPECT_EQ(dialog.size(), QSize(609, 156));
    EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("&Ok"));
    EXPECT_EQ(dialog.OkButton()->geometry(), QRect(222, 127, 75, 23));
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.CancelButton()->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(dialog.CancelButton()->geometry(), QRect(310, 127, 81, 23));
    EXPECT_EQ(dialog.LabelDuration()->text(), QStringLiteral("0:00"));
    EXPECT_TRUE(dialog.FileLabel()->isReadOnly());
    EXPECT_FALSE(dialog.FileLabel()->hasFrame());
    EXPECT_EQ(dialog.FileLabel()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(dialog.EditName()->geometry(), QRect(8, 72, 585, 21));
    EXPECT_EQ(dialog.LabelDuration()->geometry().right() + 1, 593);
}

TEST_F(TForm5Test, ShowsTheCallersFieldsAndSelectsTheWholeName) {
    TForm5 dialog;
    dialog.SetProperties(Sample());
    dialog.show();
    EXPECT_EQ(dialog.SongNo, 7);
    EXPECT_EQ(dialog.EditName()->text(), QStringLiteral("Hit Song"));
    EXPECT_EQ(dialog.LabelDuration()->text(), QStringLiteral("3:07"));
    EXPECT_EQ(dialog.FileLabel()->text(), QStringLiteral("/home/user/Fingerprints/Hit Song.qnf"));
    EXPECT_EQ(dialog.focusWidget(), dialog.EditName());
    EXPECT_EQ(dialog.EditName()->selectedText(), QStringLiteral("Hit Song"));
    EXPECT_EQ(dialog.Properties().FileLabel, Sample().FileLabel);
}

TEST_F(TForm5Test, LongDurationGrowsToTheLeftKeepingItsRightEdge) {
    TForm5 dialog;
    auto properties = Sample();
    properties.LabelDuration = "1234:56";
    dialog.SetProperties(properties);
    const QRect label = dialog.LabelDuration()->geometry();
    EXPECT_EQ(label.right() + 1, 593);
    EXPECT_GE(label.width(),
              dialog.LabelDuration()->fontMetrics().horizontalAdvance(QStringLiteral("1234:56")));
}

TEST_F(TForm5Test, OkHandsTheEditedNameBack) {
    auto properties = Sample();
    AnswerModal([](TForm5& dialog) {
        QTest::keyClicks(dialog.EditName(), QStringLiteral("Renamed "));
        dialog.EditName()->insert(QString::fromUtf8("\xc3\xa4"));
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(TForm5::Execute(nullptr, properties));
    // Typing replaced the selected name; UTF-8 comes back as UTF-8.
    EXPECT_EQ(properties.EditName, "Renamed \xc3\xa4");
    EXPECT_EQ(properties.SongNo, 7);
    EXPECT_EQ(properties.FileLabel, Sample().FileLabel);
}

TEST_F(TForm5Test, EnterInTheNameFieldMeansOk) {
    auto properties = Sample();
    AnswerModal([](TForm5& dialog) {
        dialog.EditName()->setText(QStringLiteral("Other"));
        QTest::keyClick(dialog.EditName(), Qt::Key_Return);
    });
    EXPECT_TRUE(TForm5::Execute(nullptr, properties));
    EXPECT_EQ(properties.EditName, "Other");
}

TEST_F(TForm5Test, CancelEscapeAndTheCloseBoxLeaveTheFieldsAlone) {
    const std::vector<std::pair<const char*, std::function<void(TForm5&)>>> ways = {
        {"Cancel", [](TForm5& d) { QTest::mouseClick(d.CancelButton(), Qt::LeftButton); }},
        {"Escape", [](TForm5& d) { QTest::keyClick(d.EditName(), Qt::Key_Escape); }},
        {"close box", [](TForm5& d) { d.close(); }},
    };
    for (const auto& [name, close] : ways) {
        auto properties = Sample();
        AnswerModal([close = close](TForm5& dialog) {
            dialog.EditName()->setText(QStringLiteral("Not taken"));
            close(dialog);
        });
        EXPECT_FALSE(TForm5::Execute(nullptr, properties)) << name;
        EXPECT_EQ(properties.EditName, "Hit Song") << name;
    }
}

}  // namespace
}  // namespace orvane::ui
