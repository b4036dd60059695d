// The simulated receiver's end of a pseudo-terminal: the port the program opens, the link to it,
// the pulse's output line, and the loop that serves the receiver until stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "simulator/receiver_model.h"

namespace clockagent {

class PtyLine final : public SimulatorLine {
 public:
  explicit PtyLine(const SimulatorOptions& options) : o_(options) {}
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Makes the pseudo-terminal, raw at the rate the program opens a port at, and the link to it;
  // then takes the stop signals. False, with the reason in `error`, when it cannot.
  bool Open(std::string* error);
  // The path of the port the program opens.
  const std::string& Port() const { return port_; }

  // Serves the receiver until a stop signal, or until it hangs up; then removes the link and
  // closes the port. A receiver that hung up stays gone until stopped.
  void Serve(ReceiverModel& receiver);

  bool SettingsMatch() override;
  void Transmit(const std::uint8_t* bytes, std::size_t n) override;
  void SetPulseLine(bool high) override;

 private:
  bool MakeLink(std::string* error);

  const SimulatorOptions& o_;
  int master_ = -1;
  int hold_ = -1;  // the port side, held open
  std::string port_;
};

}  // namespace clockagent
