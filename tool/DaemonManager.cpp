#include "tool/DaemonManager.h"

namespace vrek {

int RunDaemonManager() { return 0; }

}  // namespace vrek
