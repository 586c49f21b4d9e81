#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "kovra/C_GetOpt.h"

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

// The tool's long options: every entry stores 0 into one shared integer and
// the caller dispatches on the table position.
class ToolTable {
public:
    ToolTable()
        : entries_{{L"in", 1, &flag, 0},      {L"out", 1, &flag, 0},
                   {L"err", 1, &flag, 0},     {L"delay", 1, &flag, 0},
                   {L"pause", 0, &flag, 0},   {L"nologo", 0, &flag, 0},
                   {L"nul", 0, &flag, 0},     {L"null", 0, &flag, 0},
                   {L"console", 0, &flag, 0}, {L"parent-console", 0, &flag, 0},
                   {L"gui", 0, &flag, 0},     {L"flush", 0, &flag, 0},
                   {L"daemon", 0, &flag, 0},  {L"managed-daemon", 0, &flag, 0},
                   {L"flush2", 0, &flag, 0},  {L"hide", 0, &flag, 0},
                   {L"dir", 1, &flag, 0},     {L"priority", 1, &flag, 0},
                   {nullptr, 0, nullptr, 0}} {}
    ToolTable(const ToolTable&) = delete;
    ToolTable& operator=(const ToolTable&) = delete;

    const kovra::C_GetOpt::option* entries() const { return entries_.data(); }
    static constexpr int kCount = 18;

    int flag = -1;

private:
    std::vector<kovra::C_GetOpt::option> entries_;
};

}  // namespace getopttest
