#include "tool/ProcessQueries.h"

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "kovra/C_WString.h"
#include "kovra/common/UniqueHandle.h"
#include "kovra/common/kovra_GetLastName.h"
#include "tool/ProcessParameters.h"

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

std::vector<unsigned long> GetAncestorIds(unsigned long pid, size_t limit) {
    std::vector<std::pair<unsigned long, unsigned long>> parentOf;  // (process, parent)
    kovra::common::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return {};
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
        if (entry.th32ParentProcessID != 0) parentOf.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    std::vector<unsigned long> chain;
    for (unsigned long at = pid; chain.size() < limit;) {
        auto found = std::find_if(parentOf.begin(), parentOf.end(), [at](const auto& p) { return p.first == at; });
        if (found == parentOf.end()) break;
        const unsigned long parent = found->second;
        if (parent == pid || std::find(chain.begin(), chain.end(), parent) != chain.end()) break;
        chain.push_back(parent);
        at = parent;
    }
    return chain;
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

QueryProcessFunction GetQueryProcess() {
    return reinterpret_cast<QueryProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
}

namespace {

bool ReadOther(HANDLE process, const void* address, void* buffer, size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, address, buffer, size, &got) && got == size;
}

}  // namespace

std::wstring ReadProcessCurrentDirectory(unsigned long pid) {
    kovra::common::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid));
    const QueryProcessFunction query = GetQueryProcess();
    if (!process || !query || WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT) return std::wstring();
    PROCESS_BASIC_INFORMATION basic = {};
    if (query(process.Get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 || !basic.PebBaseAddress)
        return std::wstring();
    PEB peb = {};
    ProcessParametersLayout params = {};
    if (!ReadOther(process.Get(), basic.PebBaseAddress, &peb, sizeof peb) || !peb.ProcessParameters ||
        !ReadOther(process.Get(), peb.ProcessParameters, &params, sizeof params))
        return std::wstring();
    const UNICODE_STRING& path = params.CurrentDirectoryPath;
    // An odd length is not a path (a 16-bit length cannot exceed the longest path).
    if (!path.Buffer || path.Length == 0 || path.Length % 2) return std::wstring();
    std::wstring folder(path.Length / 2, L'\0');
    if (!ReadOther(process.Get(), path.Buffer, &folder[0], path.Length)) return std::wstring();
    folder.resize(wcsnlen(folder.c_str(), folder.size()));
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::vector<unsigned long> GetConsoleProcessIds(size_t limit) {
    std::vector<DWORD> ids(64);
    DWORD count = GetConsoleProcessList(ids.data(), static_cast<DWORD>(ids.size()));
    if (count > ids.size()) {
        ids.resize(count);
        count = GetConsoleProcessList(ids.data(), static_cast<DWORD>(ids.size()));
    }
    std::vector<unsigned long> others;
    for (DWORD i = 0; i < count && i < ids.size() && others.size() < limit; ++i)
        if (ids[i] != GetCurrentProcessId()) others.push_back(ids[i]);
    return others;
}

}  // namespace vrek
