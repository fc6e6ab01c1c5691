#include "tracking/TEventServe.h"

#include <algorithm>
#include <utility>

#include "base/Errors.h"
#include "tracking/Replace.h"

namespace orvane::tracking {

void TEventServe::SetRunner(IEventRunner* runner) {
    std::lock_guard tableLock(FLock);
    FRunner = runner;
}

void TEventServe::SetEnabled(bool enabled) {
    std::lock_guard tableLock(FLock);
    FEnabled = enabled;
}

bool TEventServe::Enabled() const {
    std::lock_guard tableLock(FLock);
    return FEnabled;
}

std::int32_t TEventServe::NoEvents() const {
    std::lock_guard tableLock(FLock);
    return static_cast<std::int32_t>(FEvents.size());
}

TEvent TEventServe::Event(std::int32_t slot) const {
    std::lock_guard tableLock(FLock);
    CheckSlot(slot);
    return FEvents[static_cast<std::size_t>(slot)];
}

std::vector<TEvent> TEventServe::Events() const {
    std::lock_guard tableLock(FLock);
    return FEvents;
}

void TEventServe::getfromreg(IEventStore& store) {
    {
        std::lock_guard tableLock(FLock);
        FEvents.clear();
    }
    const std::vector<std::string> names = store.getList();
    for (const std::string& name : names) {
        if (NoEvents() >= MaxEvents) {
            throw EInvalidOperation("Only the first " + std::to_string(MaxEvents) + " of " +
                                    std::to_string(names.size()) + " events were loaded.");
        }
        TEventData data = store.getDetail(name);
        std::lock_guard tableLock(FLock);
        FEvents.push_back(TEvent{name, std::move(data)});
    }
}

void TEventServe::savetoreg(IEventStore& store) const {
    const std::vector<TEvent> events = Events();
    store.deleteAll();
    for (const TEvent& event : events) {
        store.add(event.Name, event.Data);
    }
}

void TEventServe::addevent(const std::string& name, const TEventData& data) {
    std::lock_guard tableLock(FLock);
    if (FEvents.size() >= static_cast<std::size_t>(MaxEvents)) {
        throw EInvalidOperation("No more than 100 events can be defined.");
    }
    FEvents.push_back(TEvent{name, data});
}

void TEventServe::delevent(std::int32_t slot) {
    std::lock_guard tableLock(FLock);
    CheckSlot(slot);
    const std::int32_t removedRank = FEvents[static_cast<std::size_t>(slot)].Data.Priority;
    FEvents.erase(FEvents.begin() + slot);
    for (TEvent& event : FEvents) {
        if (event.Data.Priority > removedRank) {
            --event.Data.Priority;
        }
    }
}

std::vector<std::int32_t> TEventServe::RankOrder() const {
    std::lock_guard tableLock(FLock);
    const auto count = static_cast<std::int32_t>(FEvents.size());
    std::vector<std::int32_t> slots;
    for (std::int32_t rank = 0; rank < count; ++rank) {
        for (std::int32_t slot = 0; slot < count; ++slot) {
            if (FEvents[static_cast<std::size_t>(slot)].Data.Priority == rank) {
                slots.push_back(slot);
            }
        }
    }
    return slots;
}

void TEventServe::SwapPriority(std::int32_t slotA, std::int32_t slotB) {
    std::lock_guard tableLock(FLock);
    CheckSlot(slotA);
    CheckSlot(slotB);
    std::swap(FEvents[static_cast<std::size_t>(slotA)].Data.Priority,
              FEvents[static_cast<std::size_t>(slotB)].Data.Priority);
}

void TEventServe::TriggerEvent(std::uint8_t kind, const std::vector<std::string>& pairs) const {
    if (pairs.size() % 2 != 0) {
        return;
    }
    std::vector<TEvent> chosen;
    IEventRunner* runner = nullptr;
    {
        std::lock_guard tableLock(FLock);
        if (!FEnabled || FRunner == nullptr) {
            return;
        }
        runner = FRunner;
        for (const TEvent& event : FEvents) {
            if (event.Data.Event == kind) {
                chosen.push_back(event);
            }
        }
    }
    // Commands run outside the lock: a slow start must not hold up an edit of the table.
    std::stable_sort(chosen.begin(), chosen.end(), [](const TEvent& a, const TEvent& b) {
        return a.Data.Priority < b.Data.Priority;
    });
    for (const TEvent& event : chosen) {
        runner->exec(Replace(event.Data.Command, pairs, true), event.Data.Hidden);
    }
}

void TEventServe::CheckSlot(std::int32_t slot) const {
    if (slot < 0 || slot >= static_cast<std::int32_t>(FEvents.size())) {
        throw EInvalidOperation("There is no event in slot " + std::to_string(slot) + ".");
    }
}

}  // namespace orvane::tracking
