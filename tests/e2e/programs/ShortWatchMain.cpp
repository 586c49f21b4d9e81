// vrek with the watch's three-minute suspension mark at two seconds, so that
// the end-to-end tests can see the Zombie and ZRun states.
#include "tool/Entry.h"
#include "tool/Supervision.h"

int wmain(int argc, wchar_t** argv) {
    vrek::g_watchSuspendAfterMs = 2000;
    return vrek::VrekMain(argc, argv);
}
