#include "Stress.h"

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <regex>

#include "support/TestSupport.h"

namespace stress {

namespace {

const size_t kPage = 4096;

// The case under way, for the crash report.
const char* g_target = nullptr;
int g_case = -1;
uint64_t g_caseSeed = 0;

// A crash in a case would otherwise end the program without a word (or
// start Wine's debugger, which waits for ever): name the case and end.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    fprintf(stderr, "stress: crash 0x%08lx in %s, case %d (case seed %llu, run seed %llu)\n",
            static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), g_target ? g_target : "(none)", g_case,
            static_cast<unsigned long long>(g_caseSeed), static_cast<unsigned long long>(BaseSeed()));
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

uint64_t Mix(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

uint64_t HashName(const char* name) {
    uint64_t hash = 1469598103934665603ull;
    for (; *name; ++name) hash = (hash ^ static_cast<unsigned char>(*name)) * 1099511628211ull;
    return hash;
}

// Standard output (and what wprintf writes to it) goes to the null device
// while the object lives: the parsers' diagnostics for thousands of bad
// vectors would drown the log.
class QuietStdout {
public:
    QuietStdout() {
        fflush(stdout);
        m_saved = _dup(1);
        int nul = _open("NUL", _O_WRONLY);
        if (nul >= 0) {
            _dup2(nul, 1);
            _close(nul);
        }
    }
    ~QuietStdout() {
        fflush(stdout);
        if (m_saved >= 0) {
            _dup2(m_saved, 1);
            _close(m_saved);
        }
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int m_saved;
};

}  // namespace

bool Full() {
    static const bool full = [] {
        const char* value = getenv("VREK_STRESS");
        return value && std::string(value) == "full";
    }();
    return full;
}

uint64_t BaseSeed() {
    static const uint64_t seed = [] {
        const char* value = getenv("VREK_STRESS_SEED");
        return value && *value ? strtoull(value, nullptr, 10) : 20240612ull;
    }();
    return seed;
}

int Cases() {
    static const int cases = [] {
        const char* value = getenv("VREK_STRESS_CASES");
        return value && atoi(value) > 0 ? atoi(value) : Scaled(3000, 100000);
    }();
    return cases;
}

void Figure(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    printf("stress: %s\n", text);
    fflush(stdout);
}

uint64_t Rng::Next() {
    m_state += 0x9E3779B97F4A7C15ull;
    return Mix(m_state);
}

uint32_t Rng::Below(uint32_t bound) { return bound ? static_cast<uint32_t>(Next() % bound) : 0; }

std::wstring Rng::Text(const std::vector<std::wstring>& pieces, uint32_t maxPieces) {
    std::wstring text;
    for (uint32_t n = Below(maxPieces + 1); n > 0; --n) text += Pick(pieces);
    return text;
}

std::string Rng::Bytes(uint32_t maxLength) {
    std::string bytes(Below(maxLength + 1), '\0');
    for (char& c : bytes) c = static_cast<char>(Next());
    return bytes;
}

GuardedPool::~GuardedPool() {
    for (const Slot& slot : m_slots) VirtualFree(slot.base, 0, MEM_RELEASE);
}

const unsigned char* GuardedPool::Place(const void* bytes, size_t size) {
    size_t at = m_used;
    while (at < m_slots.size() && m_slots[at].capacity < size) ++at;
    if (at == m_slots.size()) {
        const size_t capacity = (size + kPage - 1) / kPage * kPage + kPage;
        auto* base = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, capacity + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (!base || !VirtualProtect(base + capacity, kPage, PAGE_NOACCESS, &old)) {
            ADD_FAILURE() << "no guarded memory: " << GetLastError();
            abort();
        }
        m_slots.push_back({base, capacity});
    }
    // Keep the slots in use in front, so that Reset frees them all.
    std::swap(m_slots[at], m_slots[m_used]);
    Slot& slot = m_slots[m_used++];
    unsigned char* start = slot.base + slot.capacity - size;
    if (size) memcpy(start, bytes, size);
    return start;
}

wchar_t* GuardedPool::Text(const std::wstring& text) {
    return reinterpret_cast<wchar_t*>(
        const_cast<unsigned char*>(Place(text.c_str(), (text.size() + 1) * sizeof(wchar_t))));
}

wchar_t** GuardedPool::Argv(const std::vector<std::wstring>& texts) {
    m_argv.assign(1, nullptr);
    for (const auto& text : texts) m_argv.push_back(Text(text));
    m_argv.push_back(nullptr);
    return m_argv.data();
}

void GuardedPool::Reset() { m_used = 0; }

int Fuzz(const char* target, int cases, const std::function<std::string(Rng&)>& oneCase) {
    static bool reporting = false;
    if (!reporting) {
        SetUnhandledExceptionFilter(ReportCrash);
        reporting = true;
    }
    const uint64_t targetSeed = Mix(BaseSeed() ^ HashName(target));
    int failures = 0;
    std::vector<std::string> shown;
    g_target = target;
    {
        QuietStdout quiet;
        for (int i = 0; i < cases; ++i) {
            g_case = i;
            g_caseSeed = Mix(targetSeed + static_cast<uint64_t>(i));
            Rng rng(g_caseSeed);
            std::string broken = oneCase(rng);
            if (broken.empty()) continue;
            if (++failures <= 5)
                shown.push_back(std::string(target) + ", case " + std::to_string(i) + " (case seed " +
                                std::to_string(g_caseSeed) + "): " + broken);
        }
    }
    g_target = nullptr;
    g_case = -1;
    for (const auto& failure : shown) ADD_FAILURE() << failure;
    Figure("%s: %d cases, %d failures (seed %llu)", target, cases, failures,
           static_cast<unsigned long long>(BaseSeed()));
    return failures;
}

std::string Show(const std::wstring& text) {
    std::wstring shown;
    for (wchar_t c : text) {
        if (c < 32 || c == 127 || (c >= 0xD800 && c <= 0xDFFF)) {
            wchar_t escape[8];
            swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
            shown += escape;
        } else {
            shown += c;
        }
    }
    return "\"" + testsupport::Narrow(shown) + "\"";
}

std::string ShowBytes(const std::string& bytes) {
    std::string shown = "\"";
    for (unsigned char c : bytes) {
        char piece[8];
        snprintf(piece, sizeof piece, c >= 32 && c < 127 && c != '\\' ? "%c" : "\\x%02x", c);
        shown += piece;
    }
    return shown + "\"";
}

size_t StreamBytes::Next(char* out, size_t max) {
    size_t done = 0;
    while (done < max && m_left > 0) {
        if (m_at == m_line.size()) {
            const uint32_t kind = m_rng.Below(10);
            const uint32_t length = kind < 6   ? m_rng.Below(80)
                                    : kind < 9 ? m_rng.Below(4000)
                                               : 10000 + m_rng.Below(30000);
            m_line.resize(length + 1);
            for (uint32_t i = 0; i < length; i += 8) {
                uint64_t random = m_rng.Next();
                for (uint32_t k = i; k < i + 8 && k < length; ++k, random >>= 8) {
                    const unsigned r = random & 0xFF;
                    m_line[k] = r < 36 ? '\0' : r < 40 ? '\r' : static_cast<char>('a' + r % 26);
                }
            }
            m_line[length] = '\n';
            m_at = 0;
        }
        size_t n = m_line.size() - m_at;
        if (n > max - done) n = max - done;
        if (n > m_left) n = static_cast<size_t>(m_left);
        memcpy(out + done, m_line.data() + m_at, n);
        m_at += n;
        done += n;
        m_left -= n;
        if (m_left == 0 && out[done - 1] == '\n') out[done - 1] = 'z';  // no line end at the very end
    }
    return done;
}

::testing::AssertionResult FileHoldsStream(const std::wstring& path, uint64_t seed, uint64_t bytes,
                                           const std::string& tail) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::testing::AssertionFailure() << "no file: " << GetLastError();
    StreamBytes expected(seed, bytes);
    std::vector<char> want(1 << 20);
    std::vector<char> got(1 << 20);
    uint64_t at = 0;
    std::string rest;
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    for (;;) {
        const size_t n = expected.Next(want.data(), want.size());
        DWORD read = 0;
        size_t have = 0;
        while (have < n && ReadFile(file, got.data() + have, static_cast<DWORD>(n - have), &read, nullptr) && read > 0)
            have += read;
        if (have < n || memcmp(want.data(), got.data(), n) != 0) {
            size_t first = 0;
            while (first < have && want[first] == got[first]) ++first;
            result = ::testing::AssertionFailure()
                     << "the file differs from the command's output at byte " << at + first << " of " << bytes;
            break;
        }
        at += n;
        if (n == 0) {
            while (ReadFile(file, got.data(), static_cast<DWORD>(got.size()), &read, nullptr) && read > 0)
                rest.append(got.data(), read);
            if (!std::regex_match(rest, std::regex(tail)))
                result = ::testing::AssertionFailure() << "after the output: " << ShowBytes(rest.substr(0, 200));
            break;
        }
    }
    CloseHandle(file);
    return result;
}

std::vector<std::unique_ptr<e2e::Job>> StartJobsAtOnce(const std::vector<std::wstring>& args, const wchar_t* directory,
                                                       const std::wstring& program) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    std::vector<std::unique_ptr<testsupport::PipedProcess>> launchers;
    std::vector<HANDLE> running;
    std::vector<size_t> which;
    for (const auto& a : args) {
        launchers.push_back(std::make_unique<testsupport::PipedProcess>());
        const std::wstring line = L"\"" + testsupport::ProgramDir() + L"\\" + program + L"\" " + a;
        if (!launchers.back()->Start(line, directory, nul)) continue;
        running.push_back(OpenProcess(SYNCHRONIZE, FALSE, launchers.back()->Pid()));
        which.push_back(launchers.size() - 1);
    }
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    std::vector<std::unique_ptr<e2e::Job>> jobs(args.size());
    for (auto& job : jobs) job = std::make_unique<e2e::Job>();
    // Each task is opened the moment its launcher has ended, before it can
    // end itself.
    while (!running.empty()) {
        const DWORD woken = WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), FALSE, 60000);
        if (woken >= WAIT_OBJECT_0 + running.size()) break;
        const size_t at = woken - WAIT_OBJECT_0;
        e2e::Job& job = *jobs[which[at]];
        testsupport::PipedProcess& launcher = *launchers[which[at]];
        job.launcherExit = launcher.Wait(10000);
        job.launcherOut = launcher.Output();
        unsigned long pid = 0;
        if (sscanf(job.launcherOut.c_str(), "job: %lu started", &pid) == 1) {
            job.pid = pid;
            job.task.Reset(
                OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
        }
        CloseHandle(running[at]);
        running.erase(running.begin() + static_cast<long>(at));
        which.erase(which.begin() + static_cast<long>(at));
    }
    for (HANDLE process : running) CloseHandle(process);
    return jobs;
}

testsupport::RunResult RunManager(const std::string& script, const std::wstring& program) {
    return testsupport::RunCaptureInput(L"\"" + testsupport::ProgramDir() + L"\\" + program + L"\" --managed-daemon",
                                        script, 60000);
}

}  // namespace stress
