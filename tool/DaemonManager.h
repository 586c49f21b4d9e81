#pragma once

namespace vrek {

// The interactive daemon manager (vrek --managed-daemon); returns 0.
int RunDaemonManager();

}  // namespace vrek
