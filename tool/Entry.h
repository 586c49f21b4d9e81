#pragma once

namespace vrek {

// Every invocation of vrek: chooses between usage, launcher, daemon manager
// and task copy, and returns the exit status.
int VrekMain(int argc, wchar_t** argv);

}  // namespace vrek
