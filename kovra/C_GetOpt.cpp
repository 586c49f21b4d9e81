#include "kovra/C_GetOpt.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace kovra {

namespace {

// Finds the option-string byte for `ch`, searching from the last byte back.
// Code units above 0xFF never match: their low byte would otherwise pass a
// full-width letter off as an ASCII option. ':' only marks a value.
const char* MatchLetter(const char* optstring, wchar_t ch) {
    if (optstring == nullptr || ch == L'\0' || ch > 0xFF || ch == L':') return nullptr;
    for (size_t i = std::strlen(optstring); i-- > 0;) {
        if (static_cast<unsigned char>(optstring[i]) == ch) return optstring + i;
    }
    return nullptr;
}

bool TakesValue(const char* matched) { return matched[1] == ':'; }

char LowByte(wchar_t ch) { return static_cast<char>(ch & 0xFF); }

int LetterResult(const char* matched) { return static_cast<signed char>(*matched); }

wint_t Wide(char c) { return static_cast<wint_t>(static_cast<unsigned char>(c)); }

}  // namespace

C_GetOpt::C_GetOpt()
    : optarg_(nullptr),
      nextchar(nullptr),
      scanIndex(1),
      nonOptionStart(1),
      optind_(1),
      opterr_(1),
      optopt_(0),
      optchar('/'),
      lastWasOption(true),
      lastOptionIndex(1) {}

C_GetOpt::~C_GetOpt() {}

void C_GetOpt::setoptchar(char c) { optchar = c; }

char C_GetOpt::getoptchar() const { return optchar; }

wchar_t*& C_GetOpt::optarg() { return optarg_; }

int& C_GetOpt::optind() { return optind_; }

int& C_GetOpt::opterr() { return opterr_; }

char& C_GetOpt::optopt() { return optopt_; }

int C_GetOpt::getopt(int argc, wchar_t** argv, const char* optstring) {
    return _next(argc, argv, optstring, nullptr, nullptr, false);
}

int C_GetOpt::getopt_long(int argc, wchar_t** argv, const char* optstring, const option* longopts, int* longindex) {
    return _next(argc, argv, optstring, longopts, longindex, true);
}

wchar_t C_GetOpt::_lead() const { return static_cast<wchar_t>(static_cast<unsigned char>(optchar)); }

bool C_GetOpt::_is_option_element(const wchar_t* element, bool longMode) const {
    // A null lead would make the empty text look like an option and send the
    // checks below past its terminator.
    if (element == nullptr || element[0] == L'\0' || element[0] != _lead()) return false;
    if (element[1] == L'\0') return false;  // the lead alone is a plain word
    return longMode || element[2] == L'\0';
}

void C_GetOpt::_permute(wchar_t** argv) {
    const bool due = lastWasOption;
    // A permutation is due once per option: a second one after the end has
    // been reported would move the non-options among themselves.
    lastWasOption = false;
    if (!due || scanIndex - nonOptionStart <= 1) return;
    // The option returned last occupies [lastOptionIndex, scanIndex); the
    // non-options skipped before it occupy [nonOptionStart, lastOptionIndex).
    std::rotate(argv + nonOptionStart, argv + lastOptionIndex, argv + scanIndex);
    nonOptionStart += scanIndex - lastOptionIndex;
    optind_ = nonOptionStart;
}

void C_GetOpt::_finish_option(int p, bool atBlockStart) {
    lastWasOption = true;
    lastOptionIndex = p;
    if (atBlockStart) nonOptionStart = scanIndex;
}

int C_GetOpt::_next(int argc, wchar_t** argv, const char* optstring, const option* longopts, int* longindex,
                    bool longMode) {
    if (scanIndex == -1) return -1;
    if (longMode && nextchar != nullptr) return _cluster_option(argc, argv, optstring);

    _permute(argv);
    if (scanIndex >= argc) return -1;

    int p = scanIndex;
    while (p < argc && !_is_option_element(argv[p], longMode)) ++p;
    if (p >= argc) {
        // optind keeps indexing the first non-option.
        lastWasOption = false;
        scanIndex = argc;
        return -1;
    }
    if (longMode && argv[p][1] == _lead()) return _long_option(argc, argv, p, longopts, longindex);
    return _short_option(argc, argv, p, optstring);
}

int C_GetOpt::_long_option(int argc, wchar_t** argv, int p, const option* longopts, int* longindex) {
    const bool atBlockStart = (p == nonOptionStart);
    const wchar_t* element = argv[p];
    const wchar_t* name = element + 2;
    const size_t length = std::wcslen(name);

    int found = -1;
    for (int i = 0; longopts != nullptr && longopts[i].name != nullptr; ++i) {
        if (std::wcslen(longopts[i].name) == length && std::wmemcmp(longopts[i].name, name, length) == 0) {
            found = i;
            break;
        }
    }

    if (found < 0) {
        scanIndex = p + 1;
        optind_ = p + 1;
        optopt_ = LowByte(element[1]);
        optarg_ = nullptr;
        _finish_option(p, atBlockStart);
        if (opterr_) wprintf(L"%lc%lc%ls 無効なオプションです。\n", _lead(), _lead(), name);
        return '?';
    }

    const option& entry = longopts[found];
    if (longindex != nullptr) *longindex = found;
    optind_ = p + 1;
    if (entry.has_arg) {
        if (p + 1 >= argc) {
            // optind stays at argc: past the option, not past the vector.
            optarg_ = nullptr;
            scanIndex = -1;
            optopt_ = 0;
            if (opterr_) wprintf(L"%lc%lc%ls オプションに引数が必要です。\n", _lead(), _lead(), entry.name);
            return '?';
        }
        optarg_ = argv[p + 1];
        optind_ += 1;
        scanIndex = p + 2;
    } else {
        optarg_ = nullptr;
        scanIndex = p + 1;
    }
    _finish_option(p, atBlockStart);
    if (entry.flag == nullptr) return entry.val;
    *entry.flag = entry.val;
    return 0;
}

int C_GetOpt::_short_option(int argc, wchar_t** argv, int p, const char* optstring) {
    const bool atBlockStart = (p == nonOptionStart);
    wchar_t* element = argv[p];
    const wchar_t letter = element[1];
    optind_ = p + 1;
    // Only getopt_long sees elements longer than two characters.
    if (element[2] != L'\0') nextchar = element + 2;

    const char* matched = MatchLetter(optstring, letter);
    if (matched == nullptr) {
        scanIndex = p + 1;
        optind_ = p + 1;
        optopt_ = LowByte(letter);
        optarg_ = nullptr;
        _finish_option(p, atBlockStart);
        if (opterr_) wprintf(L"%lc%lc 無効なオプションです。\n", _lead(), static_cast<wint_t>(letter));
        return '?';
    }

    if (TakesValue(matched)) {
        if (nextchar != nullptr) {
            optarg_ = nextchar;
            nextchar = nullptr;
            scanIndex = p + 1;
        } else if (p + 1 < argc) {
            optarg_ = argv[p + 1];
            optind_ += 1;
            scanIndex = p + 2;
        } else {
            // optind stays at argc: past the option, not past the vector.
            optarg_ = nullptr;
            scanIndex = -1;
            optopt_ = LowByte(letter);
            if (opterr_) wprintf(L"%lc%lc オプションに引数が必要です。\n", _lead(), Wide(*matched));
            return '?';
        }
    } else {
        optarg_ = nullptr;
        scanIndex = p + 1;
    }
    _finish_option(p, atBlockStart);
    return LetterResult(matched);
}

int C_GetOpt::_cluster_option(int argc, wchar_t** argv, const char* optstring) {
    // Inside a cluster scanIndex and nonOptionStart stay where the cluster's
    // first letter left them; lastOptionIndex is the cluster's element.
    const wchar_t letter = *nextchar++;
    if (*nextchar == L'\0') nextchar = nullptr;
    lastWasOption = true;

    const char* matched = MatchLetter(optstring, letter);
    if (matched == nullptr) {
        optarg_ = nullptr;
        optopt_ = LowByte(letter);
        if (scanIndex < argc) {
            if (opterr_) wprintf(L"%lc%lc 無効なオプションです。\n", _lead(), static_cast<wint_t>(letter));
            return '?';
        }
        if (opterr_) {
            wprintf(L"%ls の解析に失敗しました。\n", argv[lastOptionIndex]);
            opterr_ = 2;
        }
        return '?';
    }

    if (!TakesValue(matched)) {
        optarg_ = nullptr;
        return LetterResult(matched);
    }
    if (nextchar == nullptr) {
        // The value must be inside the cluster; the next element is not taken.
        optarg_ = nullptr;
        optopt_ = LowByte(letter);
        if (opterr_) wprintf(L"%lc%lc オプションに引数が必要です。\n", _lead(), Wide(*matched));
        return '?';
    }
    optarg_ = nextchar;
    nextchar = nullptr;
    return LetterResult(matched);
}

}  // namespace kovra
