#include "app/TCommandHandler.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFileInfo>

#include "base/TextCodec.h"

namespace orvane::app {

namespace {

using tracking::TActivityIcon;

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

/// The extension of a fingerprint command's name replaced by ".qnf" (added when it has none).
std::string WithQnfExtension(const std::string& path) {
    const std::string ext = UpperExtension(path);
    return path.substr(0, path.size() - ext.size()) + ".qnf";
}

/// Reports a fingerprinting run through the answer channel or the activity history and lets
/// the library, the recognition pause and the progress dialog do their parts.
class TCommandExtractHost final : public audio::IExtractHost {
public:
    TCommandExtractHost(const TCommandParts& parts, const std::string& file,
                        tracking::IAnswerChannel* answer)
        : FParts(parts), FFile(file), FAnswer(answer) {}

    void Report(const std::string& text, int icon) override {
        FParts.Posting.AnswerOrPostActivity(FAnswer, text, static_cast<TActivityIcon>(icon));
    }
    bool TitleLoaded(const std::string& title) override {
        return FParts.SongList->CheckForDuplicateName_WithError(title, FFile, FAnswer, true) >= 0;
    }
    void LoadFingerprintFile(const std::string& path) override {
        FParts.Library->LoadFingerprintFile(path, FAnswer);
    }
    void PauseRecognition() override { FParts.Pause.PauseRecognition(); }
    void ResumeRecognition() override { FParts.Pause.ResumeRecognition(); }
    void ShowStats(const std::string& caption) override { FParts.Progress.ShowStats(caption); }
    void SetState(float share) override { FParts.Progress.SetState(share); }
    bool Cancelled() override { return FParts.Progress.Cancelled(); }
    void HideStats() override {
        if (FParts.Progress.Showing()) FParts.Progress.HideStats();
    }
    void ClearStatusText() override { FParts.Window.ClearStatusText(); }

private:
    const TCommandParts& FParts;
    const std::string& FFile;
    tracking::IAnswerChannel* FAnswer;
};

/// Recognition paused for the life of the guard.
class TPauseScope {
public:
    explicit TPauseScope(tracking::IRecognitionPause& pause) : FPause(pause) {
        FPause.PauseRecognition();
    }
    ~TPauseScope() { FPause.ResumeRecognition(); }
    TPauseScope(const TPauseScope&) = delete;
    TPauseScope& operator=(const TPauseScope&) = delete;

private:
    tracking::IRecognitionPause& FPause;
};

bool FolderExists(const std::string& folder) {
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec);
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

std::string FolderMissingText(const std::string& folder) {
    return "Error: Could not find folder \"" + folder + "\".";
}

std::string UpperExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return UpperAscii(path.substr(dot));
}

bool IsSwitchParameter(const std::string& parameter) {
    if (parameter.empty()) return false;
    if (parameter[0] == '-') return true;
    return parameter[0] == '/' && parameter.find('/', 1) == std::string::npos;
}

QStringList ResolveForwardedParameters(const QStringList& parameters) {
    QStringList resolved;
    resolved.reserve(parameters.size());
    for (const QString& p : parameters) {
        const QFileInfo info(p);
        if (!IsSwitchParameter(p.toStdString()) && info.isRelative() && info.exists()) {
            resolved.append(info.absoluteFilePath());
        } else {
            resolved.append(p);
        }
    }
    return resolved;
}

std::string TCommandHandler::FpFolder() const {
    std::string folder = FParts.Library->Settings().FpFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

void TCommandHandler::LoadFile(const std::string& path, tracking::IAnswerChannel* answer) {
    FParts.Library->LoadFingerprintFile(path, answer);
}

void TCommandHandler::HandleCommand(const std::string& s, tracking::IAnswerChannel* answer) {
    if (FParts.Library == nullptr || FParts.SongList == nullptr) return;
    struct TProcessAtEnd {
        database::ILibraryWindow& Window;
        ~TProcessAtEnd() { Window.ProcessMessages(); }
    } processAtEnd{FParts.Window};

    const std::string ext = UpperExtension(s);
    if (ext == ".MP3") {
        ExtractMp3Fingerprint(s, answer);
    } else if (ext == ".WAV") {
        ExtractWavFingerprint(s, answer);
    } else if (ext == ".QNF") {
        if (FileExists(s)) {
            LoadFile(s, answer);
            return;
        }
        const std::string inFolder = FpFolder() + audio::FileNameOnly(s);
        if (FileExists(inFolder)) {
            LoadFile(inFolder, answer);
        } else if (answer != nullptr) {
            answer->CreateAnswer(NoFingerprintFileText);
        }
    } else {
        std::string name = WithQnfExtension(s);
        if (name.find('/') == std::string::npos) name = FpFolder() + name;
        if (FileExists(name)) {
            LoadFile(name, answer);
        } else {
            FParts.Posting.AnswerOrPostActivity(answer, OnlyMp3AndWavText,
                                                TActivityIcon::aiAttention);
        }
    }
}

void TCommandHandler::ReportFailure(const std::exception& e) {
    FParts.Posting.PostActivity(e.what(), TActivityIcon::aiError);
}

void TCommandHandler::HandleCommandLine(const std::vector<std::string>& parameters) {
    if (FParts.MainDB != nullptr &&
        parameters.size() > static_cast<std::size_t>(database::BulkThreshold)) {
        FParts.MainDB->SetSorted(false);
    }
    for (const std::string& p : parameters) {
        if (IsSwitchParameter(p)) continue;
        try {
            HandleCommand(p, nullptr);
        } catch (const std::exception& e) {
            ReportFailure(e);
        }
    }
}

void TCommandHandler::HandleForwardedCommands(const QStringList& commands) {
    if (FParts.SongList == nullptr || FParts.Library == nullptr) return;
    const std::int32_t before = FParts.SongList->Count();
    for (const QString& command : commands) {
        const std::string s = command.toStdString();
        try {
            HandleCommand(s, nullptr);
        } catch (const std::exception& e) {
            ReportFailure(e);
        }
    }
    if (FParts.SongList->Count() != before) FParts.Library->OptimizeIndex(true);
}

audio::TExtractResult TCommandHandler::ExtractAudioFingerprint(const std::string& file,
                                                               audio::TAudioFileType type,
                                                               tracking::IAnswerChannel* answer) {
    if (!FParts.Guard.MemoryGuard(6, tracking::MemoryGuardMinimum, {}, TActivityIcon::aiError,
                                  answer)) {
        return audio::TExtractResult::erFailed;
    }
    const std::string folder = FpFolder();
    if (!FolderExists(folder)) {
        const std::string text = FolderMissingText(folder);
        if (answer != nullptr) {
            FParts.Posting.AnswerOrPostActivity(answer, text, TActivityIcon::aiInformation);
        } else {
            FParts.Window.ShowMessage(text);
        }
        return audio::TExtractResult::erFailed;
    }
    // The access test (read access is enough) and its report are the extraction's first step.
    TCommandExtractHost host(FParts, file, answer);
    return audio::ExtractFingerprint(file, type, folder, FParts.Converter, host, answer == nullptr);
}

void TCommandHandler::EndCancellation() {
    if (FParts.Progress.Cancelled()) FParts.Progress.HideStats();
}

void TCommandHandler::MenuItemExtractWavClick(const TChooseAudioFile& choose) {
    if (FParts.Library == nullptr || FParts.SongList == nullptr) return;
    if (!FParts.Guard.MemoryGuard(ExtractOneGuardId, tracking::MemoryGuardMinimum, {},
                                  TActivityIcon::aiError, nullptr)) {
        return;
    }
    const std::string file = choose ? choose() : std::string();
    if (file.empty()) return;
    TPauseScope pause(FParts.Pause);
    const std::string ext = UpperExtension(file);
    if (ext == ".MP3") {
        ExtractMp3Fingerprint(file, nullptr);
    } else if (ext == ".WAV") {
        ExtractWavFingerprint(file, nullptr);
    } else {
        FParts.Posting.PostActivity(OnlyMp3AndWavText, TActivityIcon::aiAttention);
        return;
    }
    EndCancellation();
    FParts.Library->OptimizeIndex(true);
}

void TCommandHandler::MenuItemExtractAllWavClick(const std::string& batchFolder) {
    if (FParts.Library == nullptr || FParts.SongList == nullptr) return;
    if (!FParts.Guard.MemoryGuard(ExtractAllGuardId, tracking::MemoryGuardMinimum, {},
                                  TActivityIcon::aiError, nullptr)) {
        return;
    }
    if (FParts.Progress.Showing()) {
        FParts.Window.ShowMessage(OtherTasksRunningText);
        return;
    }
    const std::string fpFolder = FpFolder();
    if (!FolderExists(fpFolder)) {
        FParts.Window.ShowMessage(FolderMissingText(fpFolder));
        return;
    }
    const std::string batch = WithSlash(batchFolder);
    if (!FolderExists(batch)) {
        FParts.Window.ShowMessage(FolderMissingText(batch));
        return;
    }
    TPauseScope pause(FParts.Pause);
    // A cancellation left over from an earlier task would end the batch after its first entry.
    EndCancellation();
    std::error_code ec;
    for (std::filesystem::directory_iterator entry(batch, ec), end; !ec && entry != end;
         entry.increment(ec)) {
        const std::string path = entry->path().string();
        const std::string ext = UpperExtension(path);
        if (ext == ".WAV") {
            ExtractWavFingerprint(path, nullptr);
        } else if (ext == ".MP3") {
            ExtractMp3Fingerprint(path, nullptr);
        }
        if (FParts.Progress.Cancelled()) break;
    }
    EndCancellation();
    FParts.Library->OptimizeIndex(true);
}

}  // namespace orvane::app
