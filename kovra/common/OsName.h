#pragma once

#include "kovra/C_WString.h"
#include "kovra/KovraApi.h"

namespace kovra {
namespace common {

// The product name of a Windows version: 5.0 "Windows 2000", 5.1
// "Windows XP", 5.2 "Windows Server 2003" (server) or "Windows XP" (the
// 64-bit edition), 6.0 "Windows Vista" / "Windows Server 2008", 6.1
// "Windows 7" / "Windows Server 2008 R2", 6.2 "Windows 8" / "Windows Server
// 2012", 6.3 "Windows 8.1" / "Windows Server 2012 R2", 10.0 "Windows 10"
// below build 22000 and "Windows 11" from it; a 10.0 server is named by the
// greatest of the builds 14393 "Windows Server 2016", 17763 "Windows Server
// 2019", 20348 "Windows Server 2022" and 26100 "Windows Server 2025" at or
// below its build. Anything else: "Windows <major>.<minor> (build <build>)".
//
// Choices where the behaviour was open:
// - A 10.0 server below build 14393 (the technical previews) has no product
//   name and gets the general form.
KOVRA_API C_WString kovra_OsName(unsigned long major, unsigned long minor, unsigned long build, int server);

// The name of the running system, from RtlGetVersion (GetVersionEx and the
// version helpers report 6.2 to a program without a compatibility manifest)
// and the product type (a domain controller counts as a server).
//
// Choices where the behaviour was open:
// - Should ntdll lack RtlGetVersion (it has it since Windows 2000), the
//   result is the empty string rather than a guess.
KOVRA_API C_WString kovra_GetOsName();

}  // namespace common
}  // namespace kovra
