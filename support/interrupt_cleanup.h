// Files that must not outlive an interrupted run: the temporary a results
// file is written under, and the temporary of an extraction in progress.
// On SIGINT, SIGTERM or SIGHUP the handler removes every registered path,
// then ends the process with the signal's default action, so the exit
// status still tells that the run was interrupted.
#pragma once

#include <string>

namespace support {

// Registers `path` (absolute, or relative to the working folder); the
// returned slot is handed back to forget_on_interrupt(). -1 when every slot
// is taken (the file is then left behind on an interrupt).
int remove_on_interrupt(const std::string& path);
void forget_on_interrupt(int slot);

}  // namespace support
