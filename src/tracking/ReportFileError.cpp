#include "tracking/ReportFileError.h"

#include <cerrno>

namespace orvane::tracking {

std::string_view FileErrorReason(int errorCode) {
    switch (errorCode) {
        case ENOENT:
        case ENOTDIR:
            return ": Path not found";
        case EMFILE:
        case ENFILE:
            return ": Too many open files";
        case EACCES:
        case EPERM:
        case EROFS:
            return ": Access was denied";
        case ENOMEM:
            return ": Insufficient memory";
        case EBUSY:
        case ETXTBSY:
            return ": Please close all applications that are accessing this file";
        default:
            return "";
    }
}

std::string FileErrorText(std::string_view fileName, std::string_view what, int errorCode) {
    std::string text = "Error accessing ";
    if (!what.empty()) {
        text += what;
        text += ' ';
    }
    text += '"';
    text += fileName;
    text += '"';
    text += FileErrorReason(errorCode);
    return text;
}

int ReportFileError(const TPosting& posting, std::string_view fileName, std::string_view what,
                    int errorCode, IAnswerChannel* answer) {
    if (errorCode == 0) {
        return 0;
    }
    posting.AnswerOrPostActivity(answer, FileErrorText(fileName, what, errorCode),
                                 TActivityIcon::aiError);
    return errorCode;
}

}  // namespace orvane::tracking
