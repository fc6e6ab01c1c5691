// The deletion list over a library loaded from a temporary fingerprint folder: matched titles
// get the X mark, the titles that matched nothing stay with a message, a list that matched
// completely closes the dialog, and the user can stop a long run.
#include "ui/TForm12.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "UiTestApp.h"
#include "database/LibraryTestKit.h"

namespace orvane::ui {
namespace {

using database::test::TLibraryKit;

class TForm12Test : public test::TUiTest {
protected:
    void SetUp() override {
        Kit.Library.LoadFingerprintFile(Kit.AddClip("Hit Song", 1), nullptr);
        Kit.Library.LoadFingerprintFile(Kit.AddClip("Other", 2), nullptr);
        ASSERT_EQ(Kit.Songs.Count(), 2);
    }

    /// A dialog over the kit's library whose messages are recorded.
    std::unique_ptr<TForm12> Make() {
        auto dialog =
            std::make_unique<TForm12>([this](std::vector<std::string> lines, bool& doCancel) {
                return Kit.Library.ApplyDeletionList(std::move(lines), doCancel);
            });
        dialog->ShowMessage = [this](const QString& text) {
            Messages.push_back(text.toStdString());
        };
        return dialog;
    }

    std::int32_t IconOf(const std::string& title) {
        for (const auto& row : Kit.View.Rows()) {
            if (row.Caption == title) return row.ImageIndex;
        }
        return -1;
    }

    TLibraryKit Kit;
    std::vector<std::string> Messages;
};

TEST_F(TForm12Test, LooksLikeTheLayout) {
    auto dialog = Make();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Deletion List"));
    EXPECT_NE(dialog->findChild<QLabel*>(QStringLiteral("Label1")), nullptr);
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("Add titles to be deleted to the Deletion List and press Apply."));
    EXPECT_EQ(dialog->ApplyButton()->text(), QStringLiteral("&Apply"));
    EXPECT_EQ(dialog->CloseButton()->text(), QStringLiteral("&Close"));
    EXPECT_EQ(dialog->CancelButton()->text(), QStringLiteral("&Cancel..."));
    EXPECT_EQ(dialog->WorkingLabel()->text(), QStringLiteral("Working. Please wait..."));
    EXPECT_TRUE(dialog->Memo1()->toPlainText().isEmpty());
}

TEST_F(TForm12Test, MarksMatchedTitlesKeepsTheOthersAndSaysSo) {
    auto dialog = Make();
    dialog->show();
    dialog->Memo1()->setPlainText(QStringLiteral("  hit song  \nNot Loaded\n"));
    dialog->ApplyClick();

    EXPECT_EQ(IconOf("Hit Song"), 6);
    EXPECT_EQ(IconOf("Other"), 0);
    EXPECT_EQ(dialog->Memo1()->toPlainText(), QStringLiteral("Not Loaded"));
    EXPECT_EQ(Messages, std::vector<std::string>{"Not all titles could be matched."});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->Memo1()->isVisible());
    EXPECT_TRUE(dialog->ApplyButton()->isEnabled());
    EXPECT_TRUE(dialog->CloseButton()->isEnabled());
}

TEST_F(TForm12Test, ClosesWithOkWhenEveryTitleMatched) {
    Kit.Select("Other");
    Kit.Library.FptEnabledClick();  // disabled: icon 1, marked: 7
    auto dialog = Make();
    dialog->show();
    dialog->SetLines({"OTHER", "", "Hit Song"});
    dialog->ApplyClick();
    EXPECT_EQ(IconOf("Hit Song"), 6);
    EXPECT_EQ(IconOf("Other"), 7);
    EXPECT_TRUE(Messages.empty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(dialog->Lines().empty());
}

TEST_F(TForm12Test, DisablesItsButtonsAndHidesTheMemoWhileMatching) {
    bool sawWorking = false;
    TForm12 dialog([&](std::vector<std::string> lines, bool& doCancel) {
        sawWorking = !dialog.ApplyButton()->isEnabled() && !dialog.CloseButton()->isEnabled() &&
                     !dialog.Memo1()->isVisible() && dialog.WorkingLabel()->isVisible() &&
                     dialog.Working();
        return Kit.Library.ApplyDeletionList(std::move(lines), doCancel);
    });
    dialog.ShowMessage = [this](const QString& text) { Messages.push_back(text.toStdString()); };
    dialog.show();
    dialog.SetLines({"Other"});
    dialog.ApplyClick();
    EXPECT_TRUE(sawWorking);
    EXPECT_FALSE(dialog.Working());
    EXPECT_EQ(IconOf("Other"), 6);
}

TEST_F(TForm12Test, CancelOrEscapeStopsALongRunSilentlyAndKeepsTheUnmatchedTitles) {
    for (bool byEscape : {false, true}) {
        TLibraryKit kit;
        for (int i = 0; i < 4; ++i) {
            kit.Library.LoadFingerprintFile(
                kit.AddClip("T" + std::to_string(i), static_cast<std::uint32_t>(i), 20), nullptr);
        }
        database::test::TTickingClock clock;
        clock.Step = 300;  // past half a second from the second row on
        int pumped = 0;
        TForm12 dialog([&](std::vector<std::string> lines, bool& doCancel) {
            return database::ApplyDeletionList(
                std::move(lines), kit.Songs, clock,
                [&] {
                    // The user, while the rows are walked.
                    if (++pumped != 1) return;
                    if (byEscape) {
                        dialog.reject();
                    } else {
                        dialog.CancelButton()->click();
                    }
                },
                doCancel);
        });
        std::vector<std::string> messages;
        dialog.ShowMessage = [&](const QString& text) { messages.push_back(text.toStdString()); };
        dialog.show();
        dialog.SetLines({"T3", "T0"});
        dialog.ApplyClick();
        EXPECT_EQ(pumped, 1);
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(dialog.isVisible()) << "Escape stops the run, not the dialog";
        EXPECT_EQ(dialog.Lines(), (std::vector<std::string>{"T3", "T0"}));
        EXPECT_TRUE(dialog.ApplyButton()->isEnabled());
        EXPECT_TRUE(dialog.Memo1()->isVisible());
    }
}

TEST_F(TForm12Test, CloseButtonClosesWithoutMatching) {
    auto dialog = Make();
    dialog->show();
    dialog->SetLines({"Hit Song"});
    dialog->CloseButton()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(IconOf("Hit Song"), 0);
}

}  // namespace
}  // namespace orvane::ui
