#include "app/TQtPoster.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <variant>

#include <QCoreApplication>
#include <QThread>

#include "tracking/TSystemClock.h"

namespace orvane::app {

namespace {

/// One posted message travelling through the event queue; the event owns it.
class TPostedEvent final : public QEvent {
public:
    explicit TPostedEvent(tracking::TPostedMessage message)
        : QEvent(TQtPoster::PostedEventType()), Message(std::move(message)) {}
    tracking::TPostedMessage Message;
};

template <class... TFunctions>
struct TOverloaded : TFunctions... {
    using TFunctions::operator()...;
};

}  // namespace

void DispatchPosted(IMainThreadHandler& handler, tracking::TPostedMessage message) {
    using tracking::TActionCode;
    if (auto* entry = std::get_if<tracking::TActivityData>(&message)) {
        handler.AddActivity(std::move(*entry));
        return;
    }
    auto& action = std::get<tracking::TActionMessage>(message);
    auto& payload = action.Payload;
    const auto code = static_cast<std::int32_t>(action.Code);
    switch (action.Code) {
        case TActionCode::acTrayHint:
            if (auto* hint = std::get_if<std::string>(&payload)) {
                handler.TrayHint(std::move(*hint));
                return;
            }
            break;
        case TActionCode::acShowBalloon:
            if (auto* texts = std::get_if<tracking::TTwoStr>(&payload)) {
                handler.ShowBalloon(std::move(*texts));
                return;
            }
            break;
        case TActionCode::acHideBalloon:
            handler.HideBalloon();
            return;
        case TActionCode::acAnnounce:
            if (auto* texts = std::get_if<tracking::TTwoStr>(&payload)) {
                handler.Announce(std::move(*texts));
                return;
            }
            break;
        case TActionCode::acDuplicateDisabled:
            if (auto* object = std::get_if<TRefPtr<TRefCounted>>(&payload)) {
                handler.DuplicateDisabled(std::move(*object));
                return;
            }
            break;
        case TActionCode::acChannelDone:
            if (auto* channel = std::get_if<std::int32_t>(&payload)) {
                handler.ChannelDone(*channel);
                return;
            }
            break;
    }
    std::int64_t lParam = 0;
    if (const auto* number = std::get_if<std::int32_t>(&payload)) lParam = *number;
    handler.UnhandledAction(code, lParam);
}

TQtPoster::TQtPoster(IMainThreadHandler& handler, QObject* parent)
    : QObject(parent), FHandler(handler) {}

TQtPoster::~TQtPoster() = default;

QEvent::Type TQtPoster::PostedEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void TQtPoster::Post(tracking::TPostedMessage message) {
    // postEvent takes the event over and appends it to the receiver thread's queue under that
    // queue's lock, so events of one priority keep the order of the postEvent calls.
    auto event = std::make_unique<TPostedEvent>(std::move(message));
    QCoreApplication::postEvent(this, event.release(), Qt::NormalEventPriority);
}

bool TQtPoster::event(QEvent* event) {
    if (event->type() != PostedEventType()) {
        return QObject::event(event);
    }
    auto* posted = static_cast<TPostedEvent*>(event);
    const bool isActivity = std::holds_alternative<tracking::TActivityData>(posted->Message);
    try {
        DispatchPosted(FHandler, std::move(posted->Message));
    } catch (const std::exception& error) {
        if (isActivity) {
            qWarning("Activity entry lost: %s", error.what());
        } else {
            tracking::TActivityData entry;
            entry.DT = tracking::TSystemClock().Now();
            entry.Str = error.what();
            entry.Icon = tracking::TActivityIcon::aiError;
            try {
                FHandler.AddActivity(std::move(entry));
            } catch (const std::exception& again) {
                qWarning("Activity entry lost: %s", again.what());
            }
        }
    }
    return true;
}

void ProcessPendingEvents() {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() != application->thread()) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace orvane::app
