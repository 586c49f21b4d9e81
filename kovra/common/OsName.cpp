#include "kovra/common/OsName.h"

#include <windows.h>

namespace kovra {
namespace common {

namespace {

struct Product {
    unsigned long major;
    unsigned long minor;
    const wchar_t* workstation;
    const wchar_t* server;
};

const Product kProducts[] = {
    {5, 0, L"Windows 2000", L"Windows 2000"},          {5, 1, L"Windows XP", L"Windows XP"},
    {5, 2, L"Windows XP", L"Windows Server 2003"},     {6, 0, L"Windows Vista", L"Windows Server 2008"},
    {6, 1, L"Windows 7", L"Windows Server 2008 R2"},   {6, 2, L"Windows 8", L"Windows Server 2012"},
    {6, 3, L"Windows 8.1", L"Windows Server 2012 R2"},
};

struct ServerRelease {
    unsigned long build;
    const wchar_t* name;
};

// Newest first: the first at or below a build names it.
const ServerRelease kServers[] = {{26100, L"Windows Server 2025"},
                                  {20348, L"Windows Server 2022"},
                                  {17763, L"Windows Server 2019"},
                                  {14393, L"Windows Server 2016"}};

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);

}  // namespace

C_WString kovra_OsName(unsigned long major, unsigned long minor, unsigned long build, int server) {
    for (const Product& product : kProducts)
        if (product.major == major && product.minor == minor) return server ? product.server : product.workstation;
    if (major == 10 && minor == 0) {
        if (!server) return build >= 22000 ? L"Windows 11" : L"Windows 10";
        for (const ServerRelease& release : kServers)
            if (build >= release.build) return release.name;
    }
    return C_WString::Stringf(L"Windows %lu.%lu (build %lu)", major, minor, build);
}

C_WString kovra_GetOsName() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");  // in every process; not ours to free
    if (!ntdll) return C_WString();
    // The cast from FARPROC is how a function found by name is called.
    const auto getVersion =
        reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (!getVersion) return C_WString();
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (getVersion(&info) != 0) return C_WString();
    return kovra_OsName(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                        info.wProductType != VER_NT_WORKSTATION);
}

}  // namespace common
}  // namespace kovra
