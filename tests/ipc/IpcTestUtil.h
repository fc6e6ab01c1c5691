// Helpers of the ipc tests: one QCoreApplication for the whole test program, the paths of the
// helper programs, and lines read from a child process.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace orvane::test {

/// The application object Qt's sockets and processes need; made once, kept to the end.
inline void EnsureQtApp() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "ipc_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

/// An identifier no other test run on this machine uses at the same time.
inline std::uint32_t UniqueExchangeID(std::uint32_t k) {
    return static_cast<std::uint32_t>(::getpid()) * 64u + k;
}

/// The next line the process writes to stdout, without its line end; empty when none came
/// within `timeoutMs` (the process may also have ended).
inline QString ReadLine(QProcess& process, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!process.canReadLine()) {
        const int left = timeoutMs - static_cast<int>(timer.elapsed());
        if (left <= 0) return QString();
        if (!process.waitForReadyRead(left) && !process.canReadLine()) {
            if (process.state() == QProcess::NotRunning) return QString();
        }
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

/// Reads lines until one equals `wanted` (true) or none comes any more (false); the lines read
/// before it are appended to `seen`.
inline bool WaitForLine(QProcess& process, const QString& wanted, QStringList* seen = nullptr,
                        int timeoutMs = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const QString line = ReadLine(process, timeoutMs - static_cast<int>(timer.elapsed()));
        if (line.isNull()) return false;
        if (line == wanted) return true;
        if (seen != nullptr) seen->append(line);
    }
    return false;
}

/// Another local user for the tests that play an attacker on the same machine.
struct TOtherUser {
    uid_t Uid = 0;
    gid_t Gid = 0;
};

/// The system user "orvane3test" (made when missing); nothing when this process cannot act as
/// another user (it does not run as root), and `why` then says so.
inline std::optional<TOtherUser> OtherUser(std::string& why) {
    if (::geteuid() != 0) {
        why = "needs root to run a second process under another user id";
        return std::nullopt;
    }
    const char* const name = "orvane3test";
    // Tests run side by side may make the user at the same moment: one of them wins.
    for (int attempt = 0; attempt < 3 && ::getpwnam(name) == nullptr; ++attempt) {
        if (attempt > 0) ::sleep(1);
        const int status =
            std::system("useradd -r -M -s /usr/sbin/nologin orvane3test 2>/dev/null");
        (void)status;
    }
    const passwd* entry = ::getpwnam(name);
    if (entry == nullptr) {
        why = "the system user orvane3test could not be made (useradd)";
        return std::nullopt;
    }
    return TOtherUser{entry->pw_uid, entry->pw_gid};
}

/// Whether any user may run `program`: every folder above it open to others, the file
/// readable and executable by others; else `why` says which part is closed.
inline bool AnyoneMayRun(const std::string& program, std::string& why) {
    struct stat info {};
    if (::stat(program.c_str(), &info) != 0 ||
        (info.st_mode & (S_IROTH | S_IXOTH)) != (S_IROTH | S_IXOTH)) {
        why = program + " cannot be run by another user";
        return false;
    }
    for (std::string folder = program; folder.size() > 1;) {
        const auto slash = folder.find_last_of('/');
        if (slash == std::string::npos) break;
        folder = slash == 0 ? "/" : folder.substr(0, slash);
        if (::stat(folder.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) {
            why = "another user cannot enter " + folder + ", where the helper programs are";
            return false;
        }
        if (folder == "/") break;
    }
    return true;
}

/// Starts `program` with `arguments` as `user` (through setpriv, without root's groups).
inline void StartAs(QProcess& process, const TOtherUser& user, const QString& program,
                    const QStringList& arguments) {
    process.start(QStringLiteral("setpriv"),
                  QStringList{QStringLiteral("--reuid=%1").arg(user.Uid),
                              QStringLiteral("--regid=%1").arg(user.Gid),
                              QStringLiteral("--clear-groups"), QStringLiteral("--"), program} +
                      arguments);
}

}  // namespace orvane::test
