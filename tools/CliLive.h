// The live commands of orvane3-cli: the capture devices and headless live monitoring.
// Thread: the tool's main thread; the capture and recognition threads are started inside.
#pragma once

namespace orvane::cli {

/// `devices`: the capture devices as the device dialog lists them. Returns the exit status.
int CmdDevices(int argc, char** argv);
/// `listen`: monitors the chosen device until SIGINT/SIGTERM. Returns the exit status.
int CmdListen(int argc, char** argv);

}  // namespace orvane::cli
