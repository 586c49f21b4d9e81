#pragma once

#include "kovra/KovraApi.h"
#include "kovra/common/IniFile.h"

namespace kovra {

// Settings kept as lines of key = value in a text file of narrow (ANSI code
// page) bytes; C_WIniFile is the same over UTF-16LE code units.
//
// Format: lines end in "\r\n" (a lone "\n" or "\r" is read as a line end
// too). A line that starts with "#" or a blank is a comment. Any other line
// defines the key that runs up to its first blank or "=": after it, blanks
// and other text are passed over up to the first "=", then "=" and blanks;
// the value is the rest of the line (a line without "=" defines nothing).
// Keys are compared exactly; the first line that defines a key wins. Lines
// are written as key, " = ", value and "\r\n".
//
// At most one change is pending: SetStr and DeleteStr first commit the one
// before them, and reads see the pending change. The file is opened
// deny-write, so one process at a time works on it; Lock guards the bytes
// the file had when it was locked. Failures set the last-error flag, which
// stays set until ClearLastError (GetInt and IsExistStr clear it first).
//
// Choices where the behaviour was open:
// - Close and Open commit a pending change to the file it was made for (as
//   the destructor does) and unlock, so no change is ever dropped silently.
// - SetStr refuses (last-error flag, nothing pending) a key that could not
//   be found again or would change another key: empty, holding a blank
//   (space or tab), "=" or a line end, or starting with "#"; and a value
//   holding a line end, which would inject a line of its own. A value's
//   leading blanks and "=" are not kept by the format.
// - A line that holds a key and no "=" after it defines nothing; the search
//   passes over it.
// - Blanks are the space and the tab.
// - The commits that SetStr, DeleteStr and DeleteAllStr make themselves do
//   not set the last-error flag when nothing was pending.
// - A UTF-16 file of odd length gets appended lines from its last whole
//   unit on (over the stray byte), so that they can be read back.
// - File offsets are ints: settings files stay below 2 GiB.
class KOVRA_API C_IniFile : public common::IniFile<common::NarrowIniText> {
public:
    C_IniFile();
    explicit C_IniFile(const C_WString& name);
    ~C_IniFile() override;
};

}  // namespace kovra
