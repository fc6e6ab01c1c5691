// The platform half of the user's events: the definitions' place in the settings store (the
// "Events" group, one subgroup per definition) and the runner that starts an expanded command
// line as a detached process, or opens an address or document with the desktop's opener.
// Thread: TEventReg on the main thread; TEventRunner::exec on any thread (the song tracker may
// report from a file channel's reading thread).
#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "app/RegStuff.h"
#include "tracking/TEventServe.h"
#include "tracking/TPosting.h"

namespace orvane::app {

/// The definitions in the store: group "Events", subgroup per name, holding "Event" (number
/// 0 ... 255), "Command" (text), "Hidden" (0 or 1) and "Priority" (number).
class TEventReg final : public tracking::IEventStore {
public:
    explicit TEventReg(TSettingsLocation location) : FLocation(std::move(location)) {}

    /// The stored names in the store's order (sorted by name).
    std::vector<std::string> getList() override;
    /// Throws EError naming the definition and the value when one is missing or of the wrong
    /// type ("Event \"Log\": the value \"Command\" is missing.").
    tracking::TEventData getDetail(const std::string& name) override;
    /// Throws EInvalidOperation "An event name must not be empty or contain \"/\" or \"\\\"."
    /// for a name that would not come back as one definition.
    void add(const std::string& name, const tracking::TEventData& data) override;
    void deleteAll() override;

private:
    TSettingsLocation FLocation;
};

/// A command line split as the runner does: when it contains a blank and does not begin with
/// "http:", the program is what stands before the first blank and the parameters are the rest
/// from that blank on; otherwise the whole line is the program.
struct TExecCommand {
    std::string Program;
    std::string Parameters;
};
TExecCommand SplitExecCommand(std::string_view commandLine);

/// Splits parameters into arguments much as a POSIX shell splits words: blanks separate; '...'
/// and "..." group; outside quotes a backslash takes the next character literally. Inside
/// either kind of quotes \' and \" stand for the quote character, so a value that Replace
/// quoted comes out exactly as it was; inside "..." also \\ \$ \` stand for the character.
/// Other backslashes stay. An unterminated quote runs to the end. No variables, patterns or
/// redirections: the words go to the program as they are.
std::vector<std::string> SplitParameters(std::string_view parameters);

class TEventRunner final : public tracking::IEventRunner {
public:
    /// `posting` (not owned) must outlive the runner; failures are posted through it.
    explicit TEventRunner(const tracking::TPosting& posting) : FPosting(posting) {}

    /// Starts `commandLine` detached: an executable program (a path, or a name found on PATH)
    /// with the split parameters; an address ("http:...", "mailto:...") or an existing
    /// document or folder through the opener. Hidden: the process's input and output go to the
    /// null device. A program that cannot be started posts the error entry
    /// "Error executing \"program\"". Any thread; never throws.
    void exec(const std::string& commandLine, bool hidden) override;

    /// The desktop's opener of addresses and documents.
    QString Opener = QStringLiteral("xdg-open");

private:
    bool StartDetached(const QString& program, const QStringList& arguments, bool hidden) const;

    const tracking::TPosting& FPosting;
};

}  // namespace orvane::app
