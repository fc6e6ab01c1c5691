#include "app/uMainForm.h"

#include <QFile>
#include <QString>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <exception>
#include <new>
#include <thread>
#include <utility>

#include "app/TCommandHandler.h"
#include "app/TEvents.h"
#include "app/TQtPoster.h"
#include "audio/FptExtract.h"
#include "base/Errors.h"
#include "base/TimeText.h"
#include "database/TFptLibrary.h"
#include "database/TMediumDB.h"
#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "playlog/PlayTime.h"
#include "playlog/TPlayLogRecorder.h"
#include "playlog/sqlite/TSqlitePlayLog.h"
#include "platform/PulseCapture.h"
#include "platform/PulseDevices.h"
#include "recognition/FptRecorder.h"
#include "recognition/QnChServer.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TChannel.h"
#include "recognition/TRecognitionLock.h"
#include "recognition/TRecognitionPause.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "snapshot/IndexSnapshot.h"
#include "tracking/TActivityHistory.h"
#include "tracking/TDateTime.h"
#include "tracking/TEventServe.h"
#include "tracking/TLogSystem.h"
#include "tracking/TMemoryGuard.h"
#include "tracking/TPosting.h"
#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace orvane::app {

namespace {

constexpr std::int32_t DropGuardId = 10;
constexpr std::uint64_t DropGuardBytes = 16777216;
/// The recognition thread gets this many looks of 100 ms to end at shutdown.
constexpr int TerminateTries = 11;
/// Happening of the event table: a fingerprint disabled as a duplicate.
constexpr std::uint8_t DuplicateEventKind = 6;
/// Clip records stamped before this date-time (1900-01-01) come from a file channel, whose
/// stamps count the file's seconds from 0.
constexpr tracking::TDateTime FileStampLimit = 2.0;

std::string DoubleAmpersands(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        result += c;
        if (c == '&') result += '&';
    }
    return result;
}

std::string SingleAmpersands(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        result += text[i];
        if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '&') ++i;
    }
    return result;
}

/// Drops the last UTF-8 character of `text`.
void DropLastCharacter(std::string& text) {
    while (!text.empty()) {
        const auto last = static_cast<unsigned char>(text.back());
        text.pop_back();
        if ((last & 0xC0U) != 0x80U) break;
    }
}

std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0U) != 0x80U) ++count;
    }
    return count;
}

recognition::TRecognitionPriority PriorityOf(std::int32_t setting) {
    if (setting < 0) return recognition::TRecognitionPriority::rpLow;
    if (setting > 0) return recognition::TRecognitionPriority::rpHigh;
    return recognition::TRecognitionPriority::rpMedium;
}

}  // namespace

std::string WelcomeText() { return "Welcome to ORVANE3, the recogniser of songs and sound clips"; }

TChannelCaption CaptionRefresh(const tracking::capInfo& cap, bool active, double now,
                               const std::function<int(const std::string& text)>& textWidth,
                               int maxWidth) {
    TChannelCaption caption;
    if (cap.UniqueID == tracking::NoClipID) {
        caption.Text = active ? NoClipDetectedText : ChannelNotActiveText;
        return caption;
    }
    // Elapsed time as the display has always computed it: a 32-bit float of seconds.
    const auto elapsed = static_cast<float>((now - cap.TimeStamp) * 86400.0 + cap.Pos);
    if (cap.length > 0.0f) {
        const double share = static_cast<double>(elapsed) / static_cast<double>(cap.length);
        const long long slider = RoundHalfEven(share * 2000.0);
        caption.SliderPos = static_cast<std::int32_t>(slider < 0      ? 0
                                                      : slider > 1999 ? 1999
                                                                      : slider);
    }
    caption.SliderVisible = true;

    std::string text = cap.Caption;
    bool cut = false;
    while (CharacterCount(text) > 1 && textWidth(text) > maxWidth) {
        DropLastCharacter(text);
        cut = true;
    }
    if (cut) text += "...";

    const long long secs = RoundHalfEven(static_cast<double>(elapsed));
    caption.LastTime = static_cast<double>(secs) > static_cast<double>(cap.length)
                           ? std::string("ended")
                           : MinSecText(static_cast<double>(secs));
    caption.Text = DoubleAmpersands(text + " [" + caption.LastTime + "]");
    caption.Bold = true;
    return caption;
}

bool MoveFileToTrash(const std::string& path) {
    return QFile::moveToTrash(QString::fromStdString(path));
}

std::string PlayLogPathOf(const TMainFormOptions& options) {
    if (!options.PlayLogPath.empty()) return options.PlayLogPath;
    if (!options.Location.FileName.isEmpty()) {
        return (std::filesystem::path(options.Location.FileName.toStdString()).parent_path() /
                "plays.sqlite")
            .string();
    }
    return playlog::DefaultPlayLogPath();
}

std::string ActionErrorText(std::int32_t code, const std::string& message) {
    return "Error while executing action. (@" + std::to_string(code) + ":" + message + ")";
}

class TMainForm::THistoriesForwarder final : public database::ICandidateHistories {
public:
    void ForgetFingerprint(const fingerprint::ISongServer& song) override {
        if (Target != nullptr) Target->ForgetFingerprint(song);
    }
    void ReleaseAll() override {
        if (Target != nullptr) Target->ReleaseAll();
    }
    database::ICandidateHistories* Target = nullptr;
};

TMainForm::TMainForm(IMainFormView& view, TMainFormOptions options)
    : FView(view), FOptions(std::move(options)) {
    FClock = std::make_unique<tracking::TSystemClock>();
    FPoster = std::make_unique<TQtPoster>(*this);
    FPosting = std::make_unique<tracking::TPosting>(*FPoster, *FClock);
    FMemory = std::make_unique<tracking::TSystemMemoryStatus>();
    FGuard = std::make_unique<tracking::TMemoryGuard>(*FMemory, *FClock, *FPosting);
    // Row times count from the creation of the main window, in whole seconds.
    FHistory = std::make_unique<tracking::TActivityHistory>(FClock->Now(), *FPosting);
    FLogTimer.setInterval(tracking::TLogSystem::LogIntervalMs);
    QObject::connect(&FLogTimer, &QTimer::timeout, [this] { LogStep(); });
    FBalloonTimer.setInterval(static_cast<int>(tracking::BalloonTimerMs));
    FBalloonTimer.setSingleShot(true);
    QObject::connect(&FBalloonTimer, &QTimer::timeout, [this] { BalloonTimerTick(); });
}

TMainForm::~TMainForm() { Shutdown(); }

tracking::IRecognitionPause& TMainForm::Pause() { return *FPause; }

void TMainForm::Init() {
    if (FStarted) return;
    FStarted = true;
    // The main window is not shown yet: a message box now would come before it, untitled.
    FDeferMessages = true;
    struct TDeferOnlyHere {
        bool& Defer;
        ~TDeferOnlyHere() { Defer = false; }
    } deferOnlyHere{FDeferMessages};
    FTrayNotices = std::make_unique<tracking::TTrayNotices>(FView.TrayDisplay(), *FClock);
    PostActivity(WelcomeText(), tracking::TActivityIcon::aiInformation);
    PostActivity(HelpAboutText, tracking::TActivityIcon::aiInformation);

    FLock = std::make_unique<recognition::TRecognitionLock>();
    FPause = std::make_unique<recognition::TRecognitionPause>(
        *FLock, [] { ProcessPendingEvents(); },
        [this] { return FRecognitionThread != nullptr && FRecognitionThread->Running(); });
    FHistories = std::make_unique<THistoriesForwarder>();
    FSongList = std::make_unique<database::TSongList>(*FPause, *FPosting, FView.SongListView(),
                                                      FHistories.get());

    FAnnouncer = std::make_unique<tracking::TAnnouncer>(FOptions.MakeVoice);
    FAnnouncer->OnSpeechError = [this](const std::string& message) {
        FPosting->PostActivity(message, tracking::TActivityIcon::aiError);
    };
    FEventRunner = std::make_unique<TEventRunner>(*FPosting);
    FEvents = std::make_unique<tracking::TEventServe>(FEventRunner.get());
    FSearchSettings = std::make_unique<recognition::TSearchSettings>();
    FConverter = std::make_unique<signal::QnKeyConversion>();
    FVerifier = std::make_unique<recognition::QnCheckKey>(*FSongList);
    FMainDB = std::make_unique<database::TMediumDB>();
    // The captures from audio in are fed by the search, batch by batch.
    FRecorder = std::make_unique<recognition::FptRecorder>(*FPause);
    FSearch = std::make_unique<recognition::TSearch>(*FConverter, *FVerifier, *FMainDB, *FPosting,
                                                     *FSearchSettings, FRecorder.get());
    FSearch->BalloonHidden = [this] { return FTrayNotices->BalloonHidden(); };
    FRecognitionThread =
        std::make_unique<recognition::QnChServer>(*FLock, *FSearch, *FConverter, *FSearchSettings);
    FHistories->Target = FRecognitionThread.get();

    auto capture = FOptions.MakeCapture ? FOptions.MakeCapture() : platform::MakePulseCapture();
    FChannel = std::make_unique<recognition::TChannel>(0, 0, TSettings::DefaultChannelCaption(0),
                                                       *FLock, *FPosting, std::move(capture));
    FChannel->OnCaptureError = [this](const std::string& message) {
        const std::string text = platform::CaptureFailureText(
            FChannel->Caption(), FChannel->SoundDevice.DevName, message);
        if (FDeferMessages) {
            FDeferredMessages.push_back(text);
        } else {
            FView.LibraryWindow().ShowMessage(text);
        }
    };
    FRecognitionThread->AddChannel(*FChannel);

    FLogSystem = std::make_unique<tracking::TLogSystem>(*FPosting, *FClock);
    FLogSystem->AddChannel(*FChannel);
    FLogSystem->OnTriggerEvent = [this](tracking::TTrackerEvent kind,
                                        const std::vector<std::string>& pairs) {
        FEvents->TriggerEvent(static_cast<std::uint8_t>(kind), pairs);
    };
    FChannel->SetLogSystem(FLogSystem.get());
    // Every log line also goes to the durable play log, so a crash of the window loses none.
    try {
        FPlayLog = playlog::OpenSqlitePlayLog(PlayLogPathOf(FOptions));
        FPlayRecorder = std::make_unique<playlog::TPlayLogRecorder>(*FPlayLog, std::string());
        // A channel that plays a file stamps its records with the position in the file (a
        // date-time counted from 0); such a play is logged at the wall time it was heard.
        FPlayRecorder->ToUtcMs = [](tracking::TDateTime stamp) {
            return stamp < FileStampLimit ? playlog::UtcNowMs()
                                          : playlog::LocalDateTimeToUtcMs(stamp);
        };
        FPlayRecorder->FileOf = [this](std::int64_t uniqueId) {
            const database::TSongEntry* entry = FSongList->Entry(FSongList->indexOf(uniqueId));
            return entry ? entry->Filename : std::string();
        };
        FPlayRecorder->OnError = [this](const std::string& message) {
            FPosting->PostActivity(message, tracking::TActivityIcon::aiError);
        };
        FLogSystem->AddObserver(*FPlayRecorder);
    } catch (const std::exception& error) {
        FPlayRecorder.reset();
        FPlayLog.reset();
        PostActivity(error.what(), tracking::TActivityIcon::aiError);
    }

    FSettings = std::make_unique<TSettingsStore>(FOptions.Location);
    FSettings->AttachChannel(0, FChannel.get());
    FSettings->SetLogSystem(FLogSystem.get());
    FSettings->SetEventServe(FEvents.get());
    FSettings->OnError = [this](const std::string& message) {
        PostActivity(message, tracking::TActivityIcon::aiError);
    };
    FSettings->OnSnapshot = [this](const TSettingsSnapshot& snapshot) {
        recognition::TRecognitionOptions options;
        options.Form3CheckBoxBalloonChecked = snapshot.Form3CheckBoxBalloonChecked;
        options.Form3highIntegChecked = snapshot.Form3highIntegChecked;
        options.Form3Checkbox2checked = snapshot.Form3Checkbox2checked;
        options.Form3KeepLongest = snapshot.Form3KeepLongest;
        options.RobustSearch = snapshot.RobustSearch;
        FRecognitionThread->PublishSettings(options);
    };
    FSettings->RegStuff(false);
    FSettings->RegStuff(true);
    FAnnouncer->SetEnabled(FSettings->Settings.Announce);

    FLibrary = std::make_unique<database::TFptLibrary>(
        database::TLibraryParts{*FSongList, *FMainDB, *FPause, *FPosting, *FGuard,
                                FView.ProgressDialog(), FView.LibraryWindow()},
        database::TLibrarySettings{FSettings->Settings.FpFolder});
    FLibrary->SetTrash(MoveFileToTrash);
    FSnapshotCache = std::make_unique<snapshot::IndexSnapshotCache>();
    FLibrary->SetCache(FSnapshotCache.get());
    FCommands = std::make_unique<TCommandHandler>(
        TCommandParts{FLibrary.get(), FSongList.get(), FMainDB.get(), *FPause, *FPosting, *FGuard,
                      FView.ProgressDialog(), FView.LibraryWindow(), *FConverter});

    // The channel's device by name, from the devices the sound server lists now.
    if (!FOptions.MakeCapture) {
        platform::QnDevices devices;
        FSettings->ReloadSoundConfig(devices.LInfos);
    }

    TEventReg eventStore(FOptions.Location);
    try {
        FEvents->getfromreg(eventStore);
    } catch (const std::exception& error) {
        PostActivity(error.what(), tracking::TActivityIcon::aiError);
    }

    FRecognitionThread->Start();
    FRecognitionThread->SetPriority(PriorityOf(FSettings->Settings.Priority));
    FView.PanelRefresh();

    FCommands->HandleCommandLine(FOptions.Parameters);
    FLibrary->OptimizeIndex(true);

    if (FSettings->Settings.ActiveOnLoad) {
        FLibrary->MenuItemLoadFingerprintsClick(nullptr);
        ActivateAllChannels();
    }
    if (FSettings->FirstStepsTip()) FView.FirstStepsTip();
    FLogTimer.start();
}

void TMainForm::ShowDeferredMessages() {
    FDeferMessages = false;
    std::vector<std::string> messages;
    messages.swap(FDeferredMessages);
    for (const std::string& text : messages) FView.LibraryWindow().ShowMessage(text);
}

void TMainForm::Shutdown() {
    if (FShutDown || !FStarted) {
        FShutDown = true;
        return;
    }
    FShutDown = true;
    FLogTimer.stop();
    FBalloonTimer.stop();
    try {
        // Recognition stays paused for good: nothing reads the record the tracker finishes.
        FPause->PauseRecognition();
        if (FChannel) FChannel->SetLogSystem(nullptr);
        if (FSettings) FSettings->SetLogSystem(nullptr);
        FLogSystem.reset();
    } catch (const std::exception&) {
    }
    FPlayRecorder.reset();
    FPlayLog.reset();
    try {
        FRecognitionThread->Terminate();
        for (int i = 0; i < TerminateTries && FRecognitionThread->Running(); ++i) {
            ProcessPendingEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    } catch (const std::exception&) {
    }
    try {
        FChannel->SetActive(false);
        ProcessPendingEvents();
        if (FSettings) FSettings->AttachChannel(0, nullptr);
        FChannel.reset();
    } catch (const std::exception&) {
    }
    try {
        if (FAnnouncer) FAnnouncer->Shutdown();
        FCommands.reset();
        FLibrary.reset();
        if (FMainDB) FMainDB->Clear();
        FMainDB.reset();
        FSearch.reset();
        FRecognitionThread.reset();
        FHistories->Target = nullptr;
        FConverter.reset();
        FVerifier.reset();
        FEvents.reset();
        FEventRunner.reset();
        FAnnouncer.reset();
        FSongList.reset();
        FSettings.reset();
    } catch (const std::exception&) {
    }
    // Entries posted on the way out (the tracker's last log lines) reach the history.
    ProcessPendingEvents();
}

void TMainForm::HandleCommand(const std::string& command) {
    if (FCommands) FCommands->HandleCommand(command, nullptr);
}

void TMainForm::HandleForwardedCommands(const std::vector<std::string>& commands) {
    if (!FCommands) return;
    QStringList list;
    for (const std::string& command : commands) list << QString::fromStdString(command);
    FCommands->HandleForwardedCommands(list);
}

void TMainForm::DropFiles(const std::vector<std::string>& paths) {
    if (!FCommands) return;
    if (!FGuard->MemoryGuard(DropGuardId, DropGuardBytes, {}, tracking::TActivityIcon::aiError,
                             nullptr)) {
        return;
    }
    if (paths.empty()) return;
    FPause->PauseRecognition();
    try {
        if (static_cast<std::int32_t>(paths.size()) > database::BulkThreshold) {
            FMainDB->SetSorted(false);
        }
        for (const std::string& path : paths) {
            try {
                FCommands->HandleCommand(path, nullptr);
            } catch (const std::bad_alloc&) {
                throw;
            } catch (const std::exception& error) {
                PostActivity(error.what(), tracking::TActivityIcon::aiError);
            }
            if (FView.ProgressDialog().Cancelled()) {
                FView.ProgressDialog().HideStats();
                break;
            }
        }
        FLibrary->OptimizeIndex(true);
    } catch (...) {
        FPause->ResumeRecognition();
        throw;
    }
    FPause->ResumeRecognition();
}

void TMainForm::ActivateAllChannels() {
    if (!FChannel) return;
    FPause->PauseRecognition();
    try {
        FChannel->SetActive(true);
    } catch (...) {
        FPause->ResumeRecognition();
        throw;
    }
    FPause->ResumeRecognition();
    FView.PanelRefresh();
    PostActivity("Listening to 1 channels...", tracking::TActivityIcon::aiInformation);
}

void TMainForm::DeactivateAllChannels() {
    if (!FChannel) return;
    FChannel->SetActive(false);
    FView.PanelRefresh();
    PostActivity("Stopped...", tracking::TActivityIcon::aiInformation);
}

void TMainForm::SetChannelActive(bool active) {
    if (FChannel && FChannel->Active() != active) FChannel->SetActive(active);
}

void TMainForm::RenameChannel(const std::string& name) {
    if (!FChannel) return;
    FChannel->SetCaption(DoubleAmpersands(name));
    FSettings->RegStuff(true);
}

std::string TMainForm::ChannelNameForEdit() const {
    return FChannel ? SingleAmpersands(FChannel->Name()) : std::string();
}

TChannelCaption TMainForm::RefreshCaption(
    const std::function<int(const std::string& text)>& textWidth, int maxWidth) const {
    if (!FChannel) return CaptionRefresh(tracking::capInfo{}, false, 0.0, textWidth, maxWidth);
    tracking::capInfo cap;
    bool active = false;
    {
        std::lock_guard guard(*FLock);
        cap = FChannel->ReadCap();
        active = FChannel->Active();
    }
    double now = FClock->Now();
    // A file channel stamps its record with stream time: the position runs on from there.
    if (FChannel->Mode() == recognition::ChannelMode::cmManual) now = cap.TimeStamp;
    return CaptionRefresh(cap, active, now, textWidth, maxWidth);
}

std::int32_t TMainForm::IntegrityPosition() const {
    return FChannel ? FChannel->ProgressBarIntegrityPosition.load() : 0;
}

std::int32_t TMainForm::SignalStrengthPosition() const {
    return FChannel ? FChannel->ProgressBarSignalStrengthPosition.load() : 0;
}

bool TMainForm::ChannelActive() const { return FChannel && FChannel->Active(); }

std::string TMainForm::ChannelSideSuffix() const {
    if (!FChannel) return {};
    if (FChannel->ChSide == 1) return ", L";
    if (FChannel->ChSide == 2) return ", R";
    return {};
}

void TMainForm::PlayFile(const std::string& fileName) {
    if (!FChannel) return;
    FChannel->SetActive(false);
    FChannel->SetMode(recognition::ChannelMode::cmManual);
    FChannel->SetFile(fileName, audio::AudioFileTypeOf(fileName));
}

void TMainForm::LogStep() {
    if (FLogSystem) FLogSystem->LogHandler();
}

void TMainForm::PostActivity(const std::string& text, tracking::TActivityIcon icon) {
    FPosting->PostActivity(text, icon);
}

template <class TAction>
void TMainForm::RunAction(std::int32_t code, TAction&& action) {
    try {
        action();
    } catch (const std::bad_alloc&) {
        // Out of memory: reporting it would need memory too.
    } catch (const std::exception& error) {
        PostActivity(ActionErrorText(code, error.what()), tracking::TActivityIcon::aiError);
    }
}

void TMainForm::AddActivity(tracking::TActivityData entry) {
    FHistory->Add(entry);
    FView.HistoryChanged();
}

void TMainForm::TrayHint(std::string hint) {
    RunAction(static_cast<std::int32_t>(tracking::TActionCode::acTrayHint), [&] {
        if (FTrayNotices) FTrayNotices->SetHint(hint);
    });
}

void TMainForm::ShowBalloon(tracking::TTwoStr balloon) {
    RunAction(static_cast<std::int32_t>(tracking::TActionCode::acShowBalloon), [&] {
        if (!FTrayNotices) return;
        FBalloonTimer.start();
        FTrayNotices->ShowBalloon(balloon.Str1, balloon.Str2);
    });
}

void TMainForm::HideBalloon() {
    RunAction(static_cast<std::int32_t>(tracking::TActionCode::acHideBalloon), [&] {
        if (FTrayNotices) FTrayNotices->HideBalloon();
    });
}

void TMainForm::BalloonTimerTick() {
    FBalloonTimer.stop();
    if (FTrayNotices) FTrayNotices->TimerBalloonTimer();
}

void TMainForm::Announce(tracking::TTwoStr clip) {
    RunAction(static_cast<std::int32_t>(tracking::TActionCode::acAnnounce), [&] {
        if (FAnnouncer) FAnnouncer->AnnounceClip(clip.Str1, clip.Str2);
    });
}

void TMainForm::DuplicateDisabled(TRefPtr<TRefCounted> fingerprint) {
    RunAction(static_cast<std::int32_t>(tracking::TActionCode::acDuplicateDisabled), [&] {
        auto* disabled = dynamic_cast<fingerprint::ISongServer*>(fingerprint.get());
        if (disabled == nullptr) throw EError("The disabled fingerprint is missing.");
        const TRefPtr<fingerprint::ISongServer> kept =
            disabled->getClass() != nullptr ? disabled->getClass()->Tag : nullptr;
        const std::string title = fingerprint::TitleOf(*disabled->SongFile());
        const std::string keptTitle =
            kept.get() != nullptr ? fingerprint::TitleOf(*kept->SongFile()) : std::string();
        const double now = FClock->Now();
        if (FEvents) {
            FEvents->TriggerEvent(DuplicateEventKind, {"%date", tracking::ShortDateText(now),
                                                       "%time", tracking::LongTimeText(now),
                                                       "%title", title, "%disabledby", keptTitle});
        }
        if (!FSongList) return;
        const bool marked = (disabled->SongFile()->Options & 1U) != 0;
        auto& view = FView.SongListView();
        for (std::int32_t row = 0; row < view.RowCount(); ++row) {
            const std::int32_t slot = view.Row(row).Slot;
            if (FSongList->SongServer(slot) == disabled) {
                view.SetImageIndex(
                    row, static_cast<std::int32_t>(marked ? database::TSongIcon::siDisabledX
                                                          : database::TSongIcon::siDisabled));
            }
        }
    });
}

void TMainForm::ChannelDone(std::int32_t channel) {
    RunAction(static_cast<std::int32_t>(tracking::TActionCode::acChannelDone), [&] {
        if (FChannel && channel == FChannel->Id()) {
            FChannel->SetActive(false);
            FView.PanelRefresh();
        }
    });
}

void TMainForm::UndefinedAction(std::int32_t code) { UnhandledAction(code, 0); }

void TMainForm::UnhandledAction(std::int32_t code, std::int64_t lParam) {
    PostActivity("Unhandled action: " + std::to_string(code) + "/" + std::to_string(lParam),
                 tracking::TActivityIcon::aiError);
}

void TMainForm::MenuItemExtractWavClick(const TChooseAudioFile& choose) {
    if (FCommands) FCommands->MenuItemExtractWavClick(choose);
}

void TMainForm::MenuItemExtractAllWavClick() {
    if (FCommands) FCommands->MenuItemExtractAllWavClick(FSettings->Settings.BatFolder);
}

std::int32_t TMainForm::ToggleMark(std::int32_t slot) {
    fingerprint::ISongServer* song = FSongList ? FSongList->SongServer(slot) : nullptr;
    if (song == nullptr) return -1;
    fingerprint::PSong header = song->SongFile();
    header->Options = static_cast<std::uint8_t>(header->Options ^ 1U);
    const bool marked = (header->Options & 1U) != 0;
    const bool enabled = song->GetEnabled();
    database::TSongIcon icon =
        enabled ? database::TSongIcon::siEnabled : database::TSongIcon::siDisabled;
    if (marked) {
        icon = enabled ? database::TSongIcon::siEnabledX : database::TSongIcon::siDisabledX;
    }
    return static_cast<std::int32_t>(icon);
}

bool TMainForm::FingerprintEnabled(std::int32_t slot) const {
    const fingerprint::ISongServer* song = FSongList ? FSongList->SongServer(slot) : nullptr;
    return song != nullptr && song->GetEnabled();
}

void TMainForm::PublishOptions() {
    if (!FSettings) return;
    if (FSettings->OnSnapshot) FSettings->OnSnapshot(FSettings->Snapshot());
    FAnnouncer->SetEnabled(FSettings->Settings.Announce);
    ApplySettingsToLibrary();
}

void TMainForm::ApplySettingsToLibrary() {
    if (FLibrary && FSettings) {
        database::TLibrarySettings settings = FLibrary->Settings();
        settings.FpFolder = FSettings->Settings.FpFolder;
        FLibrary->SetSettings(settings);
    }
}

bool TMainForm::SaveHistoryAs(const std::string& fileName) {
    return FHistory->SaveHistoryAs(fileName);
}

bool TMainForm::SaveListingAs(const std::string& fileName) {
    if (!FSongList) return false;
    const std::vector<tracking::TListingRow> rows = FSongList->ListingRows();
    return FHistory->SaveListingAs(fileName, rows);
}

}  // namespace orvane::app
