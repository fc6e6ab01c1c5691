// The answer channel towards another program: named shared memory and named semaphores that
// hand over a sequence of answers (texts or byte blocks) one at a time, then an end marker.
// Thread: one exchange is driven by one thread at a time; the objects are not shared between
// threads.
//
// One exchange with identifier n (N = n as 8 upper-case hex digits, 255 -> "000000FF") uses,
// each name with a leading "/" as POSIX wants it:
//
//   /{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}.EI<N>   shared memory, 4 bytes: signed 32-bit LE
//                                                   size of the current answer; 0 = end
//   /{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}ES<N>    semaphore used as an auto-reset event:
//                                                   posted by the sender, answer (or end) ready
//   /{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}EC<N>    semaphore used as an auto-reset event:
//                                                   posted by the receiver, answer taken
//   /{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}.TDS<N>  shared memory of exactly the answer's size,
//                                                   present only while one answer is handed over
//
// A text answer is its UTF-16 code units, little-endian, no terminating zero: "Hello" is the
// 10 bytes 48 00 65 00 6C 00 6C 00 6F 00 and the size cell holds 0A 00 00 00.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <semaphore.h>

#include "base/Errors.h"
#include "tracking/IAnswerChannel.h"

namespace orvane::ipc {

/// The prefix of every object name of an exchange.
inline constexpr std::string_view ExchangeGuid = "{8939DB2A-5A75-4CFB-9808-5337A67AF2D1}";
/// How long the sender waits for the receiver to take one answer, in ms.
inline constexpr int AnswerHandOverMs = 1200;

/// A shared memory block or a semaphore could not be made.
class EShmError : public EError {
public:
    using EError::EError;
};

/// N: the identifier as 8 upper-case hexadecimal digits.
std::string ExchangeStringID(std::uint32_t id);
/// The POSIX names of the objects of exchange `id` (each beginning with "/").
std::string SizeCellName(std::uint32_t id);
std::string ServerEventName(std::uint32_t id);
std::string ClientEventName(std::uint32_t id);
std::string AnswerBlockName(std::uint32_t id);
/// A text as the transport sends it: UTF-16 code units, little-endian, no terminating zero.
/// Malformed UTF-8 becomes U+FFFD.
std::vector<std::uint8_t> TextToUtf16Le(std::string_view utf8);
/// The other way round (an odd last byte is ignored); for receivers.
std::string Utf16LeToText(const std::vector<std::uint8_t>& bytes);

/// Owns a system handle (a file descriptor here) and closes it when destroyed.
class THandledObject {
public:
    THandledObject() = default;
    virtual ~THandledObject();
    THandledObject(const THandledObject&) = delete;
    THandledObject& operator=(const THandledObject&) = delete;

protected:
    int FHandle = -1;
};

/// A named event with automatic reset on a POSIX named semaphore: Signal sets it (setting a set
/// event keeps it set once), a successful Wait resets it.
class TEvent {
public:
    /// Creates the event `name` (with its leading "/") exclusively, not set, mode 0600; one
    /// that exists already is opened only when it is this user's with mode 0600. Throws
    /// EShmError naming the event when the system refuses or the event is someone else's
    /// ("Refusing event <name>: it belongs to user id <n>, not to this user").
    explicit TEvent(std::string name);
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Signal();
    /// Clears a set event.
    void Reset();
    /// True when the event was set within `timeoutMs` ms (it is reset again); false on time-out.
    bool Wait(int timeoutMs);
    const std::string& Name() const { return FName; }
    /// Removes the name; processes that opened it keep using it.
    void Unlink();

private:
    std::string FName;
    sem_t* FSem = nullptr;
};

/// A named block of shared memory of a fixed size, mapped whole.
class TSharedMem : public THandledObject {
public:
    /// Creates (size bytes, zeroed, mode 0600, exclusively) or opens the block `name` and maps
    /// it read-write. An existing block is opened only when it is this user's with mode 0600.
    /// Throws EShmError "Error creating shared memory <name> (<system message>)", or
    /// "Refusing shared memory <name>: it belongs to user id <n>, not to this user" /
    /// "...: its mode is 0644, not 0600" for a block that is not ours alone.
    TSharedMem(std::string name, std::int32_t size);
    /// Opens an existing block read-only and maps `size` bytes of it; for receivers. Throws
    /// EShmError as above (a block that is not ours alone is refused), also when the block is
    /// smaller than `size` (reading past its end would kill the reader).
    static TSharedMem OpenExisting(std::string name, std::int32_t size);
    ~TSharedMem() override;
    TSharedMem(TSharedMem&& other) noexcept;

    /// The mapped bytes; FSize of them.
    void* View() const { return FFileView; }
    std::int32_t Size() const { return FSize; }
    /// True when this object created the block (it did not exist before).
    bool Created() const { return FCreated; }
    const std::string& Name() const { return FName; }
    /// Removes the name; existing mappings stay valid.
    void Unlink();

private:
    TSharedMem() = default;
    std::string FName;
    std::int32_t FSize = 0;
    bool FCreated = false;
    void* FFileView = nullptr;
};

/// The size cell and the two events of one exchange.
class TShared {
public:
    virtual ~TShared() = default;

protected:
    TShared(std::uint32_t id);
    TEvent FServerOK;
    TEvent FClientOK;
    TSharedMem FMetaInfo;
    /// Points into the size cell.
    volatile std::int32_t* FSize = nullptr;
};

/// One exchange, named by its identifier.
class TDataExchange : public TShared {
public:
    std::uint32_t ID() const { return FID; }
    const std::string& StringID() const { return FStringID; }

protected:
    explicit TDataExchange(std::uint32_t id);
    std::string FStringID;
    std::uint32_t FID;
};

/// The sending side: answers one by one, each waited for at most 1200 ms, then Done.
class TUniDirDataServer final : public TDataExchange, public tracking::IAnswerChannel {
public:
    /// Creates or opens the objects of exchange `id`; both events start cleared, so a signal
    /// left behind by an earlier exchange of the same number is not taken for an answer.
    /// Throws EShmError.
    explicit TUniDirDataServer(std::uint32_t id);
    /// Removes the exchange's names (the receiver keeps what it opened).
    ~TUniDirDataServer() override;

    /// Hands over `size` bytes: size cell, answer block, server event, then waits up to
    /// 1200 ms for the receiver; the block is released either way. Nothing happens after Done,
    /// and for an empty answer (size 0 would read as the end of the exchange). Returns true
    /// when the receiver took it in time. Throws EShmError when the block cannot be made.
    bool CreateAnswer(const void* data, std::int32_t size);
    /// A text answer as UTF-16 code units (size 2 × length). Never throws: a failure of the
    /// transport is kept in ErrorMessage() and the exchange goes on.
    void CreateAnswer(std::string_view text) override;
    /// Ends the exchange: size 0, server event. Later answers are ignored.
    void Done();

    bool IsDone() const { return FDone; }
    /// The last transport failure of a text answer; empty when none.
    const std::string& ErrorMessage() const { return FErrorMessage; }

private:
    bool FDone = false;
    std::string FErrorMessage;
};

/// The receiving side of an exchange (for programs that asked for an operation, and tests).
class TUniDirDataClient final : public TDataExchange {
public:
    /// Creates or opens the objects of exchange `id`. Throws EShmError.
    explicit TUniDirDataClient(std::uint32_t id);

    enum class TReceive { rcAnswer, rcEnd, rcTimeout, rcLost };
    /// Waits up to `timeoutMs` for the next answer. rcAnswer: `bytes` holds it and, with
    /// `acknowledge`, the sender is told it was taken. rcEnd: the exchange is over. rcLost: the
    /// block was gone (the sender gave up on it) or did not match the size cell.
    TReceive Receive(int timeoutMs, std::vector<std::uint8_t>& bytes, bool acknowledge = true);
};

}  // namespace orvane::ipc
