#include "tool/Relay.h"

#include <mmsystem.h>
#include <process.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "kovra/C_CriticalLock.h"
#include "kovra/C_CriticalSection.h"
#include "kovra/C_String.h"
#include "tool/StdStreams.h"
#include "tool/TaskConsole.h"

namespace vrek {

using kovra::C_CriticalLock;
using kovra::common::UniqueHandle;

namespace {

// A read of a pipe asks for a whole batch after a read that brought at least
// a small share (the command writes fast: fewer, larger reads), otherwise
// for that share: a quiet pipe's pending read then keeps little of the ring
// in memory (Wine touches every page a read asks for before it waits).
const DWORD kLargeRead = static_cast<DWORD>(kEarlyEmitBytes);
const DWORD kSmallRead = 64 * 1024;
// A stream's ring: two batches, one being written while the reader fills
// the other.
const size_t kRingBytes = 2 * kEarlyEmitBytes;
const DWORD kSignalCheckMs = 100;  // a registered task looks at its signal byte this often
const DWORD kPollWaitMs = 10;      // the fallback's wait while the pipes are empty

// The position of the byte after the last line end of `bytes`, 0 when there
// is none.
size_t AfterLastLineEnd(const char* bytes, size_t length) {
    while (length > 0 && bytes[length - 1] != '\n') --length;
    return length;
}

}  // namespace

// One pipe and the text read from it, shared by the relay and the pipe's
// reader thread; whichever lets go last frees it.
//
// The text lives in a ring and is counted by stream position: [head, taken)
// is being written by the relay, [taken, tail) is read and not yet taken,
// and the reader reads only into the free space past `tail`, so neither
// thread touches the other's bytes and none is copied on the way.
struct Relay::Channel {
    explicit Channel(HANDLE source, bool everyRead) : signalEveryRead(everyRead) {
        HANDLE self = GetCurrentProcess();
        if (!source || !DuplicateHandle(self, source, self, pipe.Put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
            closed = true;  // no pipe: nothing will ever come
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // The free stretch after `tail`, at most `limit` bytes; null when the
    // ring is full. Under the lock.
    char* Room(DWORD limit, DWORD& size) const {
        const size_t at = static_cast<size_t>(tail % kRingBytes);
        size_t room = kRingBytes - static_cast<size_t>(tail - head);
        if (room > kRingBytes - at) room = kRingBytes - at;  // up to the ring's end
        size = room < limit ? static_cast<DWORD>(room) : limit;
        return size > 0 ? ring.get() + at : nullptr;
    }

    // Counts `size` bytes read into the room; true when the relay must be
    // woken: the first text since it last looked, a stream past the early
    // mark, or every read with --flush. Under the lock.
    bool Arrive(DWORD size) {
        const bool first = tail == seen;
        tail += size;
        return signalEveryRead || first || tail - taken >= kEarlyEmitBytes;
    }

    // The stretches of the ring that hold the stream's bytes [from, to): the
    // second is empty unless they wrap past the ring's end.
    void Stretches(uint64_t from, uint64_t to, const char* start[2], size_t size[2]) const {
        const size_t at = static_cast<size_t>(from % kRingBytes);
        const size_t length = static_cast<size_t>(to - from);
        start[0] = ring.get() + at;
        size[0] = length < kRingBytes - at ? length : kRingBytes - at;
        start[1] = ring.get();
        size[1] = length - size[0];
    }

    UniqueHandle pipe;  // our own duplicate of the read end; empty when there is none
    UniqueHandle dataEvent{
        CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset: text arrived, or the pipe closed
    UniqueHandle roomEvent{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset: the relay wrote a batch out
    const bool signalEveryRead;
    // Not zero-filled: its pages are touched only as text arrives, so an
    // idle task stays small.
    const std::unique_ptr<char[]> ring{new char[kRingBytes]};
    kovra::C_CriticalSection lock;  // guards the fields below
    uint64_t head = 0;              // first byte not written yet
    uint64_t taken = 0;             // first byte the relay has not taken
    uint64_t tail = 0;              // one past the last byte read
    uint64_t seen = 0;              // `tail` when the relay last looked
    bool closed = false;            // the pipe has ended (or failed)
    bool abandoned = false;         // the relay is gone: the reader stops at its next step
};

// The reader thread: blocking reads into the ring until the pipe ends,
// pausing while the ring is full.
unsigned __stdcall Relay::ReadPipe(void* parameter) {
    std::shared_ptr<Relay::Channel> channel = std::move(*static_cast<std::shared_ptr<Relay::Channel>*>(parameter));
    delete static_cast<std::shared_ptr<Relay::Channel>*>(parameter);
    DWORD ask = kSmallRead;
    for (;;) {
        char* room = nullptr;
        DWORD size = 0;
        {
            C_CriticalLock hold(&channel->lock);
            if (channel->abandoned) return 0;
            room = channel->Room(ask, size);
        }
        if (!room) {
            WaitForSingleObject(channel->roomEvent.Get(), INFINITE);
            continue;
        }
        DWORD got = 0;
        const BOOL ok = ReadFile(channel->pipe.Get(), room, size, &got, nullptr);
        ask = got >= kSmallRead ? kLargeRead : kSmallRead;
        bool wake = false;
        {
            C_CriticalLock hold(&channel->lock);
            if (channel->abandoned) return 0;
            if (!ok) {
                // ERROR_BROKEN_PIPE: every writer has gone. Any other failure
                // ends this pipe's text just the same.
                channel->closed = true;
                wake = true;
            } else if (got > 0) {
                wake = channel->Arrive(got);
            }
        }
        if (wake) SetEvent(channel->dataEvent.Get());
        if (!ok) return 0;
    }
}

void CheckWritten(TaskContext& context, FILE* stream) {
    const int which = stream == stdout ? 0 : 1;
    if (!ferror(stream) || context.writeFailed[which]) return;
    context.writeFailed[which] = true;
    const unsigned long error = LastWriteError(stream);
    const TaskSettings& s = context.settings;
    const int kind = which == 0 ? s.outKind : s.errKind;
    // A file is named by its path, the console streams in words; the report
    // never goes into a file that holds the command's output.
    WriteToPromptConsole(context, kind == TARGET_FILE
                                      ? WriteFailureMessage(which == 0 ? s.outTarget : s.errTarget, error)
                                      : StreamWriteFailureMessage(which == 0 ? STREAM_OUT : STREAM_ERR, error));
}

size_t LinesReadyToWrite(const char* bytes, size_t length) { return LinesReadyToWrite(bytes, length, bytes, 0); }

size_t LinesReadyToWrite(const char* first, size_t firstLength, const char* second, size_t secondLength) {
    if (const size_t end = AfterLastLineEnd(second, secondLength)) return firstLength + end;
    if (const size_t end = AfterLastLineEnd(first, firstLength)) return end;
    const size_t length = firstLength + secondLength;
    return length > kLongestHeldLine ? length : 0;
}

void WriteLeadingNewline(TaskContext& context) {
    if (context.consoleAllocated || context.newlineWritten) return;
    WriteBytes("\n", 1, stdout);
    context.newlineWritten = true;
}

namespace {

// Writes the due text, in one stretch or two, below the prompt's line.
void WriteDue(TaskContext& context, const char* const start[2], const size_t size[2], FILE* stream) {
    WriteLeadingNewline(context);
    for (int i = 0; i < 2; ++i) WriteBytes(start[i], size[i], stream);
    // An emission is due now: a file's buffer would hold a first line until
    // 4 KiB more came or the job ended.
    if (stream != stdout) fflush(stdout);  // the separating newline first
    fflush(stream);
    CheckWritten(context, stream);
}

}  // namespace

void EmitPending(TaskContext& context, kovra::C_StringMemory& pending, FILE* stream) {
    const size_t length = pending.Length();
    const char* bytes = pending.Get();
    const size_t due = length > 0 ? LinesReadyToWrite(bytes, length) : 0;
    if (due == 0) return;
    const char* start[2] = {bytes, bytes};
    const size_t size[2] = {due, 0};
    WriteDue(context, start, size, stream);
    // Clear zero-fills the buffer: keep the rest aside first.
    std::string rest(bytes + due, length - due);
    pending.Clear();
    pending.Add(rest.data(), 0, static_cast<int>(rest.size()));
}

Relay::Relay(TaskContext& context, bool readerThreads) : m_context(context) {
    const bool everyRead = context.settings.flushMode != FLUSH_NONE;
    m_out = std::make_shared<Channel>(context.process.GetStdoutPipe(), everyRead);
    m_err = std::make_shared<Channel>(context.process.GetStderrPipe(), everyRead);
    m_polling = !readerThreads;
    if (m_polling) return;

    // Both start suspended, so that neither reads unless both run: a pipe
    // whose reader started could not be polled any more.
    Channel* channels[] = {m_out.get(), m_err.get()};
    const std::shared_ptr<Channel>* owners[] = {&m_out, &m_err};
    for (int i = 0; i < 2; ++i) {
        if (channels[i]->closed) continue;
        auto* reference = new std::shared_ptr<Channel>(*owners[i]);
        uintptr_t thread = _beginthreadex(nullptr, 0, ReadPipe, reference, CREATE_SUSPENDED, nullptr);
        if (!thread) {
            delete reference;
            m_polling = true;
            break;
        }
        m_threads[i].Reset(reinterpret_cast<HANDLE>(thread));
    }
    if (m_polling) {
        // The threads that were made end at once without reading.
        for (Channel* channel : channels) {
            C_CriticalLock hold(&channel->lock);
            channel->abandoned = true;
        }
    }
    for (const UniqueHandle& thread : m_threads)
        if (thread) ResumeThread(thread.Get());
}

Relay::~Relay() {
    for (const auto& channel : {m_out, m_err}) {
        C_CriticalLock hold(&channel->lock);
        channel->abandoned = true;
    }
    // A reader paused for room goes now; one blocked in its read ends with
    // the pipe or the process (its thread handle closes with the relay).
    SetEvent(m_out->roomEvent.Get());
    SetEvent(m_err->roomEvent.Get());
}

bool Relay::PollChannel(Channel& channel) {
    if (channel.closed) return false;
    DWORD available = 0;
    if (!PeekNamedPipe(channel.pipe.Get(), nullptr, 0, nullptr, &available, nullptr)) {
        channel.closed = true;
        return true;
    }
    if (available == 0) return false;
    char* room = nullptr;
    DWORD size = 0;
    {
        C_CriticalLock hold(&channel.lock);
        room = channel.Room(available < kLargeRead ? available : kLargeRead, size);
    }
    if (!room) return false;  // full: the next emission makes room
    DWORD got = 0;
    if (!ReadFile(channel.pipe.Get(), room, size, &got, nullptr)) {
        channel.closed = true;
        return true;
    }
    C_CriticalLock hold(&channel.lock);
    channel.Arrive(got);
    return true;
}

void Relay::Emit(Channel& channel, FILE* stream) {
    uint64_t from = 0;
    uint64_t to = 0;
    {
        C_CriticalLock hold(&channel.lock);
        if (channel.tail == channel.seen) return;
        channel.seen = channel.tail;
        from = channel.taken;
        to = channel.tail;
    }
    const char* start[2];
    size_t size[2];
    channel.Stretches(from, to, start, size);
    const size_t due = LinesReadyToWrite(start[0], size[0], start[1], size[1]);
    if (due == 0) return;
    channel.Stretches(from, from + due, start, size);
    {
        C_CriticalLock hold(&channel.lock);
        channel.taken = from + due;
    }
    WriteDue(m_context, start, size, stream);
    {
        C_CriticalLock hold(&channel.lock);
        channel.head = channel.taken;
    }
    SetEvent(channel.roomEvent.Get());
}

void Relay::Run() {
    const bool everyArrival = m_context.settings.flushMode != FLUSH_NONE;
    HANDLE waits[] = {m_out->dataEvent.Get(), m_err->dataEvent.Get(), g_stopEvent};
    const DWORD waitCount = g_stopEvent ? 3 : 2;
    DWORD lastEmit = timeGetTime();
    for (;;) {
        CheckStop(m_context, true);
        if (m_polling) {
            PollChannel(*m_out);
            PollChannel(*m_err);
        }
        bool arrived = false;
        bool full = false;
        bool ended = true;
        for (Channel* channel : {m_out.get(), m_err.get()}) {
            C_CriticalLock hold(&channel->lock);
            arrived = arrived || channel->tail != channel->seen;
            full = full || channel->tail - channel->taken >= kEarlyEmitBytes;
            ended = ended && channel->closed;
        }
        if (ended) return;  // what is left is written at the completion

        const DWORD sinceEmit = timeGetTime() - lastEmit;
        if (arrived && (everyArrival || full || sinceEmit >= kEmitPeriodMs)) {
            Emit(*m_out, stdout);
            Emit(*m_err, stderr);
            lastEmit = timeGetTime();
            continue;
        }

        DWORD timeout = m_context.record ? kSignalCheckMs : INFINITE;
        if (arrived && kEmitPeriodMs - sinceEmit < timeout) timeout = kEmitPeriodMs - sinceEmit;
        if (m_polling && timeout > kPollWaitMs) timeout = kPollWaitMs;
        WaitForMultipleObjects(waitCount, waits, FALSE, timeout);
    }
}

void Relay::WriteRest() {
    for (const auto& pair : {std::make_pair(m_out.get(), stdout), std::make_pair(m_err.get(), stderr)}) {
        Channel& channel = *pair.first;
        const char* start[2];
        size_t size[2];
        {
            C_CriticalLock hold(&channel.lock);
            channel.Stretches(channel.taken, channel.tail, start, size);
        }
        for (int i = 0; i < 2; ++i) WriteBytes(start[i], size[i], pair.second);
        CheckWritten(m_context, pair.second);
    }
}

}  // namespace vrek
