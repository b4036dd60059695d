// Timing by the receiver's pulse per second: the edge a timing packet belongs to, and the packet's
// sample moved to that edge, at the whole second the edge marks.
#pragma once

#include <cstdint>
#include <string>

#include "receiver/pulse_edges.h"
#include "receiver/serial_port.h"
#include "update/clock_sample.h"

namespace clockagent {

// A packet belongs to the latest edge that came at most this long before its first byte.
constexpr std::int64_t kPulseReachNs = 1100000000;
// The packet's time for the moment of its edge lies at most this far from a whole second.
constexpr std::int64_t kLargestSecondMissNs = 400000000;
// An edge times a packet only as one of a train: a second after the edge before it, within this.
constexpr std::int64_t kTrainSlackNs = 5000000;

// How a packet fitted the pulse: at an edge, with no edge of a train in reach, with a time too far
// from a whole second at its edge (the pulse, or the packet, is not what it should be), on a line
// with more than two edges in a second (glitches), or not at all: the port cannot report the line
// (a pseudo-terminal, a driver without modem lines).
enum class PulseFit { Pulse, NoEdge, OffSecond, Noisy, NoLine };

// The edge `packet` belongs to among `edges` (stamps of the rising edges, oldest first) is the
// latest that came at most kPulseReachNs before the packet's first byte and about a second after
// an earlier edge (kTrainSlackNs); a line with three edges within a second, in the two seconds
// before the packet, is Noisy and times nothing. The edge's receiver time is the
// whole second nearest to the receiver's time the packet gives for that moment. Pulse, with
// `atEdge` the sample of that whole second at the edge; otherwise `atEdge` is left alone.
PulseFit FitToPulse(const ClockSample& packet, const ClockReading* edges, int count,
                    ClockSample* atEdge);

// What an attempt timed by its packet although a pulse line was chosen says:
// "no pulse on DCD within a second: timed by the packet". For NoLine, `portWords` are the system's
// words for why the port could not report it.
std::string PulseFallbackText(PulseLine line, PulseFit fit, const char* portWords = "");

// The pulse as an attempt (or refclock's reading) watches it: the port's watcher stamps the
// edges, and packets are fitted to them.
class PulseWatch {
 public:
  PulseWatch() = default;
  PulseWatch(const PulseWatch&) = delete;
  PulseWatch& operator=(const PulseWatch&) = delete;
  ~PulseWatch() { End(); }

  // Begins watching `line` of the open `port` (nothing for PulseLine::None). A port that cannot
  // read the line leaves every packet to be timed by itself.
  void Begin(SerialPort& port, PulseLine line, LinkClock& clock);
  void End();

  PulseLine Line() const { return line_; }

  // A packet whose first byte came before the watch had run a second and kPulseReachNs, with no
  // edge of a train in reach: its edge, or the edge before that, may have come before the watch
  // began, so it is not one to time by, nor to give up the pulse for. The next packet will tell.
  bool Awaits(const ClockReading& arrival) const;

  // Moves `sample` to its edge (see FitToPulse) when a line is chosen; PulseFit::Pulse when it did,
  // NoLine when the port could not watch the line.
  PulseFit Refine(ClockSample* sample) const;

 private:
  SerialPort* port_ = nullptr;  // while watching
  PulseLine line_ = PulseLine::None;
  ClockReading began_;
  PulseEdges edges_;
};

}  // namespace clockagent
