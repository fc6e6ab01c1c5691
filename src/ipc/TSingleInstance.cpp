#include "ipc/TSingleInstance.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <stop_token>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QTimer>
#include <QtEndian>

namespace orvane::ipc {

namespace {

void AppendU32(QByteArray& bytes, std::uint32_t value) {
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

std::uint32_t U32At(const QByteArray& bytes, qsizetype offset) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + offset);
}

/// Reads exactly `count` bytes, waiting as long as `timeoutMs` allows (< 0: while connected).
bool ReadExactly(QLocalSocket& socket, char* out, qint64 count, int timeoutMs) {
    qint64 got = 0;
    while (got < count) {
        const qint64 n = socket.read(out + got, count - got);
        if (n < 0) return false;
        got += n;
        if (got < count && !socket.waitForReadyRead(timeoutMs)) {
            if (socket.bytesAvailable() <= 0) return false;
        }
    }
    return true;
}

/// Writes a record and waits for its signed 32-bit answer, at most `timeoutMs` of silence;
/// "still handling" answers are skipped. Nothing when no answer came.
std::optional<std::int32_t> SendRecord(QLocalSocket& socket, const QByteArray& record, int timeoutMs) {
    if (socket.write(record) != record.size()) return std::nullopt;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs)) return std::nullopt;
    }
    for (;;) {
        char answer[4];
        if (!ReadExactly(socket, answer, 4, timeoutMs)) return std::nullopt;
        const auto value = qFromLittleEndian<std::int32_t>(answer);
        if (value != StillHandlingAnswer) return value;
    }
}

QString SystemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

/// True when `path` is a folder (not a link) of this user's that nobody else may enter.
bool IsPrivateFolder(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

/// The largest socket path the system takes.
constexpr std::size_t MaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

/// While a record's commands are handled the main thread may not come back to the event loop
/// for a long time (fingerprinting a file), so a thread of its own tells the sender once a
/// second that the instance is still at it. It writes on the socket's descriptor directly, and
/// only while the main thread writes nothing there.
class THeartbeat {
public:
    explicit THeartbeat(qintptr descriptor)
        : FThread([this, descriptor](std::stop_token stop) {
              Run(stop, static_cast<int>(descriptor));
          }) {}
    ~THeartbeat() {
        FThread.request_stop();
        FWake.notify_all();
    }
    THeartbeat(const THeartbeat&) = delete;
    THeartbeat& operator=(const THeartbeat&) = delete;

private:
    void Run(const std::stop_token& stop, int fd) {
        char le[4];
        qToLittleEndian(StillHandlingAnswer, le);
        std::unique_lock lock(FMutex);
        while (!FWake.wait_for(lock, stop, std::chrono::seconds(1), [] { return false; })) {
            if (stop.stop_requested()) return;
            // A sender that stopped reading is not waited for: the beat is dropped instead.
            if (::send(fd, le, sizeof le, MSG_NOSIGNAL | MSG_DONTWAIT) != sizeof le) return;
        }
    }

    std::mutex FMutex;
    std::condition_variable_any FWake;
    std::jthread FThread;  // last: it runs on the members above
};

}  // namespace

QString InstanceFolder(QString* error) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateFolder(runtime)) return runtime;

    const QString folder =
        QDir(QDir::tempPath()).filePath(QStringLiteral("orvane3-%1").arg(::getuid()));
    const QByteArray native = QFile::encodeName(folder);
    const auto fail = [&](const QString& why) {
        if (error != nullptr) *error = why;
        return QString();
    };
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        return fail(
            QStringLiteral("the folder %1 cannot be made: %2").arg(folder, SystemText(errno)));
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        return fail(
            QStringLiteral("the folder %1 cannot be read: %2").arg(folder, SystemText(errno)));
    }
    if (!S_ISDIR(info.st_mode)) {
        return fail(QStringLiteral("%1 is not a folder").arg(folder));
    }
    if (info.st_uid != ::getuid()) {
        return fail(QStringLiteral("the folder %1 belongs to user id %2, not to this user")
                        .arg(folder)
                        .arg(info.st_uid));
    }
    if ((info.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0) {
        return fail(QStringLiteral("the folder %1 cannot be made private: %2")
                        .arg(folder, SystemText(errno)));
    }
    return folder;
}

QString InstanceName(QString* error) {
    const QString folder = InstanceFolder(error);
    if (folder.isEmpty()) return folder;
    return QDir(folder).filePath(
        QStringLiteral("orvane3-%1-%2").arg(QLatin1String(InstanceGuid)).arg(::getuid()));
}

std::optional<std::uint32_t> PeerUserId(qintptr socketDescriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (socketDescriptor < 0 ||
        ::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) != 0 ||
        size != sizeof credentials) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(credentials.uid);
}

QByteArray BuildCommandBlock(const QStringList& parameters) {
    QByteArray block;
    for (const QString& p : parameters) {
        for (const QChar c : p) {
            block.append(static_cast<char>(c.unicode() & 0xFF));
            block.append(static_cast<char>(c.unicode() >> 8));
        }
        block.append(2, '\0');
    }
    block.append(2, '\0');
    return block;
}

std::optional<QStringList> ParseCommandBlock(const QByteArray& block) {
    if (block.size() % 2 != 0) return std::nullopt;
    QStringList strings;
    std::u16string current;
    for (qsizetype i = 0; i + 1 < block.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<std::uint8_t>(block[i]) |
                                                (static_cast<std::uint8_t>(block[i + 1]) << 8));
        if (unit != 0) {
            current.push_back(unit);
            continue;
        }
        if (current.empty()) return strings;
        strings.append(QString::fromUtf16(current.data(), static_cast<qsizetype>(current.size())));
        current.clear();
    }
    return std::nullopt;
}

QByteArray BuildCommandRecord(const QStringList& parameters, std::uint32_t magic) {
    const QByteArray block = BuildCommandBlock(parameters);
    QByteArray record;
    AppendU32(record, WmCopyData);
    AppendU32(record, 0);
    AppendU32(record, magic);
    AppendU32(record, static_cast<std::uint32_t>(block.size()));
    record.append(block);
    return record;
}

// --- TSingleInstance -------------------------------------------------------------------------

struct TSingleInstance::TConnection {
    QPointer<QLocalSocket> Socket;
    QByteArray Buffer;
    QPointer<QTimer> Stall;
    bool Busy = false;
};

TSingleInstance::TSingleInstance(QString name, QObject* parent) : QObject(parent) {
    QString error;
    if (name.contains(QLatin1Char('/'))) {
        FName = std::move(name);
    } else if (name.isEmpty()) {
        FName = InstanceName(&error);
    } else if (const QString folder = InstanceFolder(&error); !folder.isEmpty()) {
        FName = QDir(folder).filePath(name);
    }
    if (!FName.isEmpty() &&
        static_cast<std::size_t>(QFile::encodeName(FName).size()) > MaxSocketPath) {
        error = QStringLiteral("the socket path %1 is too long").arg(FName);
        FName.clear();
    }
    if (FName.isEmpty()) {
        FNote = QStringLiteral("Single instance: %1; this window runs as an instance of its own.")
                    .arg(error);
    }
}

TSingleInstance::~TSingleInstance() = default;

std::unique_ptr<QLocalSocket> TSingleInstance::FindRunningInstance() {
    if (FName.isEmpty()) return nullptr;
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(FName);
    if (!socket->waitForConnected(2000)) return nullptr;
    // Whoever listens there gets our command line (file paths): only ourselves.
    const auto peer = PeerUserId(socket->socketDescriptor());
    if (!peer || *peer != ::getuid()) {
        FNote = QStringLiteral(
                    "Single instance: the socket %1 is held by user id %2, not by this "
                    "user; this window runs as an instance of its own.")
                    .arg(FName, peer ? QString::number(*peer) : QStringLiteral("(unknown)"));
        qWarning("%s", qPrintable(FNote));
        socket->abort();
        return nullptr;
    }
    return socket;
}

bool TSingleInstance::ForwardCommandLine(QLocalSocket& socket, const QStringList& parameters,
                                         int timeoutMs) {
    if (!parameters.isEmpty()) {
        const auto result = SendRecord(socket, BuildCommandRecord(parameters, FForwardMagic), timeoutMs);
        if (!result) {
            FNote = QStringLiteral(
                        "The running orvane3 did not answer within %1 seconds; this "
                        "window runs as an instance of its own.")
                        .arg(timeoutMs / 1000.0);
            qWarning("%s", qPrintable(FNote));
            return false;
        }
        if (*result != 1) {
            FNote = QStringLiteral(
                "The running orvane3 refused the command line; this window "
                "runs as an instance of its own.");
            return false;
        }
    }
    QByteArray front;
    AppendU32(front, WmBringToFront);
    AppendU32(front, 0);
    // Raising the window is a courtesy; the commands were handled whatever it answers.
    SendRecord(socket, front, 5000);
    return true;
}

TSingleInstance::TStart TSingleInstance::Start(const QStringList& parameters) {
    if (FName.isEmpty()) return TStart::stSecondary;
    // Two processes starting together must not both find no instance and both take the name.
    // The lock lies beside the socket, in a folder only this user can write.
    QLockFile lock(FName + QStringLiteral(".lock"));
    lock.setStaleLockTime(30000);
    const bool locked = lock.tryLock(StartLockTimeoutMs);
    if (auto socket = FindRunningInstance()) {
        if (locked) lock.unlock();
        return ForwardCommandLine(*socket, parameters) ? TStart::stForwarded : TStart::stSecondary;
    }
    if (!FNote.isEmpty()) {
        // Someone else's socket: neither removed nor replaced.
        if (locked) lock.unlock();
        return TStart::stSecondary;
    }
    const bool listening = Listen();
    if (locked) lock.unlock();
    return listening ? TStart::stPrimary : TStart::stSecondary;
}

bool TSingleInstance::Listen() {
    if (FServer == nullptr) {
        FServer = new QLocalServer(this);
        FServer->setSocketOptions(QLocalServer::UserAccessOption);
        connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::OnNewConnection);
    }
    if (FServer->isListening()) return true;
    if (FName.isEmpty()) return false;
    // Only called when nobody answered on the name: a socket file of ours there is a crashed
    // instance's leftover. Another user's file stays.
    struct stat info {};
    const QByteArray native = QFile::encodeName(FName);
    if (::lstat(native.constData(), &info) == 0) {
        if (info.st_uid != ::getuid()) {
            FNote = QStringLiteral(
                        "Single instance: %1 belongs to user id %2, not to this user; "
                        "this window runs as an instance of its own.")
                        .arg(FName)
                        .arg(info.st_uid);
            qWarning("%s", qPrintable(FNote));
            return false;
        }
        QLocalServer::removeServer(FName);
    }
    if (!FServer->listen(FName)) {
        FNote = QStringLiteral(
                    "Single instance: cannot listen on %1 (%2); this window runs as an "
                    "instance of its own.")
                    .arg(FName, FServer->errorString());
        qWarning("%s", qPrintable(FNote));
        return false;
    }
    return true;
}

bool TSingleInstance::Listening() const { return FServer != nullptr && FServer->isListening(); }

void TSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        // Only this user's own later starts may hand over command lines.
        const auto peer = PeerUserId(socket->socketDescriptor());
        if (!peer || *peer != ::getuid()) {
            const QString text =
                QStringLiteral("single instance: connection from user id %1 refused")
                    .arg(peer ? QString::number(*peer) : QStringLiteral("(unknown)"));
            qWarning("%s", qPrintable(text));
            Q_EMIT protocolError(text);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_shared<TConnection>();
        connection->Socket = socket;
        connection->Stall = new QTimer(socket);
        connection->Stall->setSingleShot(true);
        connection->Stall->setInterval(FStallTimeoutMs);
        connect(connection->Stall, &QTimer::timeout, this, [this, connection] {
            if (connection->Busy || connection->Buffer.isEmpty()) return;
            Refuse(connection, QStringLiteral("single instance: record incomplete after %1 ms "
                                              "(%2 bytes received); connection closed")
                                   .arg(FStallTimeoutMs)
                                   .arg(connection->Buffer.size()));
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, connection] {
            if (!connection->Socket) return;
            connection->Buffer.append(connection->Socket->readAll());
            Process(connection);
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, connection] {
            if (!connection->Busy && !connection->Buffer.isEmpty()) {
                const QString text =
                    QStringLiteral("single instance: truncated record (%1 bytes) dropped")
                        .arg(connection->Buffer.size());
                qWarning("%s", qPrintable(text));
                Q_EMIT protocolError(text);
                connection->Buffer.clear();
            }
            if (connection->Socket) connection->Socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0) {
            connection->Buffer.append(socket->readAll());
            Process(connection);
        }
    }
}

void TSingleInstance::Refuse(const std::shared_ptr<TConnection>& connection, const QString& text) {
    qWarning("%s", qPrintable(text));
    connection->Buffer.clear();
    Q_EMIT protocolError(text);
    if (connection->Socket) connection->Socket->abort();
}

void TSingleInstance::Process(const std::shared_ptr<TConnection>& connection) {
    // A command's handling keeps the event loop running, so more bytes of this connection may
    // arrive meanwhile: they wait in the buffer for the loop below.
    if (connection->Busy) return;
    connection->Busy = true;
    auto reply = [&](std::int32_t value) {
        if (!connection->Socket) return;
        char le[4];
        qToLittleEndian(value, le);
        connection->Socket->write(le, 4);
        connection->Socket->flush();
    };
    for (;;) {
        QByteArray& buffer = connection->Buffer;
        if (buffer.size() < 8) break;
        const std::uint32_t message = U32At(buffer, 0);
        if (message == WmBringToFront) {
            buffer.remove(0, 8);
            Q_EMIT bringToFront();
            reply(1);
            continue;
        }
        if (message != WmCopyData) {
            connection->Busy = false;
            Refuse(connection, QStringLiteral("single instance: unknown message 0x%1 refused; "
                                              "connection closed")
                                   .arg(message, 8, 16, QLatin1Char('0')));
            return;
        }
        if (buffer.size() < 16) break;
        const std::uint32_t magic = U32At(buffer, 8);
        const std::uint32_t size = U32At(buffer, 12);
        if (size > MaxCommandBlockBytes) {
            connection->Busy = false;
            Refuse(connection, QStringLiteral("single instance: command block of %1 bytes refused "
                                              "(at most %2); connection closed")
                                   .arg(size)
                                   .arg(MaxCommandBlockBytes));
            return;
        }
        if (static_cast<std::uint64_t>(buffer.size()) < 16u + size) break;
        const QByteArray block = buffer.mid(16, size);
        buffer.remove(0, 16 + static_cast<qsizetype>(size));
        if (magic != CopyDataMagic) {
            const QString text = QLatin1String(InvalidDataText);
            qWarning("single instance: %s (magic 0x%08X)", InvalidDataText, magic);
            Q_EMIT protocolError(text);
            reply(0);
            continue;
        }
        const auto commands = ParseCommandBlock(block);
        if (!commands) {
            connection->Busy = false;
            Refuse(connection, QStringLiteral("single instance: command block of %1 bytes is not "
                                              "a list of strings; connection closed")
                                   .arg(size));
            return;
        }
        std::int32_t result = 1;
        if (OnCommands) {
            // Earlier answers go out first: the heartbeat writes past Qt's buffer.
            if (connection->Socket) {
                connection->Socket->flush();
                while (connection->Socket && connection->Socket->bytesToWrite() > 0 &&
                       connection->Socket->waitForBytesWritten(AnswerTimeoutMs)) {
                }
            }
            std::optional<THeartbeat> heartbeat;
            if (connection->Socket && connection->Socket->bytesToWrite() == 0) {
                heartbeat.emplace(connection->Socket->socketDescriptor());
            }
            try {
                OnCommands(*commands);
            } catch (const std::exception& e) {
                qWarning("single instance: forwarded commands failed: %s", e.what());
                result = 0;
            }
        }
        reply(result);
    }
    connection->Busy = false;
    if (connection->Stall && connection->Socket) {
        if (connection->Buffer.isEmpty()) {
            connection->Stall->stop();
        } else {
            connection->Stall->start();
        }
    }
}

}  // namespace orvane::ipc
