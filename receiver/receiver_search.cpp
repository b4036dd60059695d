// Finding the receiver: the trials of one port, and ports searched side by side.
#include "receiver/receiver_search.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace clockagent {
namespace {

constexpr SerialLineSettings Trial(std::uint32_t baudRate, std::uint32_t parity) {
  SerialLineSettings s;
  s.baudRateIndex = IndexOfValue(kBaudRates, baudRate);
  s.dataBitsIndex = IndexOfValue(kDataBits, 8);
  s.parityIndex = IndexOfValue(kParities, parity);
  s.stopBitsIndex = IndexOfValue(kStopBits, kOneStopBit);
  return s;
}

// The usual settings first, then the other rates without parity, then odd and even parity at each
// rate.
constexpr SerialLineSettings kTrials[kSearchTrialCount] = {
    Trial(9600, kNoParity),    Trial(9600, kOddParity),   Trial(38400, kNoParity),
    Trial(19200, kNoParity),   Trial(4800, kNoParity),    Trial(2400, kNoParity),
    Trial(38400, kOddParity),  Trial(19200, kOddParity),  Trial(4800, kOddParity),
    Trial(2400, kOddParity),   Trial(9600, kEvenParity),  Trial(38400, kEvenParity),
    Trial(19200, kEvenParity), Trial(4800, kEvenParity),  Trial(2400, kEvenParity)};

constexpr std::int64_t Ns(std::chrono::milliseconds ms) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(ms).count();
}

// The first timing packet that decodes.
class FirstTimingPacket final : public TimingSink {
 public:
  void TimingPacketReceived(const TimingReport& report) override {
    if (heard) return;
    heard = true;
    packet = report.packet;
  }
  bool heard = false;
  TimingPacket packet = TimingPacket::Packet41;
};

PortVerdict VerdictOf(OpenFailure failure) {
  switch (failure) {
    case OpenFailure::InUse:
      return PortVerdict::InUse;
    case OpenFailure::Denied:
      return PortVerdict::Denied;
    case OpenFailure::NoPort:
      break;
  }
  return PortVerdict::Missing;
}

// Listens at the link's present settings for one trial: asks for the time every little while and
// reads until a timing packet decodes, the trial's time is up or the search is stopped.
void Listen(ReceiverLink& link, TimingContext& context, const FirstTimingPacket& heard,
            const std::atomic<bool>& stop) {
  const std::int64_t began = link.clock->Now().monotonicNs;
  std::int64_t nextRequest = began;
  for (;;) {
    const std::int64_t now = link.clock->Now().monotonicNs;
    const std::int64_t left = began + Ns(kTrialListen) - now;
    if (left <= 0 || stop) return;
    if (now >= nextRequest) {
      RequestTime(link);
      nextRequest = now + Ns(kTrialRequestEvery);
    }
    ReadLink(link, [&context](ReceiverLink& l) { DispatchPacket(l, context); });
    if (heard.heard) return;
    const std::int64_t wait = std::min({left, nextRequest - now, Ns(kTrialWaitSlice)});
    link.port->WaitForBytes(std::chrono::milliseconds(std::max<std::int64_t>(1, wait / 1000000)));
  }
}

// Hands the observer one call at a time, and with `stopAtFirst` stops the search at a find.
class OneAtATime final : public SearchObserver {
 public:
  OneAtATime(SearchObserver& observer, std::atomic<bool>& stop, bool stopAtFirst)
      : observer_(observer), stop_(stop), stopAtFirst_(stopAtFirst) {}
  void TrialBegan(const PortChoice& port, int trial) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    observer_.TrialBegan(port, trial);
  }
  void TrialRefused(const PortChoice& port, int trial, const char* words) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    observer_.TrialRefused(port, trial, words);
  }
  void PortSearched(const PortFinding& finding) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopAtFirst_ && finding.verdict == PortVerdict::Found) stop_ = true;
    observer_.PortSearched(finding);
  }

 private:
  SearchObserver& observer_;
  std::atomic<bool>& stop_;
  const bool stopAtFirst_;
  std::mutex mutex_;
};

}  // namespace

const SerialLineSettings& SearchTrial(int index) { return kTrials[index]; }

std::string LineSettingsText(const SerialLineSettings& settings) {
  const LineParameters line = LineParametersOf(settings);
  const char parity = line.parity == kOddParity ? 'O' : line.parity == kEvenParity ? 'E' : 'N';
  return std::to_string(line.baudRate) + " baud, " + std::to_string(line.dataBits) + "-" + parity +
         "-" + (line.stopBits == kTwoStopBits ? "2" : "1");
}

std::string FoundText(const PortFinding& finding) {
  return PortDisplayName(finding.port) + ": " + LineSettingsText(finding.line) +
         (finding.packet == TimingPacket::Packet41 ? ", answering with 0x41"
                                                   : ", broadcasting 0x8F-AB");
}

PortFinding SearchPort(SerialPort& port, LinkClock& clock, const PortChoice& choice,
                       const std::atomic<bool>& stop, SearchObserver& observer) {
  PortFinding finding;
  finding.port = choice;
  const auto link = std::make_unique<ReceiverLink>();
  link->port = &port;
  link->clock = &clock;
  char name[kPortNameSize];
  port.LeaveAsFound();
  if (!PortOpenName(choice, name) || OpenLink(*link, name) != 0) {
    finding.verdict = name[0] != '\0' ? VerdictOf(port.LastOpenFailure()) : PortVerdict::Missing;
    observer.PortSearched(finding);
    return finding;
  }
  FirstTimingPacket heard;
  TimingContext context;
  context.sink = &heard;
  for (int trial = 0; trial < kSearchTrialCount && !heard.heard && !stop; ++trial) {
    observer.TrialBegan(choice, trial);
    if (!PrepareLink(*link, kTrials[trial])) {  // settings this port cannot take
      observer.TrialRefused(choice, trial, port.LastErrorText());
      continue;
    }
    ResetFraming(*link);  // a packet is taken from its first byte at these settings
    Listen(*link, context, heard, stop);
    finding.line = kTrials[trial];
  }
  CloseLink(*link);
  finding.verdict = heard.heard ? PortVerdict::Found : stop ? PortVerdict::Stopped : PortVerdict::Silent;
  finding.packet = heard.packet;
  if (!heard.heard) finding.line = SerialLineSettings{};
  observer.PortSearched(finding);
  return finding;
}

std::vector<PortFinding> SearchPorts(const std::vector<PortChoice>& ports,
                                     const std::function<std::unique_ptr<SerialPort>()>& newPort,
                                     std::atomic<bool>& stop, bool stopAtFirst,
                                     SearchObserver& observer) {
  std::vector<PortFinding> findings(ports.size());
  OneAtATime guarded(observer, stop, stopAtFirst);
  std::vector<std::thread> threads;
  threads.reserve(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::unique_ptr<SerialPort> port = newPort();
      findings[i] = SearchPort(*port, SystemLinkClock(), ports[i], stop, guarded);
    });
  }
  for (std::thread& thread : threads) thread.join();
  return findings;
}

}  // namespace clockagent
