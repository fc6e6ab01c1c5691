// Helpers of the settings, poster and events tests: one QCoreApplication for the whole test
// program, a settings store in a temporary folder, and waiting for files written by processes.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/RegStuff.h"
#include "support/TempDir.h"

namespace orvane::app::test {

/// The application object the event loop needs; created once, kept to the end.
inline void EnsureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "app_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
    }
}

/// A store in `dir`/OrvanePro3.conf with `dir`/Documents and `dir`/Music as the user's folders.
inline TSettingsLocation TempLocation(const orvane::test::TTempDir& dir) {
    return TSettingsLocation::File(QString::fromStdString(dir.File("OrvanePro3.conf")),
                                   QString::fromStdString(dir.File("Documents")),
                                   QString::fromStdString(dir.File("Music")));
}

inline std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

/// Waits up to 10 s for `path` to hold at least `lines` lines (a detached process writes it),
/// and returns its text.
inline std::string WaitForLines(const std::string& path, std::size_t lines) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = ReadText(path);
        std::size_t count = 0;
        for (char c : text) count += c == '\n' ? 1 : 0;
        if (count >= lines) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return text;
}

}  // namespace orvane::app::test
