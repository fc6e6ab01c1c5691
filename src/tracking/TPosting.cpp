#include "tracking/TPosting.h"

#include <string>
#include <utility>

namespace orvane::tracking {

void TPosting::PostActivity(std::string_view text, TActivityIcon icon, TDateTime time) const {
    TActivityData entry;
    entry.DT = time != 0.0 ? time : FClock.Now();
    entry.Str = std::string(text);
    entry.Icon = icon;
    FPoster.Post(std::move(entry));
}

void TPosting::AnswerOrPostActivity(IAnswerChannel* answer, std::string_view text,
                                    TActivityIcon icon, TDateTime time) const {
    if (answer != nullptr) {
        answer->CreateAnswer(text);
        return;
    }
    PostActivity(text, icon, time);
}

void TPosting::PostAction(TActionCode code, std::int32_t value) const {
    FPoster.Post(TActionMessage{code, value});
}

void TPosting::PostActionText(TActionCode code, std::string_view text) const {
    FPoster.Post(TActionMessage{code, std::string(text)});
}

void TPosting::PostActionTexts(TActionCode code, std::string_view text1,
                               std::string_view text2) const {
    FPoster.Post(TActionMessage{code, TTwoStr{std::string(text1), std::string(text2)}});
}

void TPosting::PostActionObject(TActionCode code, TRefPtr<TRefCounted> object) const {
    FPoster.Post(TActionMessage{code, std::move(object)});
}

}  // namespace orvane::tracking
