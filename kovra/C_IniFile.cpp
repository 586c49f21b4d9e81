#include "kovra/C_IniFile.h"

namespace kovra {

C_IniFile::C_IniFile() {}

C_IniFile::C_IniFile(const C_WString& name) : IniFile(name) {}

// The base commits the pending change, unlocks and closes.
C_IniFile::~C_IniFile() {}

}  // namespace kovra
