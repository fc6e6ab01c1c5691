// Plain stand-ins for the library's dialogs and window, for the command-line tool and tests:
// a progress dialog that only keeps its state (a test can press Cancel), and a window whose
// message boxes are recorded and whose questions and dialogs get scripted answers.
// Thread: main thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "database/ILibraryUi.h"

namespace orvane::database {

class TPlainProgressDialog final : public IProgressDialog {
public:
    void ShowStats(const std::string& title) override;
    void SetState(double share) override;
    bool Cancelled() const override { return FCanc && !FShowing; }
    void HideStats() override;
    bool Showing() const override { return FShowing; }
    void SetCancelEnabled(bool enabled) override { FCancelEnabled = enabled; }

    /// What the user's Cancel button does: hides the dialog, the task still running.
    void PressCancel();
    /// Called with every SetState that moved the bar (percent 0 ... 100); may press Cancel.
    std::function<void(int percent)> OnProgress;

    const std::string& Description() const { return FDescription; }
    int Position() const { return FPosition; }
    bool CancelEnabled() const { return FCancelEnabled; }
    /// Titles shown, in order.
    const std::vector<std::string>& Shown() const { return FShown; }

private:
    bool FShowing = false;
    bool FCanc = false;
    bool FCancelEnabled = true;
    int FPosition = 0;
    std::string FDescription;
    std::vector<std::string> FShown;
};

class TScriptedLibraryWindow final : public ILibraryWindow {
public:
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    /// Records the question and answers with the next scripted answer (No when none is left).
    bool AskYesNo(const std::string& text) override;
    /// Records the dialog's fields and answers through OnProperties (Cancel when unset).
    bool ShowProperties(TFptProperties& properties) override;
    void ShowDeletionList() override { ++DeletionListShown; }
    void ProcessMessages() override {
        ++ProcessedMessages;
        if (OnProcessMessages) OnProcessMessages();
    }
    void ClearStatusText() override { ++StatusCleared; }
    bool ClearMemoryMenuEnabled() const override { return ClearMemoryEnabled; }
    void SetEnabledMenuChecked(bool checked) override { EnabledChecked = checked; }

    /// Message boxes shown, in order.
    std::vector<std::string> Messages;
    /// Questions asked, in order, and the answers still to give.
    std::vector<std::string> Questions;
    std::deque<bool> Answers;
    /// The properties dialog: edit the fields and return true for OK.
    std::function<bool(TFptProperties&)> OnProperties;
    std::vector<TFptProperties> PropertiesShown;
    std::function<void()> OnProcessMessages;
    int DeletionListShown = 0;
    int ProcessedMessages = 0;
    int StatusCleared = 0;
    bool ClearMemoryEnabled = true;
    bool EnabledChecked = false;
};

}  // namespace orvane::database
