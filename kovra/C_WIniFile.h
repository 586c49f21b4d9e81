#pragma once

#include "kovra/KovraApi.h"
#include "kovra/common/IniFile.h"

namespace kovra {

// C_IniFile over UTF-16LE code units without a byte-order mark: keys and
// values are C_WString, lines end in the two units "\r\n". See C_IniFile.h
// for the format and the rules.
class KOVRA_API C_WIniFile : public common::IniFile<common::WideIniText> {
public:
    C_WIniFile();
    explicit C_WIniFile(const C_WString& name);
    ~C_WIniFile() override;
};

}  // namespace kovra
