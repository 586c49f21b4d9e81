#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VrekRun.h"

// Shared drivers of the stress suite: its scale, seeded generators, memory
// that faults at the first byte read or written past a text, the bad-input
// driver and the one-line figures every test prints.
namespace stress {

// VREK_STRESS=full (make stress) runs the full suite; anything else the
// short one that `make test` runs.
bool Full();
template <typename T>
T Scaled(T shortValue, T fullValue) {
    return Full() ? fullValue : shortValue;
}

// The seed of the whole run: VREK_STRESS_SEED, or a fixed default, so a
// failing run can be repeated exactly.
uint64_t BaseSeed();

// "stress: <text>", one line, flushed at once.
void Figure(const char* format, ...);

// A seeded generator (splitmix64): the same seed gives the same cases on
// every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}
    uint64_t Next();
    // 0 .. bound-1; 0 for a bound of 0.
    uint32_t Below(uint32_t bound);
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(static_cast<uint32_t>(items.size()))];
    }
    // Up to `maxPieces` pieces drawn from `pieces`, joined.
    std::wstring Text(const std::vector<std::wstring>& pieces, uint32_t maxPieces);
    std::string Bytes(uint32_t maxLength);

private:
    uint64_t m_state;
};

// Texts placed so that their last byte is the last readable one of a page
// followed by a page without access: a read or write past the end faults at
// once, where the heap's slack would hide it. Slots are reused by the next
// case after Reset.
class GuardedPool {
public:
    GuardedPool() = default;
    ~GuardedPool();
    GuardedPool(const GuardedPool&) = delete;
    GuardedPool& operator=(const GuardedPool&) = delete;

    const unsigned char* Place(const void* bytes, size_t size);
    // A copy of the text with its terminator.
    wchar_t* Text(const std::wstring& text);
    // An argument vector: a null program name, then the texts.
    wchar_t** Argv(const std::vector<std::wstring>& texts);
    void Reset();

private:
    struct Slot {
        unsigned char* base;
        size_t capacity;
    };
    std::vector<Slot> m_slots;
    size_t m_used = 0;
    std::vector<wchar_t*> m_argv;
};

// Runs `cases` cases of a bad-input target, each with a generator seeded
// from the run's seed, the target's name and the case number. A case
// returns the empty string when its invariants hold, else what broke.
// Standard output goes to the null device meanwhile (the parsers'
// diagnostics for thousands of bad vectors would drown the log). Prints the
// target's figure and the first failures; a crash names the target and the
// case before the process ends. The number of failures.
int Fuzz(const char* target, int cases, const std::function<std::string(Rng&)>& oneCase);

// The case count of each bad-input target: VREK_STRESS_CASES, else 100 000
// in the full run and 3000 in the short one.
int Cases();

// A printable form of a text for failure messages (UTF-8, control and
// surrogate units as \uXXXX).
std::string Show(const std::wstring& text);
std::string ShowBytes(const std::string& bytes);

// A command's output for the load tests, the same for the same seed and
// size: short lines, lines of thousands of bytes, lines past the relay's
// 10240-byte limit, zero bytes and carriage returns, and no line end at the
// very end. Made piece by piece, so that hundreds of MiB need no memory.
class StreamBytes {
public:
    StreamBytes(uint64_t seed, uint64_t total) : m_rng(seed), m_left(total) {}
    // The next bytes, at most `max` of them; 0 at the end.
    size_t Next(char* out, size_t max);

private:
    Rng m_rng;
    uint64_t m_left;
    std::string m_line;
    size_t m_at = 0;
};

// Whether the file holds StreamBytes(seed, bytes) followed by `tail` (an
// ECMAScript pattern for the rest, e.g. the result line).
::testing::AssertionResult FileHoldsStream(const std::wstring& path, uint64_t seed, uint64_t bytes,
                                           const std::string& tail);

// Launchers of vrek.exe, one per argument text, all started before any is
// waited for; each job as e2e::StartJob makes it.
std::vector<std::unique_ptr<e2e::Job>> StartJobsAtOnce(const std::vector<std::wstring>& args,
                                                       const wchar_t* directory = nullptr,
                                                       const std::wstring& program = L"vrek.exe");

// vrek --managed-daemon with `script` as its input, run to its end. The
// manager frees the records of tasks that run another executable than its
// own, so daemons of vrek-shortwatch.exe need its manager.
testsupport::RunResult RunManager(const std::string& script, const std::wstring& program = L"vrek.exe");

}  // namespace stress
