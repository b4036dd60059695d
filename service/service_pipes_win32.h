// The service's named pipes: a server instance with its security descriptor, and the client's
// one request and its reply.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace clockagent {

// Who may talk to the service, as security descriptors: never a client from the network; the
// state pipe for the system, administrators and interactive users, the control pipe for the
// system and administrators only (whoever may choose the port could feed the machine a false time).
constexpr char kStatePipeSecurity[] = "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;IU)";
constexpr char kControlPipeSecurity[] = "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)";

// One instance of a message-mode pipe that refuses remote clients, listened on with overlapped
// I/O so that the service's one thread waits on it beside everything else.
class PipeServer {
 public:
  PipeServer() = default;
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Makes the pipe (the first and only instance of its name) and listens. False on failure.
  bool Create(const char* name, const char* securityDescriptor);
  // Signalled when a client has connected.
  HANDLE Event() const { return overlapped_.hEvent; }
  // Reads the connected client's request, writes `answer(request)` back, and listens again. A
  // client that does not send its request within a second is dropped.
  void Serve(const std::function<std::string(const std::string&)>& answer);

 private:
  void Listen();

  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped_{};
  bool connected_ = false;
};

enum class PipeAnswer { Answered, NoService, AccessDenied, Failed };

// Sends one request to the service's pipe and reads its reply.
PipeAnswer AskService(const char* pipeName, const std::string& request, std::string* reply);

}  // namespace clockagent
