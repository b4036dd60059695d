// The service's named pipes.
#include "service/service_pipes_win32.h"

#include <sddl.h>

namespace clockagent {
namespace {

constexpr DWORD kMessageSize = 4096;

}  // namespace

PipeServer::~PipeServer() {
  if (pipe_ != INVALID_HANDLE_VALUE) {
    CancelIo(pipe_);
    CloseHandle(pipe_);
  }
  if (overlapped_.hEvent != nullptr) CloseHandle(overlapped_.hEvent);
}

bool PipeServer::Create(const char* name, const char* securityDescriptor) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          securityDescriptor, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
    return false;
  }
  // The first instance: a pipe of that name made by anyone else first is not ours to answer on.
  pipe_ = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                     FILE_FLAG_FIRST_PIPE_INSTANCE,
                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                               PIPE_REJECT_REMOTE_CLIENTS,
                           1, kMessageSize, kMessageSize, 1000, &security);
  LocalFree(security.lpSecurityDescriptor);
  if (pipe_ == INVALID_HANDLE_VALUE) return false;
  overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Listen();
  return true;
}

void PipeServer::Listen() {
  connected_ = false;
  ResetEvent(overlapped_.hEvent);
  if (ConnectNamedPipe(pipe_, &overlapped_)) {
    SetEvent(overlapped_.hEvent);
  } else {
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) SetEvent(overlapped_.hEvent);  // came before the listen
  }
}

void PipeServer::Serve(const std::function<std::string(const std::string&)>& answer) {
  char request[kMessageSize];
  DWORD got = 0;
  OVERLAPPED io{};
  io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  bool read = ReadFile(pipe_, request, sizeof request - 1, &got, &io) != FALSE;
  if (!read && GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(io.hEvent, 1000) != WAIT_OBJECT_0) CancelIo(pipe_);
    read = GetOverlappedResult(pipe_, &io, &got, TRUE) != FALSE;
  }
  if (read) {
    const std::string reply = answer(std::string(request, got));
    DWORD written = 0;
    ResetEvent(io.hEvent);
    if (!WriteFile(pipe_, reply.data(), static_cast<DWORD>(reply.size()), &written, &io) &&
        GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(io.hEvent, 1000) != WAIT_OBJECT_0) CancelIo(pipe_);
      GetOverlappedResult(pipe_, &io, &written, TRUE);
    }
  }
  // The reply is read once the client has closed its end (a read here then ends); a client that
  // does neither within a second loses it. Only then is this one free again.
  ResetEvent(io.hEvent);
  if (read && !ReadFile(pipe_, request, sizeof request, &got, &io) &&
      GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(io.hEvent, 1000) != WAIT_OBJECT_0) CancelIo(pipe_);
    GetOverlappedResult(pipe_, &io, &got, TRUE);
  }
  CloseHandle(io.hEvent);
  DisconnectNamedPipe(pipe_);
  Listen();
}

PipeAnswer AskService(const char* pipeName, const std::string& request, std::string* reply) {
  char buffer[kMessageSize];
  DWORD got = 0;
  if (CallNamedPipeA(pipeName, const_cast<char*>(request.data()),
                     static_cast<DWORD>(request.size()), buffer, sizeof buffer, &got, 3000)) {
    reply->assign(buffer, got);
    return PipeAnswer::Answered;
  }
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND: return PipeAnswer::NoService;
    case ERROR_ACCESS_DENIED: return PipeAnswer::AccessDenied;
    default: return PipeAnswer::Failed;
  }
}

}  // namespace clockagent
