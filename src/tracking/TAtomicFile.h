// Replaces a file's contents all at once: the bytes go to a temporary file in the same folder,
// which is renamed over the target, so a reader never sees half a file.
// Thread: any; each call works on its own temporary file.
#pragma once

#include <string>
#include <string_view>

namespace orvane::tracking {

/// Writes `bytes` as the new contents of `fileName`.
/// - A symbolic link is followed (through a chain of links too): its target gets the bytes,
///   the link stays a link.
/// - An existing file keeps its permission bits (and its owner and group where we may set
///   them); a new file is created with mode 0666 less the umask.
/// - The temporary file has a short name of its own in the target's folder, so a target name
///   of the longest length the folder allows works.
/// - Where the folder does not let us create the temporary file or replace the file (a
///   sticky folder such as /tmp, a file of another user) but the existing file is writable,
///   the file is rewritten in place (not all at once then).
/// Returns 0 on success, or the errno of what failed before any byte was written: creating
/// the temporary file (or opening the file in place), renaming it onto the target, following
/// the links (ELOOP); EISDIR for a folder and EINVAL for another file that is not a regular
/// file (a FIFO, a device). Nothing is left behind then. Throws EFileError with the system's
/// message when writing fails after the file was opened (the temporary file is removed first).
int ReplaceFileContents(const std::string& fileName, std::string_view bytes);

}  // namespace orvane::tracking
