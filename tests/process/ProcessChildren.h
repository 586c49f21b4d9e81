#pragma once

#include <windows.h>

#include <string>

#include "kovra/C_Process.h"

// Shared by the process tests: the byte pattern the children write, and the
// task copy's relay loop over a C_Process.
namespace processtest {

// A pattern without short periods, so lost, doubled or reordered pieces show.
inline char PatternByte(size_t i) { return static_cast<char>((i * 131u + (i >> 9) * 7u + 17u) & 0xFF); }

inline std::string Pattern(size_t n, size_t offset = 0) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = PatternByte(offset + i);
    return bytes;
}

struct Drained {
    std::string out;
    std::string err;
    int largestRead = 0;
    bool finished = false;  // false: gave up after `limitMs`
};

// Reads output and error as the task copy does: ReaderStream(buffer, size,
// timeout), then the error pipe while IsReadable_stderr reports it open,
// until the output reports the end (-1) and the error pipe is closed.
Drained DrainLikeTheTask(kovra::C_Process& process, int size = 10240, int timeout = 50, DWORD limitMs = 120000);

}  // namespace processtest
