// The user's event definitions: a table of up to 100 named commands, each answering one kind of
// happening (a clip starts, a tracked clip expires ...), and the trigger that runs them.
// Thread: the table is edited on the main thread; TriggerEvent may come from whichever thread
// steps the song tracker (a file channel's reading thread too). One lock guards the table, so a
// trigger sees either the table before an edit or after it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tracking/TPosting.h"

namespace orvane::tracking {

/// The kinds of happening an event definition answers, with the placeholders each comes with
/// (in the order in which they are expanded). No other kind is reported.
enum class TEventKind : std::uint8_t {
    ekClipStarted = 0,        ///< %title, %position, %date, %time (of the heard audio), %channel
    ekClipExpired = 2,        ///< %date, %time (now), %channel
    ekClipAfterIdle = 3,      ///< %date, %time (now), %channel; reported just before ekClipStarted
    ekDuplicateDisabled = 6,  ///< %date, %time (now), %title (disabled), %disabledby (kept)
};

/// What one definition does.
struct TEventData {
    std::uint8_t Event = 0;     ///< the kind of happening (TEventKind)
    std::string Command;        ///< the command line, with placeholders, UTF-8
    bool Hidden = false;        ///< run without showing a window or output
    std::int32_t Priority = 0;  ///< rank: 0 runs first; n definitions hold the ranks 0 ... n-1

    friend bool operator==(const TEventData&, const TEventData&) = default;
};

/// One definition: the user's name for it (unique, it names its place in the store) and its data.
struct TEvent {
    std::string Name;
    TEventData Data;

    friend bool operator==(const TEvent&, const TEvent&) = default;
};

/// Where the definitions are kept (the settings store's "Events" group).
/// Thread: main thread.
class IEventStore {
public:
    virtual ~IEventStore() = default;
    /// Names of the stored definitions, in the store's order.
    virtual std::vector<std::string> getList() = 0;
    /// Reads definition `name`; throws an EError naming the definition and the value when a
    /// value is missing or not of its type.
    virtual TEventData getDetail(const std::string& name) = 0;
    /// Writes definition `name`, replacing one of that name. Throws EInvalidOperation for a
    /// name the store cannot hold (empty, or with a path separator).
    virtual void add(const std::string& name, const TEventData& data) = 0;
    /// Removes every definition.
    virtual void deleteAll() = 0;
};

/// Starts an expanded command line.
class IEventRunner {
public:
    virtual ~IEventRunner() = default;
    /// Starts `commandLine` without waiting for it; a failure is reported by the runner itself
    /// (an activity entry "Error executing \"program\""), never thrown. Any thread.
    virtual void exec(const std::string& commandLine, bool hidden) = 0;
};

class TEventServe {
public:
    /// Slots of the table.
    static constexpr std::int32_t MaxEvents = 100;

    /// `runner` (not owned) must outlive the table; it may be null until SetRunner.
    explicit TEventServe(IEventRunner* runner = nullptr) : FRunner(runner) {}

    /// Replaces the runner. Main thread, while no trigger can run.
    void SetRunner(IEventRunner* runner);
    /// The EventsEnabled setting: triggers run definitions only while it is on. Thread safe.
    void SetEnabled(bool enabled);
    bool Enabled() const;

    /// Number of used slots. Thread safe.
    std::int32_t NoEvents() const;
    /// A copy of slot `slot`; throws EInvalidOperation outside 0 ... NoEvents()-1. Thread safe.
    TEvent Event(std::int32_t slot) const;
    /// Copies of the used slots in slot order. Thread safe.
    std::vector<TEvent> Events() const;

    /// Empties the table, then reads every definition the store lists, in that order. A
    /// definition that cannot be read ends the load with the store's error (those before it stay
    /// loaded). More than 100 definitions: the first 100 are loaded, then EInvalidOperation.
    void getfromreg(IEventStore& store);
    /// Replaces everything in the store by the table, in slot order.
    void savetoreg(IEventStore& store) const;
    /// Appends a definition. Throws EInvalidOperation "No more than 100 events can be defined."
    /// when the table is full.
    void addevent(const std::string& name, const TEventData& data);
    /// Removes slot `slot`, moves later slots down and closes the gap in the ranks (every rank
    /// above the removed one goes down by one). Throws EInvalidOperation for an unused slot.
    void delevent(std::int32_t slot);
    /// The slots in rank order as the preferences list shows them: for rank 0, 1, ... n-1 every
    /// slot with that rank, in slot order. A slot whose rank lies outside 0 ... n-1 is not
    /// listed; slots sharing a rank are all listed at that rank. Thread safe.
    std::vector<std::int32_t> RankOrder() const;
    /// Exchanges the ranks of two slots (moving a definition up or down the list). Throws
    /// EInvalidOperation for an unused slot.
    void SwapPriority(std::int32_t slotA, std::int32_t slotB);

    /// Reports a happening: when events are enabled, runs every definition of `kind` in rank
    /// order (equal ranks in slot order), each with its command expanded by Replace with quoting
    /// and the (placeholder, value) pairs given as one flat list, started by the runner with
    /// its hidden flag. Nothing is thrown: an odd list runs nothing. Any thread.
    void TriggerEvent(std::uint8_t kind, const std::vector<std::string>& pairs) const;

private:
    void CheckSlot(std::int32_t slot) const;

    mutable std::mutex FLock;  // guards every field below
    std::vector<TEvent> FEvents;
    bool FEnabled = false;
    IEventRunner* FRunner;
};

}  // namespace orvane::tracking
