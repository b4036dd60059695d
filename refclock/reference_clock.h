// The receiver as a reference clock: its port kept open, the time asked for, and every timing
// packet's sample handed to the time daemons' outputs. Like a time daemon's driver, it owns none
// of what it talks to: the port, the clocks and the outputs are given to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "receiver/daro_link.h"
#include "receiver/serial_port.h"
#include "receiver/timing_packets.h"
#include "refclock/sample_output.h"
#include "update/clock_sample.h"
#include "update/cycle_front_end.h"
#include "update/pulse_timing.h"
#include "update/timer_loop.h"

namespace clockagent {

class ReferenceClock final : private TimingSink {
 public:
  // The port, line settings, time type, latency and pulse line of `choices` are used. `port` is
  // opened under the choices' port name, and `clock` stamps the packets and the pulse and tells
  // the silences; both must outlive this.
  ReferenceClock(const CycleChoices& choices, SerialPort& port, LinkClock& clock,
                 std::vector<std::unique_ptr<SampleOutput>> outputs);
  ~ReferenceClock();
  ReferenceClock(const ReferenceClock&) = delete;
  ReferenceClock& operator=(const ReferenceClock&) = delete;

  // Each second: the port opened (anew, after a silence), and the time asked for unless the
  // receiver broadcasts. True when the receiver's state has changed since the last tick said so.
  bool Tick();

  // "samples 12, last offset +0.000123 s, receiving 0x8F-AB broadcasts from /dev/ttyS0"
  std::string StatusText() const;

  // Whether the last open of the port failed, and the system's words on why.
  bool PortAway() const { return portAway_; }
  const std::string& PortWords() const { return portWords_; }

  // Waits on the port as a reader of timing packets must: see LinkArrival.
  ArrivalHandler Arrival();

 private:
  // The receiver as the status line tells it.
  enum class ReceiverState { Waiting, NoPort, Silent, NoTime, Answering, Broadcasting };

  void TimingPacketReceived(const TimingReport& report) override;
  ReceiverState StateAt(std::int64_t now) const;
  std::string StateText() const;

  const CycleChoices choices_;
  SerialPort& port_;
  LinkClock& clock_;
  std::vector<std::unique_ptr<SampleOutput>> outputs_;
  std::unique_ptr<ReceiverLink> link_;  // 8 KiB of buffers
  TimingContext timing_;

  bool portAway_ = false;  // the last open failed
  std::int64_t openedNs_ = 0;
  std::int64_t lastHeardNs_;  // the last timing packet, the start, or the port's return
  bool heardAny_ = false;
  std::int64_t lastBroadcastNs_ = 0;
  bool heardBroadcast_ = false;
  std::int64_t lastSampleNs_ = 0;
  bool sampled_ = false;
  TimingPacket lastPacket_ = TimingPacket::Packet41;
  std::int64_t lastOffsetNs_ = 0;
  int rolloverWeeks_ = 0;
  std::uint64_t samplesSent_ = 0;
  Refusal refusal_ = Refusal::None;  // why the last timing packet gave no sample

  PulseFit fit_ = PulseFit::NoEdge;  // how the last sample fitted the pulse
  std::string portWords_;  // the system's words: why the port would not open, or watch the pulse
  PulseWatch pulse_;                 // the pulse line, watched while the port is open

  bool told_ = false;  // what the last state line said
  ReceiverState toldState_ = ReceiverState::Waiting;
  int toldRolloverWeeks_ = 0;
  PulseFit toldFit_ = PulseFit::NoEdge;
  Refusal toldRefusal_ = Refusal::None;
};

}  // namespace clockagent
