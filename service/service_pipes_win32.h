// The service's named pipes: the server's instances, served with overlapped I/O in steps that
// never wait, and the client's one request and its reply.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace clockagent {

// Who may talk to the service, as security descriptors owned by the account the service runs as
// (LocalService: an owner may change them, and no other could be set without a privilege the
// service does not keep): never a client from the network; the
// state pipe for the system, administrators and interactive users, the control pipe for the
// system and administrators only (whoever may choose the port could feed the machine a false time).
// Interactive users may read and write messages and set the read mode (the file read rights,
// FILE_WRITE_DATA, FILE_WRITE_ATTRIBUTES: what a client asks for), but not make an instance of the
// pipe (FILE_CREATE_PIPE_INSTANCE, which GENERIC_WRITE holds), which would let them answer in the
// service's place.
#define CLOCKAGENT_PIPE_CLIENT_ACCESS "0x12018b"
constexpr char kStatePipeSecurity[] =
    "O:LSD:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;" CLOCKAGENT_PIPE_CLIENT_ACCESS ";;;IU)";
constexpr char kControlPipeSecurity[] = "O:LSD:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)";

// How long a connected client has for each step (its request, taking the reply, closing): one
// that is slower is dropped, so that it holds an instance that briefly and never the service.
constexpr std::chrono::milliseconds kPipeClientTime{500};

// How many requests one client process may make: a burst of kClientBurst, then kClientRate a
// second. A client over it is disconnected unanswered, so that a flood of requests costs the
// service little and takes no instance for long. The window asks once a second; the tests' polls,
// the most a legitimate client asks, 40 a second.
constexpr int kClientBurst = 100;
constexpr int kClientRate = 50;

// The instances of a message-mode pipe that refuses remote clients. Every step is begun with
// overlapped I/O and finished when its event is signalled, so the loop that owns the server waits
// on these events beside the port and never waits for a client.
class PipeServer {
 public:
  using Answer = std::function<std::string(const std::string&)>;

  PipeServer(const char* name, const char* securityDescriptor, int instances, Answer answer);
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Makes the instances that are missing. False while the name belongs to another process (its
  // first instance is not ours) or the pipe cannot be made; `*error` then says why.
  bool Open(DWORD* error);
  bool IsOpen() const { return !instances_.empty(); }
  // The events to wait on; after any of them is signalled (or a wait timed out), Step.
  void Events(std::vector<HANDLE>* events) const;
  // Takes every instance whose I/O has completed one step further, and drops the clients that
  // are late.
  void Step();
  // How long until a client is late: the longest a wait should last.
  std::chrono::milliseconds UntilNextDeadline() const;

  struct Instance;

 private:
  // Whether the client connected to `pipe` may make one more request now.
  bool Admit(HANDLE pipe);

  // The clients seen last, each with its requests in hand (a bucket refilled at kClientRate).
  // The one seen longest ago gives way to a new one.
  struct Quota {
    ULONG process = 0;
    double requests = 0;
    std::chrono::steady_clock::time_point seen;
  };

  std::string name_;
  std::string security_;
  int count_;
  Answer answer_;
  std::vector<std::unique_ptr<Instance>> instances_;
  Quota quotas_[16];
};

enum class PipeAnswer { Answered, NoService, AccessDenied, NotTheService, Failed };

// Sends one request to the service's pipe and reads its reply, in at most about `limit`. The
// client lets the server identify it but never act as it, and believes only a server that is the
// ClockAgent service's own process: a pipe of that name made by anyone else is NotTheService.
PipeAnswer AskService(const char* pipeName, const std::string& request, std::string* reply,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

}  // namespace clockagent
