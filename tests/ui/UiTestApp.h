// One QApplication on the offscreen platform for every widget test, created by the first
// fixture that needs it and kept alive until the process ends.
// Thread: the test's main thread.
#pragma once

#include <gtest/gtest.h>

class QApplication;

namespace orvane::ui::test {

/// The application of the tests (created on first use, never destroyed).
QApplication& UiApp();

/// Base of the widget tests: makes sure the application exists before a suite runs.
class TUiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UiApp(); }
};

}  // namespace orvane::ui::test
