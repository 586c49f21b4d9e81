#include "kovra/C_StringMemory.h"

namespace kovra {

// Defined here, not in the header, so that the class's vtable and type
// information are made (and exported from vrek.exe) with the library rather
// than in whichever program happens to use the class.
C_StringMemory::~C_StringMemory() {}

}  // namespace kovra
