// A GPS timing receiver as the simulator plays it: what it answers and sends of itself, and when
// each byte leaves, on a LinkClock that a test can drive.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "receiver/daro_link.h"
#include "receiver/line_settings.h"
#include "receiver/pulse_edges.h"
#include "receiver/serial_port.h"
#include "simulator/nmea_writer.h"

namespace clockagent {

enum class SimulatorProtocol { Daro, Nmea };

// The simulated receiver: its time, its packets, its line and the faults it puts on it.
struct SimulatorOptions {
  std::string link;  // a symbolic link to the port made at this path; empty for none
  SimulatorProtocol protocol = SimulatorProtocol::Daro;
  NmeaTalk nmea;
  int nmeaDelayMs = 100;      // from the pulse's edge to the burst's first byte
  bool nmeaRollover = false;  // dates 1024 weeks back, as a module whose week counter rolled over
  int offset = 18;
  bool fixedTime = false;
  double fixedUnixTime = 0;  // seconds since 1970, UTC
  bool broadcast = false;
  bool silent = false;
  int turnaroundMs = 0;
  int latencyMs = 0;
  PulseLine pulse = PulseLine::None;
  int garbage = 0;
  bool flood = false;
  bool atOnce = false;
  int dleStorm = 0;
  int oversize = 0;
  int splitMs = -1;
  bool wrongLength = false;
  bool noTime = false;
  int flags = 0;
  bool fixedTow = false;
  float tow = 0;
  int week = -1;  // -1: the current week
  int hangupAfter = 0;
  std::string replay;  // a recording sent once instead of answering
  SerialLineSettings lineChoice;
  LineParameters line;  // what lineChoice stands for
  bool verbose = false;  // the bytes received and the packets sent, on standard error
};

// The receiver's end of the line: the pseudo-terminal, or whatever a test puts there.
class SimulatorLine {
 public:
  // Whether the program reads the line at the receiver's rate and parity; when not, each side
  // hears only noise from the other.
  virtual bool SettingsMatch() = 0;
  // Writes what the line takes; a full line drops the rest, as a receiver talks on regardless.
  virtual void Transmit(const std::uint8_t* bytes, std::size_t n) = 0;
  // Raises or lowers the output line that carries the pulse per second.
  virtual void SetPulseLine(bool high) = 0;

 protected:
  ~SimulatorLine() = default;
};

class ReceiverModel {
 public:
  using Bytes = std::vector<std::uint8_t>;
  using Duration = std::chrono::steady_clock::duration;
  using SteadyTime = std::chrono::steady_clock::time_point;

  // `replay` holds the recording of options.replay, read by the caller.
  ReceiverModel(const SimulatorOptions& options, Bytes replay, SimulatorLine& line,
                LinkClock& clock);

  // Hands the line what is due now: the pulse, broadcasts, noise, replayed and queued bytes.
  void Turn();
  // How long the line may wait for the program's bytes before the next turn.
  Duration Wait() const;
  // Bytes the program sent: a time request is answered, or hung up on. An NMEA receiver hears
  // nothing.
  void Receive(const std::uint8_t* bytes, std::size_t n);
  // The receiver hung up (--hangup-after): the line is to be closed.
  bool HungUp() const { return hungUp_; }

  // The first GPS time from `gps` on whose time of week is a single-precision value.
  static double NextExactTime(double gps);

 private:
  struct Outgoing {
    SteadyTime at;
    std::uint8_t byte;
  };

  double NowUnix() const;
  SteadyTime SteadyNow() const;
  void Pulse(SteadyTime now);
  void SetPulseLine(bool high);
  double GpsSeconds(double unixTime) const;
  double GpsAt(SteadyTime at) const;
  Bytes Packet41(double gps) const;
  Bytes Packet8FAB(double gps) const;
  Bytes Framed(std::uint8_t id, const Bytes& data) const;
  std::int64_t UtcSecond(double edgeUnix) const;
  void ScheduleBurst(SteadyTime start, double edgeUnix);
  void Log(const char* what, const Bytes& data) const;
  std::uint8_t Noise();
  Bytes Faults();
  void ScheduleAt(SteadyTime packetStart, const Bytes& packet);
  void ScheduleAnswer(SteadyTime earliest);
  void Send(SteadyTime start, Bytes bytes);
  Duration Spacing() const;
  void Queue(SteadyTime start, const Bytes& bytes) { Queue(start, bytes.data(), bytes.size()); }
  void Queue(SteadyTime start, const std::uint8_t* bytes, std::size_t n);
  void Flood(SteadyTime now);
  void SendDue(SteadyTime now);

  const SimulatorOptions& o_;
  SimulatorLine& line_;
  LinkClock& clock_;
  mutable double startUnix_ = -1;  // the moment of the first timing packet: --time's time
  Duration byteTime_{};
  std::unique_ptr<ReceiverLink> link_ = std::make_unique<ReceiverLink>();
  std::deque<Outgoing> outbox_;
  SteadyTime lineFree_{};
  SteadyTime turn_{};  // when the last turn began
  double lastBroadcastSecond_ = 0;
  Bytes replay_;
  std::size_t replayAt_ = 0;
  SteadyTime lastReplay_{};
  double replayBudget_ = 0;
  int requests_ = 0;
  SteadyTime lastRequest_{};
  bool hungUp_ = false;
  double nextEdge_ = 0;  // the next pulse, in seconds since 1970
  bool raised_ = false;
  SteadyTime lowerAt_{};
  std::mt19937 random_{20250};
};

}  // namespace clockagent
