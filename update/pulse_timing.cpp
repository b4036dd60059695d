// Timing by the receiver's pulse per second.
#include "update/pulse_timing.h"

namespace clockagent {
namespace {

// The stamp of the latest edge at most kPulseReachNs before `monotonicNs` that came a second after
// an earlier one, within kTrainSlackNs; null when none did.
const ClockReading* EdgeBefore(std::int64_t monotonicNs, const ClockReading* edges, int count) {
  for (int i = count - 1; i >= 0; --i) {
    const std::int64_t since = monotonicNs - edges[i].monotonicNs;
    if (since < 0) continue;  // came after the packet began
    if (since > kPulseReachNs) return nullptr;
    for (int j = i - 1; j >= 0; --j) {
      const std::int64_t gap = edges[i].monotonicNs - edges[j].monotonicNs - kNsPerSecond;
      if (gap >= -kTrainSlackNs && gap <= kTrainSlackNs) return &edges[i];
    }
  }
  return nullptr;
}

// More than two edges within a second, among those of the last two seconds before `monotonicNs`.
bool Noisy(std::int64_t monotonicNs, const ClockReading* edges, int count) {
  for (int i = 0; i + 2 < count; ++i) {
    if (edges[i].monotonicNs < monotonicNs - kPulseReachNs - kNsPerSecond) continue;
    if (edges[i + 2].monotonicNs > monotonicNs) break;
    if (edges[i + 2].monotonicNs - edges[i].monotonicNs < kNsPerSecond) return true;
  }
  return false;
}

}  // namespace

PulseFit FitToPulse(const ClockSample& packet, const ClockReading* edges, int count,
                    ClockSample* atEdge) {
  if (Noisy(packet.monotonicNs, edges, count)) return PulseFit::Noisy;
  const ClockReading* edge = EdgeBefore(packet.monotonicNs, edges, count);
  if (edge == nullptr) return PulseFit::NoEdge;
  std::int64_t second = packet.namedSecondNs;
  if (second != 0) {
    // An NMEA burst names the second of the edge before it, however late after it the receiver
    // speaks, as long as that is within a second.
    if (packet.monotonicNs - edge->monotonicNs > kNsPerSecond) return PulseFit::NoEdge;
  } else {
    const std::int64_t receiverNs = ReceiverNsAt(packet, edge->monotonicNs);
    // Receiver times lie after 1970: the division rounds them to the nearest second.
    second = (receiverNs + kNsPerSecond / 2) / kNsPerSecond * kNsPerSecond;
    const std::int64_t miss = receiverNs - second;
    if (miss > kLargestSecondMissNs || miss < -kLargestSecondMissNs) return PulseFit::OffSecond;
  }
  atEdge->systemNs = edge->systemNs;
  atEdge->offsetNs = second - edge->systemNs;
  atEdge->monotonicNs = edge->monotonicNs;
  atEdge->rolloverWeeks = packet.rolloverWeeks;
  atEdge->atPulse = true;
  return PulseFit::Pulse;
}

std::string PulseFallbackText(PulseLine line, PulseFit fit, const char* portWords) {
  const std::string name = PulseLineName(line);
  if (fit == PulseFit::NoLine) {
    const std::string words = *portWords != '\0' ? std::string(" (") + portWords + ")" : "";
    return "pulse: the port cannot report " + name + words + ": timed by the packet";
  }
  if (fit == PulseFit::Noisy) return "pulse on " + name + " is noisy: timed by the packet";
  if (fit == PulseFit::OffSecond) {
    return "pulse on " + name + " too far from the packet's second: timed by the packet";
  }
  return "no pulse on " + name + " within a second: timed by the packet";
}

void PulseWatch::Begin(SerialPort& port, PulseLine line, LinkClock& clock) {
  End();
  line_ = line;
  if (line == PulseLine::None) return;
  edges_.Clear();
  began_ = clock.Now();
  if (port.WatchPulse(line, clock, edges_)) port_ = &port;
}

void PulseWatch::End() {
  if (port_ != nullptr) port_->StopPulseWatch();
  port_ = nullptr;
}

bool PulseWatch::Awaits(const ClockReading& arrival) const {
  if (port_ == nullptr || arrival.monotonicNs - began_.monotonicNs >= kPulseReachNs + kNsPerSecond) {
    return false;
  }
  ClockReading edges[PulseEdges::kKept];
  const int count = edges_.Latest(edges);
  return EdgeBefore(arrival.monotonicNs, edges, count) == nullptr &&
         !Noisy(arrival.monotonicNs, edges, count);
}

PulseFit PulseWatch::Refine(ClockSample* sample) const {
  if (line_ != PulseLine::None && port_ == nullptr) return PulseFit::NoLine;
  ClockReading edges[PulseEdges::kKept];
  const int count = port_ != nullptr ? edges_.Latest(edges) : 0;
  return FitToPulse(*sample, edges, count, sample);
}

}  // namespace clockagent
