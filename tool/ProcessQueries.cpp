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

namespace {

unsigned long long CreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

ProcessRef CurrentProcessRef(unsigned long pid) {
    kovra::common::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return {pid, process ? CreationTime(process.Get()) : 0};
}

kovra::common::UniqueHandle OpenSameProcess(const ProcessRef& process, DWORD access) {
    if (process.pid == 0 || process.created == 0) return kovra::common::UniqueHandle();
    kovra::common::UniqueHandle opened(
        OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process.pid));
    if (!opened || CreationTime(opened.Get()) != process.created ||
        WaitForSingleObject(opened.Get(), 0) != WAIT_TIMEOUT)
        return kovra::common::UniqueHandle();
    return opened;
}

std::vector<ProcessRef> GetAncestors(unsigned long pid, size_t limit) {
    std::vector<std::pair<unsigned long, unsigned long>> parentOf;  // (process, parent)
    kovra::common::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return {};
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
        if (entry.th32ParentProcessID != 0) parentOf.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
    std::vector<ProcessRef> chain;
    ProcessRef child = CurrentProcessRef(pid);
    while (chain.size() < limit) {
        const unsigned long at = child.pid;
        auto found = std::find_if(parentOf.begin(), parentOf.end(), [at](const auto& p) { return p.first == at; });
        if (found == parentOf.end()) break;
        const ProcessRef parent = CurrentProcessRef(found->second);
        if (parent.pid == pid || parent.created == 0 || parent.created > child.created) break;
        if (std::find_if(chain.begin(), chain.end(), [&](const ProcessRef& p) { return p.pid == parent.pid; }) !=
            chain.end())
            break;
        chain.push_back(parent);
        child = parent;
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

bool ReadOther(void* process, unsigned long long address, void* buffer, size_t size) {
    SIZE_T got = 0;
    return ReadProcessMemory(static_cast<HANDLE>(process), reinterpret_cast<const void*>(address), buffer, size,
                             &got) &&
           got == size;
}

// The 32-bit layouts: the environment block's parameters pointer, and the
// current folder's UNICODE_STRING32 in the parameters.
const unsigned kPeb32Parameters = 0x10;
const unsigned kParameters32Folder = 0x24;

// The start-up parameters of a native process whose environment block is
// at `peb`.
bool ReadNativeParameters(MemoryReader read, void* context, unsigned long long peb, ProcessParametersLayout* params) {
    PEB block = {};
    return read(context, peb, &block, sizeof block) && block.ProcessParameters &&
           read(context, reinterpret_cast<unsigned long long>(block.ProcessParameters), params, sizeof *params);
}

// One reading of the folder: false when a piece cannot be read.
bool ReadFolderOnce(MemoryReader read, void* context, unsigned long long peb, bool wow64, std::wstring* folder) {
    unsigned long long buffer = 0;
    unsigned length = 0;
    if (wow64) {
        ULONG parameters = 0;
        unsigned char string32[8];
        if (!read(context, peb + kPeb32Parameters, &parameters, sizeof parameters) || !parameters ||
            !read(context, parameters + kParameters32Folder, string32, sizeof string32))
            return false;
        length = string32[0] | (string32[1] << 8);
        buffer = string32[4] | (string32[5] << 8) | (string32[6] << 16) | (static_cast<unsigned long long>(string32[7]) << 24);
    } else {
        ProcessParametersLayout params = {};
        if (!ReadNativeParameters(read, context, peb, &params)) return false;
        length = params.CurrentDirectoryPath.Length;
        buffer = reinterpret_cast<unsigned long long>(params.CurrentDirectoryPath.Buffer);
    }
    // An odd length is not a path (a 16-bit length cannot exceed the longest path).
    if (!buffer || length == 0 || length % 2) return false;
    folder->assign(length / 2, L'\0');
    if (!read(context, buffer, &(*folder)[0], length)) return false;
    folder->resize(wcsnlen(folder->c_str(), folder->size()));
    return true;
}

}  // namespace

std::wstring ReadCurrentDirectoryAt(MemoryReader read, void* context, unsigned long long peb, bool wow64) {
    // The prompt may be in the middle of a `cd`: a length of one folder with
    // the text of another would show neither.
    std::wstring last;
    bool have = false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::wstring folder;
        if (!ReadFolderOnce(read, context, peb, wow64, &folder)) return std::wstring();
        if (have && folder == last) {
            if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
            return folder;
        }
        last = folder;
        have = true;
    }
    return std::wstring();
}

std::wstring ReadProcessCurrentDirectory(const ProcessRef& process) {
    kovra::common::UniqueHandle opened = OpenSameProcess(process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    const QueryProcessFunction query = GetQueryProcess();
    if (!opened || !query) return std::wstring();
    // A 32-bit process's own block; null for a native one.
    ULONG_PTR peb32 = 0;
    if (query(opened.Get(), ProcessWow64Information, &peb32, sizeof peb32, nullptr) == 0 && peb32)
        return ReadCurrentDirectoryAt(ReadOther, opened.Get(), peb32, true);
    PROCESS_BASIC_INFORMATION basic = {};
    if (query(opened.Get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 || !basic.PebBaseAddress)
        return std::wstring();
    return ReadCurrentDirectoryAt(ReadOther, opened.Get(), reinterpret_cast<unsigned long long>(basic.PebBaseAddress),
                                  false);
}

std::wstring ReadProcessCommandLine(HANDLE process) {
    const QueryProcessFunction query = GetQueryProcess();
    ULONG_PTR peb32 = 0;
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(process, ProcessWow64Information, &peb32, sizeof peb32, nullptr) != 0 || peb32 ||
        query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 || !basic.PebBaseAddress)
        return std::wstring();
    ProcessParametersLayout params = {};
    if (!ReadNativeParameters(ReadOther, process, reinterpret_cast<unsigned long long>(basic.PebBaseAddress), &params))
        return std::wstring();
    const UNICODE_STRING& line = params.CommandLine;
    if (!line.Buffer || line.Length == 0 || line.Length % 2) return std::wstring();
    std::wstring text(line.Length / 2, L'\0');
    if (!ReadOther(process, reinterpret_cast<unsigned long long>(line.Buffer), &text[0], line.Length))
        return std::wstring();
    return text;
}

std::vector<DWORD> ConsoleProcessIds() {
    std::vector<DWORD> ids(64);
    DWORD count = GetConsoleProcessList(ids.data(), static_cast<DWORD>(ids.size()));
    if (count > ids.size()) {
        ids.resize(count);
        count = GetConsoleProcessList(ids.data(), static_cast<DWORD>(ids.size()));
    }
    ids.resize(count <= ids.size() ? count : 0);
    return ids;
}

bool IsThisProgramsName(const wchar_t* path) {
    const kovra::C_WString theirs = kovra::common::kovra_GetLastName(kovra::C_WString(path));
    const kovra::C_WString ours = kovra::common::kovra_GetLastName(kovra::C_WString(OwnImagePath().c_str()));
    return !ours.Empty() && CompareStringOrdinal(theirs.GetString(), theirs.Length(), ours.GetString(), ours.Length(),
                                                 TRUE) == CSTR_EQUAL;
}

std::vector<ProcessRef> GetConsoleProcesses(size_t limit) {
    std::vector<ProcessRef> found;
    std::vector<kovra::common::UniqueHandle> held;  // no id passes to another process meanwhile
    for (DWORD pid : ConsoleProcessIds()) {
        if (pid == GetCurrentProcessId() || found.size() >= limit) continue;
        kovra::common::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        if (!process) continue;
        found.push_back({pid, CreationTime(process.Get())});
        held.push_back(std::move(process));
    }
    // An id that left the console before it was opened may name a stranger.
    const std::vector<DWORD> again = ConsoleProcessIds();
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](const ProcessRef& p) {
                                   return p.created == 0 ||
                                          std::find(again.begin(), again.end(), p.pid) == again.end();
                               }),
                found.end());
    return found;
}

}  // namespace vrek
