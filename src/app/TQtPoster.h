// Posting to the main thread through the Qt event loop: each message becomes an event of our
// own type posted to a receiver that lives on the main thread, which hands it to the main
// window's handler there. Also the event pump the main thread runs while it waits (the
// recognition pause, a channel restart).
// Thread: Post from any thread; delivery on the thread that created the poster (the main
// thread), whenever its event loop runs.
#pragma once

#include <QEvent>
#include <QObject>

#include "app/IMainThreadHandler.h"
#include "tracking/IMainThreadPoster.h"

namespace orvane::app {

class TQtPoster final : public QObject, public tracking::IMainThreadPoster {
    Q_OBJECT

public:
    /// Delivers to `handler` (not owned; must outlive the poster) on the creating thread.
    explicit TQtPoster(IMainThreadHandler& handler, QObject* parent = nullptr);
    /// Messages still queued are dropped with their payloads (counted references released).
    /// Every posting thread must have stopped posting before.
    ~TQtPoster() override;

    /// Queues `message` as an event and returns at once. Messages arrive in the order of the
    /// Post calls (those of one thread in their own order). Thread safe; never fails.
    void Post(tracking::TPostedMessage message) override;

    /// The event type of our messages (registered once).
    static QEvent::Type PostedEventType();

protected:
    /// Delivers our events to the handler. A handler's exception is caught here (none may
    /// cross the event loop) and becomes an error entry of the activity history.
    bool event(QEvent* event) override;

private:
    IMainThreadHandler& FHandler;
};

/// Runs the main thread's pending events once (posted messages, timers, sockets), so that a
/// waiting main thread keeps the application alive. Does nothing without a QCoreApplication or
/// off the main thread. Main thread.
void ProcessPendingEvents();

}  // namespace orvane::app
