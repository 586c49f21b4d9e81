#include "tool/Relay.h"

#include <mmsystem.h>
#include <process.h>
#include <stdlib.h>

#include <vector>

#include "kovra/C_CriticalLock.h"
#include "kovra/C_CriticalSection.h"
#include "kovra/C_String.h"
#include "tool/StdStreams.h"
#include "tool/TaskConsole.h"

namespace vrek {

using kovra::C_CriticalLock;
using kovra::common::UniqueHandle;

namespace {

const DWORD kPipeReadSize = 64 * 1024;  // one blocking read of a pipe
const DWORD kSignalCheckMs = 100;       // a registered task looks at its signal byte this often
const DWORD kPollWaitMs = 10;           // the fallback's wait while the pipes are empty

}  // namespace

// One pipe and the text read from it, shared by the relay and the pipe's
// reader thread; whichever lets go last frees it.
struct Relay::Channel {
    explicit Channel(HANDLE source, bool everyRead) : signalEveryRead(everyRead) {
        HANDLE self = GetCurrentProcess();
        if (!source || !DuplicateHandle(self, source, self, pipe.Put(), 0, FALSE, DUPLICATE_SAME_ACCESS))
            closed = true;  // no pipe: nothing will ever come
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Appends what a read brought; true when the relay must be woken: the
    // first text since it last took some, a stream past the early mark, or
    // every read with --flush. Called under the lock.
    bool Arrive(const char* data, DWORD size) {
        const bool first = arrived == 0;
        inbox.append(data, size);
        arrived += size;
        return signalEveryRead || first || inbox.size() >= kEarlyEmitBytes;
    }

    UniqueHandle pipe;  // our own duplicate of the read end; empty when there is none
    UniqueHandle dataEvent{
        CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset: text arrived, or the pipe closed
    UniqueHandle roomEvent{
        CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset: the relay took a full stream's text
    const bool signalEveryRead;
    kovra::C_CriticalSection lock;  // guards the fields below
    std::string inbox;              // read and not yet written
    size_t arrived = 0;             // bytes since the relay last took text
    bool closed = false;            // the pipe has ended (or failed)
    bool abandoned = false;         // the relay is gone: the reader stops at its next step
};

// The reader thread: blocking reads until the pipe ends, pausing while its
// stream is past the early mark so that memory stays bounded.
unsigned __stdcall Relay::ReadPipe(void* parameter) {
    std::shared_ptr<Relay::Channel> channel = std::move(*static_cast<std::shared_ptr<Relay::Channel>*>(parameter));
    delete static_cast<std::shared_ptr<Relay::Channel>*>(parameter);
    std::vector<char> buffer(kPipeReadSize);
    for (;;) {
        {
            C_CriticalLock hold(&channel->lock);
            if (channel->abandoned) return 0;
        }
        DWORD got = 0;
        const BOOL ok = ReadFile(channel->pipe.Get(), buffer.data(), kPipeReadSize, &got, nullptr);
        bool wake = false;
        bool full = false;
        {
            C_CriticalLock hold(&channel->lock);
            if (channel->abandoned) return 0;
            if (!ok) {
                // ERROR_BROKEN_PIPE: every writer has gone. Any other failure
                // ends this pipe's text just the same.
                channel->closed = true;
                wake = true;
            } else if (got > 0) {
                wake = channel->Arrive(buffer.data(), got);
                full = channel->inbox.size() >= kEarlyEmitBytes;
            }
        }
        if (wake) SetEvent(channel->dataEvent.Get());
        if (!ok) return 0;
        while (full) {
            WaitForSingleObject(channel->roomEvent.Get(), INFINITE);
            C_CriticalLock hold(&channel->lock);
            if (channel->abandoned) return 0;
            full = channel->inbox.size() >= kEarlyEmitBytes;
        }
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

size_t LinesReadyToWrite(const char* bytes, size_t length) {
    size_t lineEnd = length;
    while (lineEnd > 0 && bytes[lineEnd - 1] != '\n') --lineEnd;
    if (lineEnd > 0) return lineEnd;
    return length > kLongestHeldLine ? length : 0;
}

void WriteLeadingNewline(TaskContext& context) {
    if (context.consoleAllocated || context.newlineWritten) return;
    WriteBytes("\n", 1, stdout);
    context.newlineWritten = true;
}

namespace {

// Writes the due part of a stream's pending text, below the prompt's line.
void WriteDue(TaskContext& context, const char* bytes, size_t due, FILE* stream) {
    WriteLeadingNewline(context);
    WriteBytes(bytes, due, stream);
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
    WriteDue(context, bytes, due, stream);
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
    std::vector<char> buffer(available < kPipeReadSize ? available : kPipeReadSize);
    DWORD got = 0;
    if (!ReadFile(channel.pipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        channel.closed = true;
        return true;
    }
    C_CriticalLock hold(&channel.lock);
    channel.Arrive(buffer.data(), got);
    return true;
}

void Relay::Emit(Channel& channel, FILE* stream) {
    size_t due = 0;
    {
        C_CriticalLock hold(&channel.lock);
        if (channel.arrived == 0) return;
        m_batch.clear();
        m_batch.swap(channel.inbox);
        due = LinesReadyToWrite(m_batch.data(), m_batch.size());
        channel.inbox.assign(m_batch, due, std::string::npos);
        channel.arrived = 0;
    }
    SetEvent(channel.roomEvent.Get());
    if (due > 0) WriteDue(m_context, m_batch.data(), due, stream);
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
            arrived = arrived || channel->arrived > 0;
            full = full || channel->inbox.size() >= kEarlyEmitBytes;
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
        std::string rest;
        {
            C_CriticalLock hold(&pair.first->lock);
            rest.swap(pair.first->inbox);
        }
        WriteBytes(rest.data(), rest.size(), pair.second);
        CheckWritten(m_context, pair.second);
    }
}

}  // namespace vrek
