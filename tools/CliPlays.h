// The play report of orvane3-cli: the plays of the durable play log, or per stream and title
// their number and airtime.
// Thread: the tool's main thread.
#pragma once

namespace orvane::cli {

/// `plays`: reads the play log and prints the report. Returns the exit status.
int CmdPlays(int argc, char** argv);

}  // namespace orvane::cli
