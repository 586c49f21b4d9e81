#include "tool/PromptText.h"

#include <winnetwk.h>

#include "kovra/C_WString.h"
#include "tool/ProgramSearch.h"

namespace vrek {

namespace {

std::wstring ShortDate(const SYSTEMTIME& now) {
    wchar_t date[80];
    return GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 80) ? date : L"";
}

// "Microsoft Windows [Version 10.0.19045]", as `ver` shows it; the version
// helpers would report 6.2 to a program without a compatibility manifest.
std::wstring WindowsVersion() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto get = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get || get(&info) != 0) return L"Microsoft Windows";
    return kovra::C_WString::Stringf(L"Microsoft Windows [Version %lu.%lu.%lu]", info.dwMajorVersion,
                                     info.dwMinorVersion, info.dwBuildNumber)
        .GetString();
}

std::wstring NetworkName(const std::wstring& folder) {
    if (folder.size() < 2 || folder[1] != L':') return std::wstring();
    const std::wstring drive = folder.substr(0, 2);
    wchar_t remote[MAX_PATH];
    DWORD size = MAX_PATH;
    return WNetGetConnectionW(drive.c_str(), remote, &size) == NO_ERROR ? remote : L"";
}

}  // namespace

std::wstring ExpandPrompt(const std::wstring& prompt, const PromptFacts& facts) {
    const std::wstring& codes = prompt.empty() ? L"$P$G" : prompt;
    std::wstring text;
    for (size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] != L'$') {
            text += codes[i];
            continue;
        }
        if (++i == codes.size()) break;
        switch (towupper(codes[i])) {
        case L'P': text += facts.folder; break;
        case L'G': text += L'>'; break;
        case L'L': text += L'<'; break;
        case L'N': text += facts.folder.size() >= 2 && facts.folder[1] == L':' ? facts.folder.substr(0, 1) : L""; break;
        case L'D': text += ShortDate(facts.now); break;
        case L'T':
            text += kovra::C_WString::Stringf(L"%2d:%02d:%02d.%02d", facts.now.wHour, facts.now.wMinute,
                                              facts.now.wSecond, facts.now.wMilliseconds / 10)
                        .GetString();
            break;
        case L'_': text += L"\r\n"; break;
        case L'$': text += L'$'; break;
        case L'S': text += L' '; break;
        case L'Q': text += L'='; break;
        case L'B': text += L'|'; break;
        case L'C': text += L'('; break;
        case L'F': text += L')'; break;
        case L'A': text += L'&'; break;
        case L'E': text += L'\x1B'; break;
        case L'H': text += L'\b'; break;
        case L'V': text += facts.version; break;
        case L'M': text += facts.networkName; break;
        default: break;  // $+ and codes cmd does not know
        }
    }
    return text;
}

std::wstring PromptFor(const std::wstring& folder) {
    PromptFacts facts;
    facts.folder = folder;
    GetLocalTime(&facts.now);
    const std::wstring prompt = EnvironmentValue(L"PROMPT");
    const auto uses = [&prompt](wchar_t code) {
        for (size_t i = 0; i + 1 < prompt.size(); ++i) {
            if (prompt[i] != L'$') continue;
            if (static_cast<wchar_t>(towupper(prompt[i + 1])) == code) return true;
            ++i;
        }
        return false;
    };
    // Asked for only where shown: a network drive's name may take a while.
    if (uses(L'V')) facts.version = WindowsVersion();
    if (uses(L'M')) facts.networkName = NetworkName(folder);
    return ExpandPrompt(prompt, facts);
}

}  // namespace vrek
