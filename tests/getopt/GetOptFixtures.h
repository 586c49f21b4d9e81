#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "kovra/C_GetOpt.h"
#include "tool/TaskSettings.h"

namespace getopttest {

// An argument vector the parser may reorder: "prog" followed by the given
// texts. The texts stay where they are, so tests can compare the pointers
// the parser hands out with the original elements.
class ArgVector {
public:
    ArgVector(std::initializer_list<const wchar_t*> args) : ArgVector(std::vector<const wchar_t*>(args)) {}
    explicit ArgVector(const std::vector<const wchar_t*>& args) : texts_{L"prog"} {
        for (const wchar_t* a : args) texts_.push_back(a);
        for (std::wstring& t : texts_) pointers_.push_back(&t[0]);
    }
    ArgVector(const ArgVector&) = delete;
    ArgVector& operator=(const ArgVector&) = delete;

    int argc() const { return static_cast<int>(pointers_.size()); }
    wchar_t** argv() { return pointers_.data(); }
    // Element i as it was before any reordering.
    wchar_t* Original(int i) { return &texts_[i][0]; }
    // The vector in its current order, without element 0.
    std::vector<std::wstring> Current() const {
        std::vector<std::wstring> now;
        for (size_t i = 1; i < pointers_.size(); ++i) now.push_back(pointers_[i]);
        return now;
    }

private:
    std::vector<std::wstring> texts_;
    std::vector<wchar_t*> pointers_;
};

// The tool's own long options: every entry stores 0 into one shared integer
// and the caller dispatches on the table position.
class ToolTable {
public:
    ToolTable() { vrek::GetLauncherOptions(entries_, &flag); }
    ToolTable(const ToolTable&) = delete;
    ToolTable& operator=(const ToolTable&) = delete;

    const kovra::C_GetOpt::option* entries() const { return entries_; }
    static constexpr int kCount = vrek::kLauncherOptionCount;

    int flag = -1;

private:
    kovra::C_GetOpt::option entries_[vrek::kLauncherOptionCount + 1];
};

}  // namespace getopttest
