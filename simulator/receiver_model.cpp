// The simulated receiver's packets, faults and pacing.
#include "simulator/receiver_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "receiver/serial_link.h"
#include "receiver/timing_packets.h"
#include "update/clock_setting.h"

namespace clockagent {
namespace {

constexpr std::int64_t kGpsEpochUnix = kGpsEpochDays * 86400;
constexpr std::int64_t kRolloverSeconds = 1024 * 7 * 86400;

double UnixSeconds(const ClockReading& reading) {
  return static_cast<double>(reading.systemNs / kNsPerSecond) +
         static_cast<double>(reading.systemNs % kNsPerSecond) * 1e-9;
}

ReceiverModel::SteadyTime Steady(const ClockReading& reading) {
  return ReceiverModel::SteadyTime(std::chrono::duration_cast<ReceiverModel::Duration>(
      std::chrono::nanoseconds(reading.monotonicNs)));
}

}  // namespace

ReceiverModel::ReceiverModel(const SimulatorOptions& options, Bytes replay, SimulatorLine& line,
                             LinkClock& clock)
    : o_(options), line_(line), clock_(clock), replay_(std::move(replay)) {
  link_->isOpen = 1;
  byteTime_ = std::chrono::duration_cast<Duration>(
      std::chrono::nanoseconds(CharacterTimeNs(o_.line)));
  const double unix = NowUnix();
  nextEdge_ = std::floor(unix) + 1;
  lastBroadcastSecond_ = std::floor(unix);
  lastReplay_ = SteadyNow();
}

double ReceiverModel::NowUnix() const { return UnixSeconds(clock_.Now()); }

ReceiverModel::SteadyTime ReceiverModel::SteadyNow() const { return Steady(clock_.Now()); }

void ReceiverModel::Turn() {
  const SteadyTime now = SteadyNow();
  turn_ = now;
  if (o_.flood && !o_.silent) Flood(now);
  if (o_.pulse != PulseLine::None) Pulse(now);
  SendDue(now);

  const bool nmea = o_.protocol == SimulatorProtocol::Nmea;
  if ((o_.broadcast || nmea) && !o_.silent) {
    // Each second edge's packet is queued a little ahead, so that its first byte leaves at the
    // edge (and the latency or the burst's delay) exactly.
    const double unix = NowUnix();
    const double edge = std::floor(unix) + 1;
    if (edge > lastBroadcastSecond_ && edge - unix < 0.05 && o_.pulse == PulseLine::None) {
      lastBroadcastSecond_ = edge;
      const SteadyTime at = now + std::chrono::duration_cast<Duration>(
                                      std::chrono::duration<double>(edge - unix));
      if (nmea) {
        ScheduleBurst(at + std::chrono::milliseconds(o_.nmeaDelayMs), edge);
      } else {
        ScheduleAt(at + std::chrono::milliseconds(o_.latencyMs), Packet8FAB(GpsSeconds(edge)));
      }
    }
  }
  if (replayAt_ < replay_.size()) {
    // As many bytes as the line has carried since the last turn.
    replayBudget_ += std::chrono::duration<double>(now - lastReplay_) / byteTime_;
    const auto n = std::min(replay_.size() - replayAt_, static_cast<std::size_t>(replayBudget_));
    if (n > 0) {
      line_.Transmit(replay_.data() + replayAt_, n);
      replayAt_ += n;
      replayBudget_ -= static_cast<double>(n);
    }
  }
  lastReplay_ = now;
}

// The pulse: its line raised at each true second, read on the clock without pause through the
// last millisecond before it so that the edge lies on the second to a few microseconds, and
// lowered 100 ms later. A broadcast follows each edge at a delay that wanders as a receiver's; an
// NMEA burst at its set delay.
void ReceiverModel::Pulse(SteadyTime now) {
  double unix = NowUnix();
  if (unix > nextEdge_ + 0.5) nextEdge_ = std::floor(unix) + 1;  // held up: the next one
  if (raised_ && now >= lowerAt_) SetPulseLine(false);
  if (unix < nextEdge_ - 0.001) return;
  while (unix < nextEdge_) unix = NowUnix();
  SetPulseLine(true);
  const SteadyTime edge = SteadyNow();
  lowerAt_ = edge + std::chrono::milliseconds(100);
  if (o_.broadcast && !o_.silent) {
    const auto delay =
        std::chrono::milliseconds(o_.latencyMs + 20 + static_cast<int>(random_() % 61));
    ScheduleAt(edge + delay, Packet8FAB(GpsSeconds(nextEdge_)));
  } else if (o_.protocol == SimulatorProtocol::Nmea && !o_.silent) {
    ScheduleBurst(edge + std::chrono::milliseconds(o_.nmeaDelayMs), nextEdge_);
  }
  nextEdge_ += 1;
}

void ReceiverModel::SetPulseLine(bool high) {
  line_.SetPulseLine(high);
  raised_ = high;
}

// The time to report, on the GPS scale, as seconds since the GPS epoch.
double ReceiverModel::GpsSeconds(double unixTime) const {
  if (startUnix_ < 0) startUnix_ = unixTime;
  const double utc = o_.fixedTime ? o_.fixedUnixTime + (unixTime - startUnix_) : unixTime;
  return utc - static_cast<double>(kGpsEpochUnix) + o_.offset;
}

// The GPS time of a moment of the steady clock.
double ReceiverModel::GpsAt(SteadyTime at) const {
  const ClockReading now = clock_.Now();
  return GpsSeconds(UnixSeconds(now) + std::chrono::duration<double>(at - Steady(now)).count());
}

void ReceiverModel::Receive(const std::uint8_t* bytes, std::size_t n) {
  const bool heard = line_.SettingsMatch();
  if (o_.verbose) {
    std::fprintf(stderr, "rx%s:", heard ? "" : " (line settings differ, not understood)");
    for (std::size_t i = 0; i < n; ++i) std::fprintf(stderr, " %02X", bytes[i]);
    std::fputc('\n', stderr);
  }
  if (!heard || o_.protocol == SimulatorProtocol::Nmea) return;
  ReceiveBytes(*link_, bytes, n, [this](ReceiverLink& l) {
    if (!IsTimeRequest(l) || hungUp_) return;
    // A new attempt: a --time receiver's clock begins again at its time.
    const SteadyTime now = SteadyNow();
    if (now - lastRequest_ >= std::chrono::seconds(1)) startUnix_ = -1;
    lastRequest_ = now;
    if (++requests_ == o_.hangupAfter) {
      hungUp_ = true;
      if (o_.verbose) std::fputs("hanging up\n", stderr);
      return;
    }
    if (o_.broadcast || o_.silent || !o_.replay.empty()) return;
    // The answer starts once the four request bytes have crossed the line and the receiver has
    // turned round, at the first moment whose time of week a single holds exactly.
    ScheduleAnswer(SteadyNow() + 4 * byteTime_ + std::chrono::milliseconds(o_.turnaroundMs));
  });
}

ReceiverModel::Bytes ReceiverModel::Packet41(double gps) const {
  TimingFields fields;
  if (o_.noTime) {
    fields.timeOfWeek = kNoTimeYet;
  } else {
    const double week = std::floor(gps / kSecondsPerWeek);
    fields.timeOfWeek =
        o_.fixedTow ? o_.tow : static_cast<float>(gps - week * kSecondsPerWeek);
    const std::int64_t weekSent = o_.week >= 0 ? o_.week : static_cast<std::int64_t>(week);
    fields.week = static_cast<std::uint16_t>(weekSent & 0xFFFF);
    fields.utcOffset = static_cast<float>(o_.offset);
  }
  const Packet41Data written = WritePacket41(fields);
  Bytes data(written.begin(), written.end());
  if (o_.wrongLength) data.push_back(0);
  Log("0x41", data);
  return Framed(kPacket41Id, data);
}

ReceiverModel::Bytes ReceiverModel::Packet8FAB(double gps) const {
  TimingFields fields;
  PacketCalendar calendar;
  if (o_.noTime) {
    fields.flags = kTimeNotSetFlag | kNoUtcInfoFlag;
  } else {
    const auto whole = static_cast<std::int64_t>(std::floor(gps));
    constexpr auto kWeekSeconds = static_cast<std::int64_t>(kSecondsPerWeek);
    const std::int64_t week = whole / kWeekSeconds;
    fields.timeOfWeek = static_cast<float>(whole - week * kWeekSeconds);
    fields.week = static_cast<std::uint16_t>(week & 0xFFFF);
    fields.utcOffset = static_cast<float>(o_.offset);
    fields.flags = static_cast<std::uint8_t>(o_.flags);
    // The receiver's own calendar, in GPS time (kUtcCalendarFlag aside).
    SystemTime t;
    ReceiverTimeToSystemTime(static_cast<double>(whole), &t);
    calendar.second = static_cast<std::uint8_t>(t.wSecond);
    calendar.minute = static_cast<std::uint8_t>(t.wMinute);
    calendar.hour = static_cast<std::uint8_t>(t.wHour);
    calendar.day = static_cast<std::uint8_t>(t.wDay);
    calendar.month = static_cast<std::uint8_t>(t.wMonth);
    calendar.year = t.wYear;
  }
  const Packet8FABData written = WritePacket8FAB(fields, calendar);
  Bytes data(written.begin(), written.end());
  if (o_.wrongLength) data.push_back(0);
  Log("0x8F-AB", data);
  return Framed(kPacket8FId, data);
}

ReceiverModel::Bytes ReceiverModel::Framed(std::uint8_t id, const Bytes& data) const {
  Bytes payload = {id};
  payload.insert(payload.end(), data.begin(), data.end());
  std::uint8_t frame[kFrameBufferSize];
  const int n = EncodeFrame(payload.size(), payload.data(), frame);
  return Bytes(frame, frame + (n > 0 ? n : 0));
}

// The UTC second an NMEA burst names for the pulse edge at `edgeUnix`: a --time receiver's runs on
// from its first burst, and a rolled-over module's lies 1024 weeks back.
std::int64_t ReceiverModel::UtcSecond(double edgeUnix) const {
  if (startUnix_ < 0) startUnix_ = edgeUnix;
  const double utc =
      o_.fixedTime ? std::floor(o_.fixedUnixTime) + (edgeUnix - startUnix_) : edgeUnix;
  const auto second = static_cast<std::int64_t>(std::llround(utc));
  return o_.nmeaRollover ? second - kRolloverSeconds : second;
}

// Queues the second's sentences, their first byte leaving at `start`, behind any --garbage.
void ReceiverModel::ScheduleBurst(SteadyTime start, double edgeUnix) {
  std::uint8_t burst[NmeaTalk::kMaxSentences * kNmeaSentenceMax];
  std::size_t n = 0;
  const std::int64_t second = UtcSecond(edgeUnix);
  for (int i = 0; i < o_.nmea.count; ++i) {
    n += WriteNmeaSentence(o_.nmea.sentences[i], o_.nmea, second,
                           reinterpret_cast<char*>(burst + n));
  }
  if (o_.verbose) {
    std::fprintf(stderr, "tx: %.*s", static_cast<int>(n), reinterpret_cast<const char*>(burst));
  }
  const bool heard = line_.SettingsMatch();
  if (!heard) {
    for (std::size_t i = 0; i < n; ++i) burst[i] = static_cast<std::uint8_t>(random_());
  }
  const SteadyTime noiseStart = start - o_.garbage * Spacing();
  for (int i = 0; i < o_.garbage; ++i) {
    const std::uint8_t b = Noise();
    Queue(noiseStart, &b, 1);
  }
  Queue(start, burst, n);
}

void ReceiverModel::Log(const char* what, const Bytes& data) const {
  if (!o_.verbose) return;
  std::fprintf(stderr, "tx: %s", what);
  for (std::uint8_t b : data) std::fprintf(stderr, " %02X", b);
  std::fputc('\n', stderr);
}

std::uint8_t ReceiverModel::Noise() {
  std::uint8_t b;
  do b = static_cast<std::uint8_t>(random_()); while (b == kDle);
  return b;
}

// The bytes the configured faults put in front of every packet.
ReceiverModel::Bytes ReceiverModel::Faults() {
  Bytes bytes;
  for (int i = 0; i < o_.garbage; ++i) bytes.push_back(Noise());
  bytes.insert(bytes.end(), static_cast<std::size_t>(o_.dleStorm), kDle);
  if (o_.oversize > 0) {
    // No byte of it is DLE, so the frame is the id, the data and the end, unstuffed.
    const Bytes big = {kDle, kPacket41Id};
    bytes.insert(bytes.end(), big.begin(), big.end());
    bytes.insert(bytes.end(), static_cast<std::size_t>(o_.oversize), std::uint8_t{0x55});
    bytes.insert(bytes.end(), {kDle, kEtx});
  }
  return bytes;
}

// Queues a packet whose first byte leaves at `packetStart` (or as soon after as the line is free),
// behind the configured faults.
void ReceiverModel::ScheduleAt(SteadyTime packetStart, const Bytes& packet) {
  Bytes bytes = Faults();
  const SteadyTime start = packetStart - static_cast<int>(bytes.size()) * Spacing();
  bytes.insert(bytes.end(), packet.begin(), packet.end());
  Send(start, bytes);
}

// Queues a 0x41 answer from `earliest` on. Its time of week names the moment its first byte
// leaves, less the latency, and that moment is chosen so that a single holds it exactly: the
// answer is then true to the bit.
void ReceiverModel::ScheduleAnswer(SteadyTime earliest) {
  Bytes bytes = Faults();
  const SteadyTime lineStart = std::max(earliest, lineFree_);
  SteadyTime packetStart = lineStart + static_cast<int>(bytes.size()) * Spacing();
  const auto latency = std::chrono::milliseconds(o_.latencyMs);
  double gps = GpsAt(packetStart - latency);
  // A --time receiver answers at once, as it always has: only its first answer is exact.
  if (!o_.fixedTow && !o_.fixedTime && !o_.noTime && !o_.atOnce) {
    const double exact = NextExactTime(gps);
    packetStart += std::chrono::duration_cast<Duration>(std::chrono::duration<double>(exact - gps));
    gps = exact;
  }
  const Bytes packet = Packet41(gps);
  bytes.insert(bytes.end(), packet.begin(), packet.end());
  Send(packetStart - static_cast<int>(bytes.size() - packet.size()) * Spacing(), bytes);
}

double ReceiverModel::NextExactTime(double gps) {
  double week = std::floor(gps / kSecondsPerWeek);
  const double tow = gps - week * kSecondsPerWeek;
  float single = static_cast<float>(tow);
  if (static_cast<double>(single) < tow) single = std::nextafter(single, 1e9f);
  if (single >= static_cast<float>(kSecondsPerWeek)) {
    week += 1;
    single = 0;
  }
  return week * kSecondsPerWeek + static_cast<double>(single);
}

// Hands the bytes to the line from `start` on; what arrives at the wrong rate is noise.
void ReceiverModel::Send(SteadyTime start, Bytes bytes) {
  if (!line_.SettingsMatch()) {
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random_());
  }
  Queue(start, bytes);
}

ReceiverModel::Duration ReceiverModel::Spacing() const {
  return std::max(byteTime_, Duration(std::chrono::milliseconds(std::max(o_.splitMs, 0))));
}

// Each byte is due when its last bit has crossed the line.
void ReceiverModel::Queue(SteadyTime start, const std::uint8_t* bytes, std::size_t n) {
  const Duration spacing = Spacing();
  SteadyTime at = std::max(start, lineFree_);
  for (std::size_t i = 0; i < n; ++i) {
    at += spacing;
    outbox_.push_back({at, bytes[i]});
  }
  lineFree_ = at;
}

// Keeps noise on the line for the next 20 ms wherever nothing else is queued.
void ReceiverModel::Flood(SteadyTime now) {
  const SteadyTime until = now + std::chrono::milliseconds(20);
  if (lineFree_ >= until) return;
  Bytes noise;
  for (SteadyTime at = std::max(now, lineFree_); at < until; at += byteTime_) {
    noise.push_back(Noise());
  }
  Queue(now, noise);
}

// Hands the line every byte that is due: none goes early, so the program never sees a byte
// before its time.
void ReceiverModel::SendDue(SteadyTime now) {
  std::uint8_t chunk[1024];
  std::size_t n = 0;
  while (!outbox_.empty() && outbox_.front().at <= now) {
    chunk[n++] = outbox_.front().byte;
    outbox_.pop_front();
    if (n == sizeof chunk) {
      line_.Transmit(chunk, n);
      n = 0;
    }
  }
  if (n > 0) line_.Transmit(chunk, n);
}

// Until the next byte is due, to the microsecond; at most 10 ms while broadcasting (NMEA too) or
// replaying and 200 ms otherwise.
ReceiverModel::Duration ReceiverModel::Wait() const {
  const SteadyTime now = turn_;
  Duration wait = std::chrono::milliseconds(
      o_.broadcast || o_.protocol == SimulatorProtocol::Nmea || replayAt_ < replay_.size() ? 10
                                                                                        : 200);
  if (!outbox_.empty()) wait = std::max(Duration::zero(), std::min(wait, outbox_.front().at - now));
  if (o_.pulse != PulseLine::None) {
    const auto toEdge = std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(nextEdge_ - 0.001 - NowUnix()));
    wait = std::max(Duration::zero(), std::min(wait, toEdge));
    if (raised_) wait = std::max(Duration::zero(), std::min(wait, lowerAt_ - now));
  }
  return wait;
}

}  // namespace clockagent
