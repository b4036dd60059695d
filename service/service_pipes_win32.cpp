// The service's named pipes.
#include "service/service_pipes_win32.h"

#include <sddl.h>

#include <algorithm>

#include "service/service_control_win32.h"
#include "service/service_state.h"

namespace clockagent {
namespace {

constexpr DWORD kMessageSize = 4096;
using SteadyClock = std::chrono::steady_clock;
// A pipe instance that could not listen is tried again this much later.
constexpr std::chrono::milliseconds kListenRetry{1000};

// What a client asks of a pipe: what kStatePipeSecurity grants interactive users.
constexpr DWORD kClientAccess = FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES;

constexpr DWORD HexValue(const char* text) {
  DWORD value = 0;
  for (const char* c = text + 2; *c != '\0'; ++c) {
    value = value * 16 + static_cast<DWORD>(*c <= '9' ? *c - '0' : *c - 'a' + 10);
  }
  return value;
}
static_assert(HexValue(CLOCKAGENT_PIPE_CLIENT_ACCESS) == kClientAccess,
              "interactive users must be granted what a client asks for");

// Waits up to `until` for an overlapped operation. True when it completed, with the bytes it
// moved; false when it failed or is late (then it is cancelled, and `*abandoned` says whether its
// record must be left to the system, the cancel not having completed either).
bool Finish(HANDLE handle, OVERLAPPED* io, SteadyClock::time_point until, DWORD* moved,
            bool* abandoned) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
  if (WaitForSingleObject(io->hEvent, static_cast<DWORD>(std::max<long long>(0, left.count()))) ==
      WAIT_OBJECT_0) {
    return GetOverlappedResult(handle, io, moved, FALSE) != FALSE;
  }
  CancelIoEx(handle, io);
  *abandoned = WaitForSingleObject(io->hEvent, 100) != WAIT_OBJECT_0;
  return false;
}

}  // namespace

// An operation's record and buffers: they belong to the system until the operation completes.
struct PipeIo {
  PipeIo() { io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~PipeIo() { CloseHandle(io.hEvent); }
  PipeIo(const PipeIo&) = delete;
  PipeIo& operator=(const PipeIo&) = delete;
  OVERLAPPED io{};
  char request[kMessageSize];
  std::string reply;
};

struct PipeServer::Instance {
  enum class Phase { Broken, Listening, Connected, Reading, Writing, Draining };

  HANDLE pipe = INVALID_HANDLE_VALUE;
  std::unique_ptr<PipeIo> current = std::make_unique<PipeIo>();
  // Cancelled operations not completed yet (a cancel completes later, or under wine not at
  // all): kept, never waited for, freed once complete.
  std::vector<std::unique_ptr<PipeIo>> cancelled;
  Phase phase = Phase::Broken;
  SteadyClock::time_point deadline = SteadyClock::time_point::max();

  ~Instance() {
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    // Operations the close has not completed yet may still write to their records: left alone.
    for (auto& op : cancelled) {
      if (!HasOverlappedIoCompleted(&op->io)) op.release();
    }
    if (!HasOverlappedIoCompleted(&current->io)) current.release();
  }

  // Waits for the next client. A client that came and went before this (ERROR_NO_DATA) is let go
  // and the instance listens again: an instance must never stay without a listen.
  void Listen() {
    for (int tries = 0; tries < 4; ++tries) {
      ResetEvent(current->io.hEvent);
      deadline = SteadyClock::time_point::max();
      if (ConnectNamedPipe(pipe, &current->io)) {
        phase = Phase::Connected;
        SetEvent(current->io.hEvent);
        return;
      }
      switch (GetLastError()) {
        case ERROR_IO_PENDING:
          phase = Phase::Listening;
          return;
        case ERROR_PIPE_CONNECTED:  // came before the listen
          phase = Phase::Connected;
          SetEvent(current->io.hEvent);
          return;
        case ERROR_NO_DATA:  // came and went before the listen
          DisconnectNamedPipe(pipe);
          continue;
        default:
          break;
      }
      break;
    }
    phase = Phase::Broken;
    deadline = SteadyClock::now() + kListenRetry;
  }

  // Ends the client's connection, whatever it was doing, and listens again.
  // The loop never waits for a cancel: an operation not complete yet keeps its record, and the
  // next operation gets a new one.
  void Reset() {
    cancelled.erase(std::remove_if(cancelled.begin(), cancelled.end(),
                                   [](const std::unique_ptr<PipeIo>& op) {
                                     return HasOverlappedIoCompleted(&op->io);
                                   }),
                    cancelled.end());
    if (phase == Phase::Reading || phase == Phase::Writing || phase == Phase::Draining ||
        phase == Phase::Listening) {
      CancelIoEx(pipe, &current->io);
      if (!HasOverlappedIoCompleted(&current->io)) {
        cancelled.push_back(std::move(current));
        current = std::make_unique<PipeIo>();
      }
    }
    DisconnectNamedPipe(pipe);
    Listen();
  }

  // Begins a read (into `request`) or a write (of `reply`); its completion signals the event.
  void Begin(Phase next) {
    ResetEvent(current->io.hEvent);
    PipeIo& op = *current;
    const BOOL done = next == Phase::Writing
                          ? WriteFile(pipe, op.reply.data(), static_cast<DWORD>(op.reply.size()),
                                      nullptr, &op.io)
                          : ReadFile(pipe, op.request, sizeof op.request, nullptr, &op.io);
    if (!done && GetLastError() != ERROR_IO_PENDING) {
      Reset();
      return;
    }
    phase = next;
    deadline = SteadyClock::now() + kPipeClientTime;
  }

  void Step(PipeServer& server) {
    const bool signalled = WaitForSingleObject(current->io.hEvent, 0) == WAIT_OBJECT_0;
    if (!signalled) {
      if (SteadyClock::now() >= deadline) {
        if (phase == Phase::Broken) {
          Listen();
        } else {
          Reset();  // a client too slow to send, to take its reply or to close
        }
      }
      return;
    }
    DWORD moved = 0;
    const bool completed = phase == Phase::Connected ||
                           GetOverlappedResult(pipe, &current->io, &moved, FALSE) != FALSE;
    // Signalled before its result is written (seen under wine): looked at again next step.
    if (!completed && GetLastError() == ERROR_IO_INCOMPLETE) return;
    switch (phase) {
      case Phase::Listening:
      case Phase::Connected:
        // Not completed: ERROR_NO_DATA among others, the client has gone already.
        if (completed && server.Admit(pipe)) {
          Begin(Phase::Reading);
        } else {
          Reset();
        }
        return;
      case Phase::Reading:
        if (!completed) {  // a request longer than any request, or a client gone
          Reset();
          return;
        }
        current->reply = server.answer_(std::string(current->request, moved));
        Begin(Phase::Writing);
        return;
      case Phase::Writing:
        // The reply is the client's once it closes its end (a read then ends); until then the
        // instance is not free.
        if (completed) {
          Begin(Phase::Draining);
        } else {
          Reset();
        }
        return;
      case Phase::Draining:
      case Phase::Broken:
        Reset();
        return;
    }
  }
};

PipeServer::PipeServer(const char* name, const char* securityDescriptor, int instances,
                       Answer answer)
    : name_(name), security_(securityDescriptor), count_(instances), answer_(std::move(answer)) {}

PipeServer::~PipeServer() = default;

bool PipeServer::Open(DWORD* error) {
  *error = NO_ERROR;
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          security_.c_str(), SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
    *error = GetLastError();
    return false;
  }
  while (static_cast<int>(instances_.size()) < count_) {
    // The first instance: a pipe of that name made by anyone else first is not ours to answer
    // on, and the instances after it are made only where the first is ours.
    const DWORD first = instances_.empty() ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
    HANDLE pipe = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | first,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                       PIPE_REJECT_REMOTE_CLIENTS,
                                   static_cast<DWORD>(count_), kMessageSize, kMessageSize, 0,
                                   &security);
    if (pipe == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      break;
    }
    auto instance = std::make_unique<Instance>();
    instance->pipe = pipe;
    instance->Listen();
    instances_.push_back(std::move(instance));
  }
  LocalFree(security.lpSecurityDescriptor);
  return !instances_.empty();
}

void PipeServer::Events(std::vector<HANDLE>* events) const {
  for (const auto& instance : instances_) events->push_back(instance->current->io.hEvent);
}

void PipeServer::Step() {
  for (const auto& instance : instances_) instance->Step(*this);
}

bool PipeServer::Admit(HANDLE pipe) {
  ULONG process = 0;
  if (!GetNamedPipeClientProcessId(pipe, &process)) return true;  // not to be told apart
  const auto now = SteadyClock::now();
  Quota* quota = &quotas_[0];
  for (Quota& q : quotas_) {
    if (q.process == process) {
      quota = &q;
      break;
    }
    if (q.seen < quota->seen) quota = &q;
  }
  if (quota->process != process) *quota = {process, kClientBurst, now};
  const double refilled = std::chrono::duration<double>(now - quota->seen).count() * kClientRate;
  quota->requests = std::min<double>(kClientBurst, quota->requests + refilled);
  quota->seen = now;
  if (quota->requests < 1) return false;
  quota->requests -= 1;
  return true;
}

std::chrono::milliseconds PipeServer::UntilNextDeadline() const {
  auto next = SteadyClock::time_point::max();
  for (const auto& instance : instances_) next = std::min(next, instance->deadline);
  if (next == SteadyClock::time_point::max()) return std::chrono::milliseconds::max();
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - SteadyClock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

PipeAnswer AskService(const char* pipeName, const std::string& request, std::string* reply,
                      std::chrono::milliseconds limit) {
  const auto until = SteadyClock::now() + limit;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (;;) {
    // Identification only: the server may learn who asks, never act as the asker.
    pipe = CreateFileA(pipeName, kClientAccess, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                       nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
    if (error == ERROR_PIPE_BUSY && left.count() > 0) {
      WaitNamedPipeA(pipeName, static_cast<DWORD>(left.count()));
      continue;
    }
    if (error == ERROR_FILE_NOT_FOUND) return PipeAnswer::NoService;
    if (error == ERROR_ACCESS_DENIED) return PipeAnswer::AccessDenied;
    return PipeAnswer::Failed;
  }
  // Whoever made the pipe first owns its name: only the service's own process is believed.
  ULONG server = 0;
  if (!GetNamedPipeServerProcessId(pipe, &server) || server == 0 || server != ServiceProcessId()) {
    CloseHandle(pipe);
    return PipeAnswer::NotTheService;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  auto op = std::make_unique<PipeIo>();
  op->reply = request;
  DWORD moved = 0;
  bool abandoned = false;
  bool ok = (WriteFile(pipe, op->reply.data(), static_cast<DWORD>(op->reply.size()), nullptr,
                       &op->io) ||
             GetLastError() == ERROR_IO_PENDING) &&
            Finish(pipe, &op->io, until, &moved, &abandoned);
  if (ok) {
    ResetEvent(op->io.hEvent);
    ok = (ReadFile(pipe, op->request, sizeof op->request, nullptr, &op->io) ||
          GetLastError() == ERROR_IO_PENDING) &&
         Finish(pipe, &op->io, until, &moved, &abandoned);
  }
  CloseHandle(pipe);
  if (abandoned) {
    op.release();  // the system may still write to it: a few kilobytes left, never a wait
    return PipeAnswer::Failed;
  }
  if (!ok) return PipeAnswer::Failed;
  reply->assign(op->request, moved);
  return PipeAnswer::Answered;
}

}  // namespace clockagent
