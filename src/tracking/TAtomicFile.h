// Replaces a file's contents all at once: the bytes go to a temporary file in the same folder,
// which is renamed over the target, so a reader never sees half a file.
// Thread: any; each call works on its own temporary file.
#pragma once

#include <string>
#include <string_view>

namespace orvane::tracking {

/// Writes `bytes` as the new contents of `fileName` (created with mode 0666 less the umask).
/// Returns 0 on success, or the errno of creating the temporary file or of renaming it onto
/// the target (nothing is left behind then). Throws EFileError with the system's message when
/// writing to the opened temporary file fails (it is removed first).
int ReplaceFileContents(const std::string& fileName, std::string_view bytes);

}  // namespace orvane::tracking
