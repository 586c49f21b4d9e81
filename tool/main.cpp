#include "tool/Entry.h"

int wmain(int argc, wchar_t** argv) { return vrek::VrekMain(argc, argv); }
