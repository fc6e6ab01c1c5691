// One running instance per user: a starting process finds the running one by a fixed local
// socket name, hands it its command line and ends once every command has been handled; when no
// instance runs, the process becomes it and accepts the command lines of later starts.
// Thread: main thread only. The running instance handles forwarded commands inside its event
// loop; the forwarding process blocks (without an event loop) until it gets its answer.
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
// the wrong magic. A record it cannot make sense of (unknown message, a size above 16 MiB, a
// block that is not a list of strings, a connection that ends or stalls mid-record) gets no
// answer: it is logged and the connection closed.
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

/// The local socket name of this user's instance: the identifier and the user's id.
QString InstanceName();
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

    /// `name` is the local socket name (InstanceName() for the application; tests pass their
    /// own). Nothing happens until Start.
    explicit TSingleInstance(QString name = InstanceName(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    /// The single-instance check of a starting process with its parameters 1…N. Forwards them
    /// to a running instance (blocking until it has handled every command) or becomes the
    /// instance. A socket left behind by an instance that died does not count as running.
    TStart Start(const QStringList& parameters);

    /// Connects to the running instance; null when none answers.
    std::unique_ptr<QLocalSocket> FindRunningInstance() const;
    /// Sends the command record on `socket` and waits for the answer (`timeoutMs` < 0: as long
    /// as the connection lives). True exactly when the answer is 1; then also asks the instance
    /// to come to the front. No parameters: nothing is sent and the result is true.
    bool ForwardCommandLine(QLocalSocket& socket, const QStringList& parameters,
                            int timeoutMs = -1) const;
    /// Listens under the name, removing a stale socket first. False when that fails.
    bool Listen();
    bool Listening() const;

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
    QLocalServer* FServer = nullptr;
    std::uint32_t FForwardMagic = CopyDataMagic;
    int FStallTimeoutMs = 10000;
};

}  // namespace orvane::ipc
