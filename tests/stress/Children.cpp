// Commands the stress jobs run: this test program re-run as a child.
#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "Stress.h"
#include "support/TestSupport.h"

namespace {

const DWORD kMostLife = 120000;  // no child outlives a broken test by much

bool WriteAll(HANDLE handle, const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

// Writes stress::StreamBytes(seed, bytes) to its standard output.
TEST_CHILD(stream) {
    if (argc < 2) return 2;
    stress::StreamBytes source(_wcstoui64(argv[0], nullptr, 10), _wcstoui64(argv[1], nullptr, 10));
    std::vector<char> chunk(1 << 16);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    for (size_t n; (n = source.Next(chunk.data(), chunk.size())) > 0;)
        if (!WriteAll(out, chunk.data(), n)) return 4;
    return 0;
}

// Takes the named mutex argv[0], says so by creating the file argv[1], and
// holds it until it is killed.
TEST_CHILD(holdmutex) {
    if (argc < 2) return 2;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, argv[0]);
    if (!mutex || WaitForSingleObject(mutex, 30000) > WAIT_ABANDONED) return 4;
    if (!testsupport::WriteFileBytes(argv[1], "held")) return 5;
    Sleep(kMostLife);
    return 0;
}
