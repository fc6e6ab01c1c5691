// The report of a file that could not be opened or created: one error entry (or answer) naming
// the file and, for the common causes, the reason.
// Thread: any.
#pragma once

#include <string>
#include <string_view>

#include "tracking/IAnswerChannel.h"
#include "tracking/TPosting.h"

namespace orvane::tracking {

/// The reason text of an errno value: ": Path not found" (ENOENT, ENOTDIR), ": Too many open
/// files" (EMFILE, ENFILE), ": Access was denied" (EACCES, EPERM, EROFS), ": Insufficient
/// memory" (ENOMEM), ": Please close all applications that are accessing this file" (EBUSY,
/// ETXTBSY); empty for every other value.
std::string_view FileErrorReason(int errorCode);

/// The report text: "Error accessing <what> \"<file>\"<reason>", or without "<what> " when
/// `what` is empty.
std::string FileErrorText(std::string_view fileName, std::string_view what, int errorCode);

/// Reports errno `errorCode` of `fileName` with the error icon through AnswerOrPostActivity and
/// returns `errorCode`; with code 0 reports nothing and returns 0. `what` names the kind of
/// file ("wav file", "mp3 file") or is empty.
int ReportFileError(const TPosting& posting, std::string_view fileName, std::string_view what,
                    int errorCode, IAnswerChannel* answer);

}  // namespace orvane::tracking
