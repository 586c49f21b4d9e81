#include "tool/TaskArgument.h"

#include <algorithm>

#include "kovra/C_WString.h"
#include "tool/CommandBuilder.h"

namespace vrek {

const wchar_t kTaskArgumentPrefix[] = L"--pid-task--";

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// A decimal number at *p, moved past; false (and nothing read) when there
// is none or it overflows.
bool ReadNumber(const wchar_t*& p, unsigned long long limit, unsigned long long* value) {
    if (!IsDigit(*p)) return false;
    unsigned long long n = 0;
    for (; IsDigit(*p); ++p) {
        const unsigned digit = static_cast<unsigned>(*p - L'0');
        if (n > (limit - digit) / 10) return false;
        n = n * 10 + digit;
    }
    *value = n;
    return true;
}

std::wstring Compose(const ProcessRef& process) {
    return std::to_wstring(process.pid) + L"@" + std::to_wstring(process.created);
}

bool Contains(const std::vector<ProcessRef>& list, unsigned long pid) {
    return std::any_of(list.begin(), list.end(), [pid](const ProcessRef& p) { return p.pid == pid; });
}

}  // namespace

long ParseTaskPid(wchar_t** argv, int argc) {
    if (argc <= 1) return -1;
    kovra::C_WString last(argv[argc - 1]);
    if (!last.StartsWith(kovra::C_WString(kTaskArgumentPrefix))) return -1;
    int value = last.EncloseInt(12, nullptr, 7, nullptr);
    return value > 0 ? value : -1;
}

TaskArgument ParseTaskArgument(const wchar_t* argument) {
    TaskArgument parsed;
    const size_t prefix = wcslen(kTaskArgumentPrefix);
    if (!argument || wcsncmp(argument, kTaskArgumentPrefix, prefix) != 0) return parsed;
    const wchar_t* p = argument + prefix;
    std::vector<ProcessRef>* list = &parsed.prompts;
    for (;;) {
        unsigned long long pid = 0;
        unsigned long long created = 0;
        if (!ReadNumber(p, 0xFFFFFFFFull, &pid)) break;
        if (*p == L'@') {
            ++p;
            if (!ReadNumber(p, ~0ull, &created)) break;
        }
        if (pid != 0) list->push_back({static_cast<unsigned long>(pid), created});
        if (*p == L';' && list == &parsed.prompts) {
            list = &parsed.others;
        } else if (*p != L',') {
            break;
        }
        ++p;
    }
    // The folder follows wherever the lists stop.
    if (const wchar_t* bar = wcschr(p, L'|')) parsed.startFolder = bar + 1;
    return parsed;
}

std::wstring ComposeTaskArgument(const TaskArgument& argument) {
    std::wstring text = kTaskArgumentPrefix;
    for (size_t i = 0; i < argument.prompts.size(); ++i) text += (i ? L"," : L"") + Compose(argument.prompts[i]);
    for (size_t i = 0; i < argument.others.size(); ++i) text += (i ? L"," : L";") + Compose(argument.others[i]);
    if (!argument.startFolder.empty()) text += L"|" + argument.startFolder;
    return QuoteArgument(kovra::C_WString(text.c_str()), false).GetString();
}

TaskArgument MakeTaskArgument(const ProcessRef& launcher, const std::vector<ProcessRef>& ancestors,
                              const std::vector<ProcessRef>& console, const std::wstring& startFolder) {
    TaskArgument task;
    task.prompts.push_back(ancestors.empty() ? launcher : ancestors.front());
    for (size_t i = 1; i < ancestors.size(); ++i)
        if (Contains(console, ancestors[i].pid)) task.prompts.push_back(ancestors[i]);
    for (const ProcessRef& process : console)
        if (process.pid != launcher.pid && !Contains(ancestors, process.pid)) task.others.push_back(process);
    task.startFolder = startFolder;
    return task;
}

}  // namespace vrek
