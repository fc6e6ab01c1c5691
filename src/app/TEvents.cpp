#include "app/TEvents.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <exception>
#include <limits>

#include "base/Errors.h"

namespace orvane::app {

namespace {

const QString EventsGroup = QStringLiteral("Events");

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

bool ReadNumber(const QVariant& value, std::int64_t& number) {
    bool ok = false;
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            number = value.toLongLong(&ok);
            return ok;
        case QMetaType::QString:
            number = value.toString().trimmed().toLongLong(&ok, 10);
            return ok;
        default:
            return false;
    }
}

/// A scheme such as "http:" or "mailto:" in front: the line is an address for the opener.
bool IsAddress(const QString& program) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(program).hasMatch() && !QFileInfo::exists(program);
}

}  // namespace

// --- store -----------------------------------------------------------------------------------

std::vector<std::string> TEventReg::getList() {
    const std::unique_ptr<QSettings> store = FLocation.Open();
    store->beginGroup(EventsGroup);
    std::vector<std::string> names;
    for (const QString& name : store->childGroups()) {
        names.push_back(name.toStdString());
    }
    return names;
}

tracking::TEventData TEventReg::getDetail(const std::string& name) {
    const std::unique_ptr<QSettings> store = FLocation.Open();
    store->beginGroup(EventsGroup);
    store->beginGroup(FromUtf8(name));
    auto fail = [&name](const char* value, const char* problem) {
        throw EError("Event \"" + name + "\": the value \"" + value + "\" " + problem + ".");
    };
    auto number = [&](const char* value, std::int64_t minimum, std::int64_t maximum) {
        const QString key = QString::fromLatin1(value);
        if (!store->contains(key)) fail(value, "is missing");
        std::int64_t result = 0;
        if (!ReadNumber(store->value(key), result)) fail(value, "is not a whole number");
        if (result < minimum || result > maximum) fail(value, "is out of range");
        return result;
    };
    tracking::TEventData data;
    data.Event = static_cast<std::uint8_t>(number("Event", 0, 255));
    const QString commandKey = QStringLiteral("Command");
    if (!store->contains(commandKey)) fail("Command", "is missing");
    const QVariant command = store->value(commandKey);
    if (command.typeId() != QMetaType::QString) fail("Command", "is not a text");
    data.Command = command.toString().toStdString();
    data.Hidden = number("Hidden", std::numeric_limits<std::int32_t>::min(),
                         std::numeric_limits<std::int32_t>::max()) != 0;
    data.Priority = static_cast<std::int32_t>(number("Priority",
                                                     std::numeric_limits<std::int32_t>::min(),
                                                     std::numeric_limits<std::int32_t>::max()));
    return data;
}

void TEventReg::add(const std::string& name, const tracking::TEventData& data) {
    // The store's group separators would turn such a name into nested groups.
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
        throw EInvalidOperation("An event name must not be empty or contain \"/\" or \"\\\".");
    }
    const std::unique_ptr<QSettings> store = FLocation.Open();
    store->beginGroup(EventsGroup);
    store->beginGroup(FromUtf8(name));
    store->setValue(QStringLiteral("Event"), static_cast<int>(data.Event));
    store->setValue(QStringLiteral("Command"), FromUtf8(data.Command));
    store->setValue(QStringLiteral("Hidden"), data.Hidden ? 1 : 0);
    store->setValue(QStringLiteral("Priority"), data.Priority);
}

void TEventReg::deleteAll() {
    const std::unique_ptr<QSettings> store = FLocation.Open();
    store->remove(EventsGroup);
}

// --- runner ----------------------------------------------------------------------------------

TExecCommand SplitExecCommand(std::string_view commandLine) {
    const std::size_t blank = commandLine.find(' ');
    if (blank != std::string_view::npos && commandLine.substr(0, 5) != "http:") {
        return {std::string(commandLine.substr(0, blank)),
                std::string(commandLine.substr(blank))};
    }
    return {std::string(commandLine), {}};
}

std::vector<std::string> SplitParameters(std::string_view parameters) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    std::size_t i = 0;
    const std::size_t n = parameters.size();
    while (i < n) {
        const char c = parameters[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            ++i;
        } else if (c == '\'') {
            inWord = true;
            ++i;
            while (i < n && parameters[i] != '\'') {
                if (parameters[i] == '\\' && i + 1 < n &&
                    (parameters[i + 1] == '\'' || parameters[i + 1] == '"')) {
                    ++i;
                }
                word.push_back(parameters[i]);
                ++i;
            }
            ++i;  // the closing quote, or past the end
        } else if (c == '"') {
            inWord = true;
            ++i;
            while (i < n && parameters[i] != '"') {
                if (parameters[i] == '\\' && i + 1 < n) {
                    const char next = parameters[i + 1];
                    if (next == '"' || next == '\'' || next == '\\' || next == '$' ||
                        next == '`') {
                        ++i;
                    }
                }
                word.push_back(parameters[i]);
                ++i;
            }
            ++i;
        } else if (c == '\\') {
            inWord = true;
            if (i + 1 < n) {
                ++i;
            }
            word.push_back(parameters[i]);
            ++i;
        } else {
            inWord = true;
            word.push_back(c);
            ++i;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

void TEventRunner::exec(const std::string& commandLine, bool hidden) {
    const TExecCommand command = SplitExecCommand(commandLine);
    bool started = false;
    try {
        const QString program = FromUtf8(command.Program);
        QString executable;
        if (!program.isEmpty()) {
            if (program.contains(QLatin1Char('/'))) {
                const QFileInfo info(program);
                if (info.isFile() && info.isExecutable()) executable = info.absoluteFilePath();
            } else {
                executable = QStandardPaths::findExecutable(program);
            }
        }
        if (!executable.isEmpty()) {
            QStringList arguments;
            for (const std::string& argument : SplitParameters(command.Parameters)) {
                arguments.append(FromUtf8(argument));
            }
            started = StartDetached(executable, arguments, hidden);
        } else if (!program.isEmpty() && (IsAddress(program) || QFileInfo::exists(program))) {
            started = StartDetached(Opener, {program}, hidden);
        }
    } catch (const std::exception&) {
        started = false;
    }
    if (!started) {
        FPosting.PostActivity("Error executing \"" + command.Program + "\"",
                              tracking::TActivityIcon::aiError);
    }
}

bool TEventRunner::StartDetached(const QString& program, const QStringList& arguments,
                                 bool hidden) const {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (hidden) {
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
    }
    return process.startDetached();
}

}  // namespace orvane::app
