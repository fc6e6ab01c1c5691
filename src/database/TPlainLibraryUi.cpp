#include "database/TPlainLibraryUi.h"

#include <cmath>

namespace orvane::database {

void TPlainProgressDialog::ShowStats(const std::string& title) {
    FPosition = 0;
    FCanc = true;
    FDescription = title;
    FShowing = true;
    FShown.push_back(title);
}

void TPlainProgressDialog::SetState(double share) {
    const int position = static_cast<int>(std::lround(100.0 * share));
    if (position == FPosition) return;
    FPosition = position;
    if (OnProgress) OnProgress(position);
}

void TPlainProgressDialog::HideStats() {
    FCanc = false;
    FShowing = false;
}

void TPlainProgressDialog::PressCancel() { FShowing = false; }

bool TScriptedLibraryWindow::AskYesNo(const std::string& text) {
    Questions.push_back(text);
    if (Answers.empty()) return false;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
}

bool TScriptedLibraryWindow::ShowProperties(TFptProperties& properties) {
    PropertiesShown.push_back(properties);
    return OnProperties ? OnProperties(properties) : false;
}

}  // namespace orvane::database
