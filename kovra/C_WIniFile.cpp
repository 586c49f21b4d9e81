#include "kovra/C_WIniFile.h"

namespace kovra {

C_WIniFile::C_WIniFile() {}

C_WIniFile::C_WIniFile(const C_WString& name) : IniFile(name) {}

// The base commits the pending change, unlocks and closes.
C_WIniFile::~C_WIniFile() {}

}  // namespace kovra
