#include "tool/ProcessQueries.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "kovra/C_WString.h"
#include "kovra/common/UniqueHandle.h"
#include "kovra/common/kovra_GetLastName.h"

namespace vrek {

void GetParentProcessIds(kovra::common::List<unsigned long>& list, unsigned long pid) {
    // Processes only: the threads and modules of a full snapshot cost a
    // launch time and nothing here reads them.
    kovra::common::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ParentProcessID != 0 && entry.th32ProcessID == pid) {
            list.Append(entry.th32ParentProcessID);
            return;
        }
    }
}

bool IsCommandGone(HANDLE handle, unsigned long commandId) {
    if (handle && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return true;
    kovra::common::List<unsigned long> parents;
    GetParentProcessIds(parents, commandId);
    return parents.Empty() || parents.First() != GetCurrentProcessId();
}

bool IsLookupGone(const ProcessLookup& lookup, const wchar_t* ownImagePath) {
    if (lookup.openError != 0) return lookup.openError == ERROR_INVALID_PARAMETER;
    if (lookup.exited) return true;
    if (!lookup.imageKnown || !lookup.imagePath || !ownImagePath) return false;
    kovra::C_WString theirs = kovra::common::kovra_GetLastName(kovra::C_WString(lookup.imagePath));
    kovra::C_WString ours = kovra::common::kovra_GetLastName(kovra::C_WString(ownImagePath));
    return CompareStringOrdinal(theirs.GetString(), theirs.Length(), ours.GetString(), ours.Length(), TRUE) !=
           CSTR_EQUAL;
}

namespace {

const DWORD PATH_UNITS = 32768;

// A process started through a short (8.3) path reports its image under that
// name: compare long forms, or a live copy could pass for another program.
std::wstring LongForm(const wchar_t* path) {
    std::vector<wchar_t> buffer(PATH_UNITS);
    DWORD n = GetLongPathNameW(path, buffer.data(), PATH_UNITS);
    if (n == 0 || n >= PATH_UNITS) return path;
    return std::wstring(buffer.data(), n);
}

const std::wstring& OwnImagePath() {
    static const std::wstring path = [] {
        std::vector<wchar_t> buffer(PATH_UNITS);
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), PATH_UNITS);
        if (n == 0 || n >= PATH_UNITS) return std::wstring();
        return LongForm(buffer.data());
    }();
    return path;
}

}  // namespace

bool IsTaskProcessGone(unsigned long pid) {
    ProcessLookup lookup = {0, false, false, nullptr};
    bool canWait = true;
    kovra::common::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    if (!process && GetLastError() == ERROR_ACCESS_DENIED) {
        // Some processes grant the limited query but not waiting.
        canWait = false;
        process.Reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    }
    if (!process) {
        lookup.openError = GetLastError();
        return IsLookupGone(lookup, OwnImagePath().c_str());
    }

    if (canWait) {
        lookup.exited = WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
    } else {
        DWORD code = 0;
        lookup.exited = GetExitCodeProcess(process.Get(), &code) && code != STILL_ACTIVE;
    }
    std::vector<wchar_t> image(PATH_UNITS);
    DWORD units = PATH_UNITS;
    std::wstring imagePath;
    if (!lookup.exited && QueryFullProcessImageNameW(process.Get(), 0, image.data(), &units)) {
        imagePath = LongForm(image.data());
        lookup.imageKnown = true;
        lookup.imagePath = imagePath.c_str();
    }
    const std::wstring& own = OwnImagePath();
    return IsLookupGone(lookup, own.empty() ? nullptr : own.c_str());
}

}  // namespace vrek
