// The monitor command of orvane3-cli: many streams (Internet radio, sound inputs, files)
// recognised at once until interrupted, each heard clip printed when it ends.
// Thread: the tool's main thread; the monitor starts its workers and recognition threads.
#pragma once

namespace orvane::cli {

/// `monitor`: runs until SIGINT/SIGTERM (or until every file given has been played). Returns
/// the exit status.
int CmdMonitor(int argc, char** argv);

}  // namespace orvane::cli
