#pragma once

#include <windows.h>

#include <stdio.h>

#include <memory>

#include "kovra/C_StringMemory.h"
#include "kovra/common/UniqueHandle.h"
#include "tool/TaskContext.h"

namespace vrek {

// Pending text without a line end is written whole once it exceeds this.
constexpr size_t kLongestHeldLine = 10240;
// Without --flush, pending text is written at most this often...
constexpr DWORD kEmitPeriodMs = 500;
// ...or as soon as a stream holds this much not yet taken for writing: whole
// lines, while the pipe's reader goes on reading into a second batch.
constexpr size_t kEarlyEmitBytes = 1 << 20;
// A stream holding that much always has lines due, so a full ring is always
// written out.
static_assert(kEarlyEmitBytes > kLongestHeldLine, "an early emission must find text due");

// How many of the first `length` pending bytes are due: up to and including
// the last line end; all of them when there is none and they exceed
// kLongestHeldLine; else 0.
size_t LinesReadyToWrite(const char* bytes, size_t length);
// The same for text in two stretches, the second following the first.
size_t LinesReadyToWrite(const char* first, size_t firstLength, const char* second, size_t secondLength);

// Unless the task has a console of its own or has already done so, writes
// "\n" to standard output: the task's output then starts below the line on
// which the shell's prompt stands.
void WriteLeadingNewline(TaskContext& context);

// Writes the complete lines held in `pending` to `stream` and keeps the
// rest; text without a line end is written whole once it exceeds 10240
// bytes. Bytes are written by count, so output with zero bytes (UTF-16
// text, binary data) passes unchanged.
void EmitPending(TaskContext& context, kovra::C_StringMemory& pending, FILE* stream);

// After a write to `stream` (stdout or stderr): the first failure of each
// (a disk that went away or filled up, a pipe whose reader left, a console
// that is not there) is reported once, on the prompt's console, with the
// reason the failing write gave; with no console at all it is not reported.
// What the command writes there is lost, but the task goes on relaying, so
// that the command never blocks on a full pipe, and ends as usual.
void CheckWritten(TaskContext& context, FILE* stream);

// The relay mode's reading of the command's output and error pipes.
//
// Each pipe is read by a thread of its own with blocking reads straight into
// that stream's ring of two batches, and the task's thread sleeps until
// there is something to do: new text, a pipe's end, the stop event (set by
// the console control handler), the time of the next emission, or, for a
// registered task, the 100 ms check of the record's signal byte. An idle or
// orphaned command (a grandchild holding the pipes after the command ended)
// then costs no polling. While the task's thread writes one batch of whole
// lines out of the ring, the reader goes on draining the pipe into the rest
// of it, so the command does not wait on a full pipe meanwhile; a full ring
// pauses the reader until the batch is written, so memory stays bounded
// whatever the command writes.
//
// Rules kept from the polling relay: whole lines, byte for byte; more than
// 10240 bytes without a line end written whole; output before error within
// one emission; with --flush an emission at every arrival, otherwise at most
// every 500 ms plus an early one for a stream past 1 MiB.
//
// The reader threads read duplicates of the pipes' read ends, so the process
// object may close its own. A thread still blocked when the relay goes (a
// stop request while a grandchild holds the pipe) is left to end with the
// pipe or with the process; it shares nothing that goes with the relay.
class Relay {
public:
    // `readerThreads` false reads both pipes from the task's thread with
    // peeks and short waits, as the fallback does when a thread cannot be
    // started.
    explicit Relay(TaskContext& context, bool readerThreads = true);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Relays until both pipes are closed (the command and whatever inherited
    // its pipes have ended). A stop request at a check throws StopRequest.
    void Run();
    // After Run: writes what is left, output then error, line or not.
    void WriteRest();

private:
    struct Channel;
    static unsigned __stdcall ReadPipe(void* channel);
    void Emit(Channel& channel, FILE* stream);
    bool PollChannel(Channel& channel);

    TaskContext& m_context;
    std::shared_ptr<Channel> m_out;
    std::shared_ptr<Channel> m_err;
    kovra::common::UniqueHandle m_threads[2];
    bool m_polling = false;
};

}  // namespace vrek
