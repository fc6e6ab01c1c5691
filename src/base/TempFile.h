// A new temporary file beside a file that is about to be replaced: same folder (so a rename
// can put it in place), a short name of its own, created exclusively.
// Thread: any.
#pragma once

#include <string>

namespace orvane {

/// Creates a new file for writing in the folder of `fileName` under a short name of its own,
/// ".~" + 8 random letters and digits + ".tmp" (so a target name of the longest length the
/// folder allows still gets one), with O_EXCL and `mode` less the umask. Returns the descriptor
/// and sets `tempName`; returns -1 with errno set when it cannot be created.
int CreateTempFileBeside(const std::string& fileName, unsigned int mode, std::string& tempName);

}  // namespace orvane
