#include "UiTestApp.h"

#include <memory>

#include <QApplication>
#include <QtGlobal>

namespace orvane::ui::test {
namespace {

// Holds the application from the first widget test to the end of the test run, and destroys it
// while main still runs (after main, Qt's own globals may be gone).
class TUiEnvironment final : public ::testing::Environment {
public:
    QApplication& App() {
        if (!FApp) {
            // Always offscreen: the same screen and no notification area everywhere.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            FApp = std::make_unique<QApplication>(FArgc, FArgv);
        }
        return *FApp;
    }
    void TearDown() override { FApp.reset(); }

private:
    int FArgc = 1;
    char FName[8] = "ui_test";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QApplication> FApp;
};

// GoogleTest owns the environments it is given.
TUiEnvironment* const Environment = dynamic_cast<TUiEnvironment*>(
    ::testing::AddGlobalTestEnvironment(std::make_unique<TUiEnvironment>().release()));

}  // namespace

QApplication& UiApp() { return Environment->App(); }

}  // namespace orvane::ui::test
