#pragma once

// Small helpers shared by the benchmark programs.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline std::wstring SelfPath() {
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
    return std::wstring(buffer, n);
}

inline std::wstring SelfDir() {
    std::wstring self = SelfPath();
    return self.substr(0, self.find_last_of(L"\\/"));
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0) return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Writes `mib` MiB to `out` in `chunk`-byte WriteFile calls; 0 on success.
inline int WriteMiB(HANDLE out, unsigned long mib, unsigned long chunk) {
    std::vector<char> block(chunk);
    for (unsigned long i = 0; i < chunk; ++i) block[i] = static_cast<char>(i % 64 == 63 ? '\n' : 'a' + i % 26);
    unsigned long long left = static_cast<unsigned long long>(mib) << 20;
    while (left > 0) {
        DWORD n = static_cast<DWORD>(std::min<unsigned long long>(left, chunk));
        DWORD put = 0;
        if (!WriteFile(out, block.data(), n, &put, nullptr) || put == 0) return 1;
        left -= put;
    }
    return 0;
}

}  // namespace bench
