#include "ui/TForm2Capture.h"

#include <filesystem>
#include <utility>

#include <QMessageBox>
#include <QString>

#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "ui/TForm2.h"

namespace orvane::ui {

namespace {

constexpr const char* MessageCaption = "Quendal Music Database";

/// Releases the capture on every way out of the flow.
class TReleaseCapture {
public:
    explicit TReleaseCapture(TRefPtr<recognition::IRecInfo>& capture) : FCapture(capture) {}
    ~TReleaseCapture() { FCapture.reset(); }
    TReleaseCapture(const TReleaseCapture&) = delete;
    TReleaseCapture& operator=(const TReleaseCapture&) = delete;

private:
    TRefPtr<recognition::IRecInfo>& FCapture;
};

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

}  // namespace

std::string FileExistsText(const std::string& fileName) {
    return "A fingerprint file named \"" + fileName +
           "\" exists already in the fingerprint folder. Please enter another title.";
}

std::string StoredTitle(const std::string& title) {
    const std::size_t room = static_cast<std::size_t>(fingerprint::MaxTitleBytes) -
                             (fingerprint::EncodeTitle(std::string()).size());
    if (title.size() <= room) return title;
    std::size_t cut = room;
    while (cut > 0 && IsContinuationByte(title[cut])) --cut;
    return title.substr(0, cut);
}

TForm2Capture::TForm2Capture(recognition::FptRecorder& recorder, TForm2& dialog, TCaptureHost host)
    : FRecorder(recorder), FDialog(dialog), FHost(std::move(host)) {}

std::string TForm2Capture::FileNameFor(const std::string& title) const {
    std::string folder = FHost.FingerprintFolder ? FHost.FingerprintFolder() : std::string();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return fingerprint::FingerprintFileName(folder, StoredTitle(title));
}

void TForm2Capture::ShowMessage(const std::string& text) {
    if (FHost.ShowMessage) {
        FHost.ShowMessage(text);
        return;
    }
    QMessageBox::information(FDialog.parentWidget(), QString::fromLatin1(MessageCaption),
                             QString::fromStdString(text));
}

bool TForm2Capture::AskOkCancel(const std::string& text) {
    if (FHost.AskOkCancel) return FHost.AskOkCancel(text);
    return QMessageBox::information(FDialog.parentWidget(), QString::fromLatin1(MessageCaption),
                                    QString::fromStdString(text),
                                    QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

TCaptureOutcome TForm2Capture::MenuItemCapAudioInClick() {
    if (FHost.OtherTasksRunning && FHost.OtherTasksRunning()) {
        ShowMessage(OtherTasksRunningText);
        return TCaptureOutcome::coOtherTasks;
    }
    const std::int32_t active = FHost.ActiveChannelCount ? FHost.ActiveChannelCount() : 0;
    if (active <= 0) {
        ShowMessage(NoActiveChannelText);
        return TCaptureOutcome::coNoActiveChannel;
    }
    if (!AskOkCancel(StartRecordingText)) return TCaptureOutcome::coDeclined;

    FRecordAudioInFP = MakeRef<recognition::TRecInfo>();
    const TReleaseCapture release(FRecordAudioInFP);
    const TRefPtr<recognition::IRecInfo> capture = FRecordAudioInFP;
    FRecorder.registerRecording(capture, CaptureChannel);

    FDialog.Prepare(capture, &FRecorder);
    // Saving never replaces another fingerprint's file: such a title is refused in the dialog,
    // where the user can still choose another one.
    FDialog.OnSaveTitle = [this](const std::string& title) {
        const std::string fileName = FileNameFor(title);
        std::error_code ec;
        if (std::filesystem::exists(fileName, ec)) {
            ShowMessage(FileExistsText(std::filesystem::path(fileName).filename().string()));
            return false;
        }
        return true;
    };
    const int result = FDialog.exec();
    const std::string title = FDialog.TitleText();
    FDialog.OnSaveTitle = nullptr;
    FDialog.Prepare(TRefPtr<recognition::IRecInfo>(), nullptr);
    // Also when the dialog stopped it already: afterwards the container is ours alone.
    FRecorder.unregisterRecording(capture);

    if (result != QDialog::Accepted || title.empty()) return TCaptureOutcome::coDiscarded;

    const TRefPtr<fingerprint::ISongServer> server = capture->GetSongServer();
    fingerprint::TSongServer* song = server ? server->getClass() : nullptr;
    if (song == nullptr) return TCaptureOutcome::coDiscarded;
    song->serialize();
    fingerprint::TSong& header = *song->SongFile();
    header.Title.Assign(fingerprint::EncodeTitle(StoredTitle(title)));
    const std::string storedTitle = fingerprint::TitleOf(header);
    const std::string fileName = FileNameFor(storedTitle);
    fingerprint::WriteFingerprintFile(*song, storedTitle, fileName);
    FLastFileName = fileName;
    FRecordAudioInFP.reset();
    if (FHost.LoadFingerprintFile) FHost.LoadFingerprintFile(fileName);
    return TCaptureOutcome::coSaved;
}

}  // namespace orvane::ui
