#include "tool/ProgramSearch.h"

#include <windows.h>

#include <vector>

namespace vrek {

namespace {

const wchar_t kDefaultPathExt[] = L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC";

std::wstring Lower(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The absolute, normalised form of a path (GetFullPathNameW also drops the
// last name's trailing dots and blanks); empty when there is none.
std::wstring FullPath(const std::wstring& path) {
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return std::wstring();
        if (n < full.size()) return std::wstring(full.data(), n);
        full.resize(n);
    }
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// `name` counted from `folder` (itself absolute): a drive-qualified or UNC
// name stands alone, a rooted one takes the folder's drive or share.
std::wstring InFolder(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return FullPath(name);
    if (name.size() >= 2 && (name[1] == L':' || (name[0] == L'\\' && name[1] == L'\\'))) return FullPath(name);
    if (name[0] != L'\\') return FullPath(folder + (folder.back() == L'\\' ? L"" : L"\\") + name);
    size_t root = 2;  // "C:"
    if (folder.compare(0, 2, L"\\\\") == 0) {
        // \\server\share
        root = folder.find(L'\\', 2);
        root = root == std::wstring::npos ? folder.size() : folder.find(L'\\', root + 1);
        if (root == std::wstring::npos) root = folder.size();
    }
    return FullPath(folder.substr(0, root) + name);
}

// PATH's folders: ';' separates outside quotes, the quotes are dropped.
std::vector<std::wstring> PathFolders(const std::wstring& path) {
    std::vector<std::wstring> folders;
    std::wstring folder;
    bool quoted = false;
    for (size_t i = 0; i <= path.size(); ++i) {
        const wchar_t c = i < path.size() ? path[i] : L';';
        if (c == L'"') {
            quoted = !quoted;
        } else if (c == L';' && !quoted) {
            if (!folder.empty()) folders.push_back(folder);
            folder.clear();
        } else {
            folder += c;
        }
    }
    return folders;
}

bool Contains(const std::vector<std::wstring>& list, const std::wstring& item) {
    for (const auto& entry : list)
        if (entry == item) return true;
    return false;
}

// The program in one folder's view of `base` (the name made full there).
bool FindIn(const std::wstring& base, const std::vector<std::wstring>& extensions, std::wstring* found) {
    const size_t slash = base.find_last_of(L'\\');
    const std::wstring last = slash == std::wstring::npos ? base : base.substr(slash + 1);
    if (last.empty()) return false;  // a folder's name
    const size_t dot = last.find_last_of(L'.');
    const std::wstring extension = dot == std::wstring::npos ? std::wstring() : Lower(last.substr(dot));
    if (!extension.empty() && Contains(extensions, extension)) {
        if (!IsFile(base)) return false;
        *found = base;
        return true;
    }
    for (const auto& candidate : extensions) {
        if (IsFile(base + candidate)) {
            *found = base + candidate;
            return true;
        }
    }
    if (extension.empty() || !IsFile(base)) return false;
    *found = base;
    return true;
}

}  // namespace

std::wstring EnvironmentValue(const wchar_t* name) {
    std::vector<wchar_t> value(1024);
    for (;;) {
        const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return std::wstring();
        if (n < value.size()) return std::wstring(value.data(), n);
        value.resize(n);
    }
}

ProgramSearch ProgramSearch::OfThisProcess(const wchar_t* folder) {
    ProgramSearch search;
    search.folder = FullPath(folder && *folder ? folder : L".");
    search.path = EnvironmentValue(L"PATH");
    search.pathext = EnvironmentValue(L"PATHEXT");
    return search;
}

std::vector<std::wstring> PathExtensions(const std::wstring& pathext) {
    std::vector<std::wstring> extensions;
    std::wstring list = pathext.find_first_not_of(L" ;") == std::wstring::npos ? kDefaultPathExt : pathext;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(L';', start);
        if (end == std::wstring::npos) end = list.size();
        std::wstring entry = list.substr(start, end - start);
        const size_t first = entry.find_first_not_of(L" \t");
        const size_t lastChar = entry.find_last_not_of(L" \t");
        entry = first == std::wstring::npos ? std::wstring() : entry.substr(first, lastChar - first + 1);
        if (entry.size() > 1 && entry[0] == L'.') extensions.push_back(Lower(entry));
        start = end + 1;
    }
    return extensions;
}

SearchOutcome FindProgram(const std::wstring& name, const ProgramSearch& search, std::wstring* found) {
    if (name.empty()) return SEARCH_NOT_FOUND;
    const size_t colon = name.find(L':');
    if (name.find_first_of(L"*?/,;=") != std::wstring::npos || (colon != std::wstring::npos && colon != 1) ||
        name.find(L':', 2) != std::wstring::npos)
        return SEARCH_FOR_CMD;
    // Dropped here too, so that a name ending in a folder's separator once
    // they are gone ("sub\..") is no file.
    std::wstring trimmed = name;
    while (!trimmed.empty() && (trimmed.back() == L'.' || trimmed.back() == L' ')) trimmed.pop_back();
    if (trimmed.empty() || trimmed.back() == L'\\') return SEARCH_NOT_FOUND;

    const std::vector<std::wstring> extensions = PathExtensions(search.pathext);
    const bool hasFolder = trimmed.find(L'\\') != std::wstring::npos || colon == 1;
    if (hasFolder) {
        const std::wstring base = InFolder(search.folder, trimmed);
        return !base.empty() && FindIn(base, extensions, found) ? SEARCH_FOUND : SEARCH_NOT_FOUND;
    }
    std::vector<std::wstring> folders{search.folder};
    for (const auto& entry : PathFolders(search.path)) folders.push_back(InFolder(search.folder, entry));
    for (const auto& folder : folders) {
        if (folder.empty()) continue;
        const std::wstring base = InFolder(folder, trimmed);
        if (!base.empty() && FindIn(base, extensions, found)) return SEARCH_FOUND;
    }
    return SEARCH_NOT_FOUND;
}

}  // namespace vrek
