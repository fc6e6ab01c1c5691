// One running instance per user: a starting process finds the running one by a fixed local
// socket name, hands it its command line and ends once every command has been handled; when no
// instance runs, the process becomes it and accepts the command lines of later starts.
// Thread: main thread only. The running instance handles forwarded commands inside its event
// loop; the forwarding process blocks (without an event loop) until it gets its answer.
//
// The socket and its lock file live in a folder no other user can enter: $XDG_RUNTIME_DIR when
// it is this user's and private, else a folder "orvane3-<uid>" of our own (mode 0700) in the
// temporary folder. Both ends check the other's user id on the connection (SO_PEERCRED) and
// refuse any other user. No wait is unbounded: a running instance that stays silent for
// AnswerTimeoutMs leaves the starting process to go on as an instance of its own (Note() says
// why, for the activity history).
//
// The record a starting process writes, every number unsigned 32-bit little-endian:
//
//   message 0x0000004A   wParam 0   magic 0xCAFEAFFE   size S   command block (S bytes)
//   message 0x00000401   wParam 0                                (bring the window to front)
//
// The command block is the parameters in order, each as UTF-16LE code units and one 0 unit,
// then one more 0 unit: ("a.wav", "/x") is 61 00 2E 00 77 00 61 00 76 00 00 00 2F 00 78 00
// 00 00 00 00, S = 2 × (5 + 1 + 2 + 1 + 1) = 20. The running instance answers each message with
// a signed 32-bit little-endian result: 1 when every command was handled, 0 for a record with
// the wrong magic. While it handles the commands of a record it sends the value 2 ("still
// handling") once a second, so a sender can tell a busy instance from a hung one. A record it
// cannot make sense of (unknown message, a size above 16 MiB, a block that is not a list of
// strings, a connection that ends or stalls mid-record) gets no answer: it is logged and the
// connection closed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace orvane::ipc {

/// The identifier the running instance is found by (the main window class of the system).
inline constexpr char InstanceGuid[] = "{B1D7FCF3-D556-40AE-9DA7-B3DE2EA248DD}";
/// The message codes of the forwarding record.
inline constexpr std::uint32_t WmCopyData = 0x004A;
inline constexpr std::uint32_t WmBringToFront = 0x0401;
/// The magic of a command record.
inline constexpr std::uint32_t CopyDataMagic = 0xCAFEAFFEu;
/// Largest command block the running instance accepts, in bytes.
inline constexpr std::uint32_t MaxCommandBlockBytes = 16u << 20;
/// The text logged for a record with the wrong magic.
inline constexpr char InvalidDataText[] = "Invalid data structure passed in WM_COPYDATA";
/// The answer a running instance sends once a second while it handles a record's commands.
inline constexpr std::int32_t StillHandlingAnswer = 2;
/// How long a sender waits for any answer (the result or "still handling"), in ms.
inline constexpr int AnswerTimeoutMs = 5000;
/// How long a starting process waits for the lock of another one starting at the same time.
inline constexpr int StartLockTimeoutMs = 5000;

/// The folder of this user's instance socket: $XDG_RUNTIME_DIR when it is a folder of this
/// user's that no one else may enter, else "<temporary folder>/orvane3-<uid>", made with mode
/// 0700 when missing and set back to 0700 when ours. Empty when neither can be had; `error`
/// then says why (e.g. the folder belongs to another user).
QString InstanceFolder(QString* error = nullptr);
/// The socket file of this user's instance: the identifier and the user's id, in
/// InstanceFolder(); empty when there is no folder.
QString InstanceName(QString* error = nullptr);
/// The user id at the other end of a connected local socket; nothing when it cannot be told.
std::optional<std::uint32_t> PeerUserId(qintptr socketDescriptor);
/// The command block of `parameters` (layout above).
QByteArray BuildCommandBlock(const QStringList& parameters);
/// The strings of a command block up to the first empty one; nothing when the block is not
/// whole (odd size, or no empty string before its end).
std::optional<QStringList> ParseCommandBlock(const QByteArray& block);
/// One command record: message 0x4A, wParam 0, `magic`, size, block.
QByteArray BuildCommandRecord(const QStringList& parameters, std::uint32_t magic = CopyDataMagic);

class TSingleInstance : public QObject {
    Q_OBJECT

public:
    enum class TStart {
        stForwarded,  ///< a running instance took the command line: end this process now
        stPrimary,    ///< no instance ran: this process is it and accepts command lines
        stSecondary,  ///< an instance runs but refused or failed: go on as an instance of its own
    };

    /// `name` is the socket: empty for the application's (InstanceName()), a bare name for a
    /// socket of that name in InstanceFolder(), a path (with a "/") for exactly that socket
    /// (tests). Nothing happens until Start.
    explicit TSingleInstance(QString name = QString(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    /// The single-instance check of a starting process with its parameters 1…N. Forwards them
    /// to a running instance (blocking while it handles the commands and keeps saying so) or
    /// becomes the instance. A socket left behind by an instance that died does not count as
    /// running. stSecondary comes with Note().
    TStart Start(const QStringList& parameters);

    /// Connects to the running instance; null when none answers within 2 s, or when the
    /// socket's listener is another user (Note() then says so).
    std::unique_ptr<QLocalSocket> FindRunningInstance();
    /// Sends the command record on `socket` and waits for the answer, at most `timeoutMs` of
    /// silence (a "still handling" answer starts the wait again). True exactly when the answer
    /// is 1; then also asks the instance to come to the front. No parameters: nothing is sent
    /// and the result is true. False with Note() set otherwise.
    bool ForwardCommandLine(QLocalSocket& socket, const QStringList& parameters,
                            int timeoutMs = AnswerTimeoutMs);
    /// Listens under the name, removing a stale socket of ours first. False when that fails
    /// (Note() says why).
    bool Listen();
    bool Listening() const;

    /// Why this process does not take part in the single instance as it should (it went on
    /// as an instance of its own, or could not listen): one sentence for the activity
    /// history. Empty when all went well.
    const QString& Note() const { return FNote; }

    /// Called on the main thread with the strings of each command record while its sender
    /// waits; the sender is released with 1 when it returns. Should not throw (a throw is
    /// logged and answered with 0).
    std::function<void(const QStringList& commands)> OnCommands;

    /// Test hook: the magic this process forwards with.
    void SetForwardMagic(std::uint32_t magic) { FForwardMagic = magic; }
    /// How long a connection may stay silent in the middle of a record (ms, default 10000).
    void SetStallTimeout(int ms) { FStallTimeoutMs = ms; }
    const QString& Name() const { return FName; }

Q_SIGNALS:
    /// A later start forwarded successfully: the window should come to the front.
    void bringToFront();
    /// A record was refused; `text` says why (also written to the Qt log).
    void protocolError(const QString& text);

private:
    struct TConnection;
    void OnNewConnection();
    void Process(const std::shared_ptr<TConnection>& connection);
    void Refuse(const std::shared_ptr<TConnection>& connection, const QString& text);

    QString FName;
    QString FNote;
    QLocalServer* FServer = nullptr;
    std::uint32_t FForwardMagic = CopyDataMagic;
    int FStallTimeoutMs = 10000;
};

}  // namespace orvane::ipc
