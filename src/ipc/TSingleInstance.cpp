#include "ipc/TSingleInstance.h"

#include <unistd.h>

#include <exception>
#include <utility>

#include <QDir>
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

/// Writes a record and waits for its signed 32-bit answer; nothing when none came.
std::optional<std::int32_t> SendRecord(QLocalSocket& socket, const QByteArray& record, int timeoutMs) {
    if (socket.write(record) != record.size()) return std::nullopt;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs)) return std::nullopt;
    }
    char answer[4];
    if (!ReadExactly(socket, answer, 4, timeoutMs)) return std::nullopt;
    return qFromLittleEndian<std::int32_t>(answer);
}

}  // namespace

QString InstanceName() {
    return QStringLiteral("orvane3-%1-%2").arg(QLatin1String(InstanceGuid)).arg(::getuid());
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

TSingleInstance::TSingleInstance(QString name, QObject* parent)
    : QObject(parent), FName(std::move(name)) {}

TSingleInstance::~TSingleInstance() = default;

std::unique_ptr<QLocalSocket> TSingleInstance::FindRunningInstance() const {
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(FName);
    if (!socket->waitForConnected(2000)) return nullptr;
    return socket;
}

bool TSingleInstance::ForwardCommandLine(QLocalSocket& socket, const QStringList& parameters,
                                         int timeoutMs) const {
    if (!parameters.isEmpty()) {
        const auto result = SendRecord(socket, BuildCommandRecord(parameters, FForwardMagic), timeoutMs);
        if (!result || *result != 1) return false;
    }
    QByteArray front;
    AppendU32(front, WmBringToFront);
    AppendU32(front, 0);
    // Raising the window is a courtesy; the commands were handled whatever it answers.
    SendRecord(socket, front, 5000);
    return true;
}

TSingleInstance::TStart TSingleInstance::Start(const QStringList& parameters) {
    // Two processes starting together must not both find no instance and both take the name.
    QLockFile lock(QDir(QDir::tempPath()).filePath(FName + QStringLiteral(".lock")));
    lock.setStaleLockTime(30000);
    const bool locked = lock.tryLock(10000);
    if (auto socket = FindRunningInstance()) {
        if (locked) lock.unlock();
        return ForwardCommandLine(*socket, parameters) ? TStart::stForwarded : TStart::stSecondary;
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
    // Only called when nobody answered on the name: a socket file there is a crashed
    // instance's leftover.
    QLocalServer::removeServer(FName);
    if (!FServer->listen(FName)) {
        qWarning("single instance: cannot listen on %s: %s", qPrintable(FName),
                 qPrintable(FServer->errorString()));
        return false;
    }
    return true;
}

bool TSingleInstance::Listening() const { return FServer != nullptr && FServer->isListening(); }

void TSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
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
