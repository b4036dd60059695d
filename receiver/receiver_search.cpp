// Finding the receiver: the trials of one port, and ports searched side by side.
#include "receiver/receiver_search.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

namespace clockagent {
namespace {

constexpr SearchTrialSettings Trial(ReceiverProtocol protocol, std::uint32_t baudRate,
                                    std::uint32_t parity) {
  SearchTrialSettings t;
  t.protocol = protocol;
  t.line.baudRateIndex = IndexOfValue(kBaudRates, baudRate);
  t.line.dataBitsIndex = IndexOfValue(kDataBits, 8);
  t.line.parityIndex = IndexOfValue(kParities, parity);
  t.line.stopBitsIndex = IndexOfValue(kStopBits, kOneStopBit);
  return t;
}
constexpr SearchTrialSettings Daro(std::uint32_t baudRate, std::uint32_t parity) {
  return Trial(ReceiverProtocol::Daro, baudRate, parity);
}
constexpr SearchTrialSettings Nmea(std::uint32_t baudRate) {
  return Trial(ReceiverProtocol::Nmea, baudRate, kNoParity);
}

// DARO's usual setting first, then NMEA at the two rates nearly every NMEA module uses, then DARO's
// other rates without parity, odd and even parity at each rate, and last NMEA's rarer rates. A DARO
// receiver at its usual setting is found as fast as ever and one elsewhere 2.4 s later; the common
// NMEA receivers are found by the second or third trial.
constexpr SearchTrialSettings kTrials[kSearchTrialCount] = {
    Daro(9600, kNoParity),    Nmea(4800),               Nmea(9600),
    Daro(9600, kOddParity),   Daro(38400, kNoParity),   Daro(19200, kNoParity),
    Daro(4800, kNoParity),    Daro(2400, kNoParity),    Daro(38400, kOddParity),
    Daro(19200, kOddParity),  Daro(4800, kOddParity),   Daro(2400, kOddParity),
    Daro(9600, kEvenParity),  Daro(38400, kEvenParity), Daro(19200, kEvenParity),
    Daro(4800, kEvenParity),  Daro(2400, kEvenParity),  Nmea(19200),
    Nmea(38400)};

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

// The types of the NMEA sentences heard with right checksums, each once, in order first seen.
struct NmeaTypesHeard {
  static constexpr int kMax = 8;  // more are not told
  char types[kMax][sizeof(NmeaSentence::type)] = {};
  int count = 0;

  void Add(const char* type) {
    for (int i = 0; i < count; ++i) {
      if (std::strcmp(types[i], type) == 0) return;
    }
    if (count < kMax) std::strcpy(types[count++], type);
  }
};

// Listens at the link's present settings for NMEA sentences, sending nothing. One sentence with a
// right checksum is enough: a receiver that sends only RMC may show one whole sentence in a trial,
// and bytes at a wrong rate practically never make `$`, printable characters, a matching `*hh`
// and CR LF. So that the types are told in the order the receiver sends them, what came before a
// burst seen from its start (after a quiet line) is forgotten, and such a burst is listened to
// until the line falls quiet after it, though that run past the trial's time. A receiver that
// leaves no quiet between its bursts is told by what came in the trial's time.
void ListenNmea(ReceiverLink& link, NmeaTypesHeard& heard, const std::atomic<bool>& stop) {
  NmeaReader& reader = link.nmea.reader;
  ResetNmeaReader(reader);
  const std::int64_t began = link.clock->Now().monotonicNs;
  std::int64_t lastBytes = began;  // when bytes last came, or the listening began
  bool quiet = false;              // the line has been quiet a burst's gap since bytes last came
  std::int64_t burstBegan = -1;    // when the burst under way began after a quiet line; -1: none
  const auto onSentence = [&heard](const NmeaSentence& sentence) {
    if (sentence.checksum == NmeaChecksum::Right && sentence.type[0] != '\0') heard.Add(sentence.type);
  };
  for (;;) {
    const std::int64_t now = link.clock->Now().monotonicNs;
    const std::int64_t end = std::max(began, burstBegan) + Ns(kTrialListen);
    const bool timeUp = now >= began + Ns(kTrialListen) && (burstBegan < 0 || now >= end);
    if (timeUp || stop) return;
    if (link.port->QueuedBytes() > 0) {
      const std::uint32_t n = link.port->Read(link.rxBuffer, static_cast<std::uint32_t>(kRxBlockSize));
      lastBytes = link.clock->Now().monotonicNs;
      if (quiet) {
        heard.count = 0;
        burstBegan = lastBytes;
      }
      quiet = false;
      FeedNmeaBytes(reader, link.rxBuffer, n, onSentence);
      continue;
    }
    if (now - lastBytes >= kNmeaBurstGapNs) {
      if (burstBegan >= 0 && heard.count > 0) return;  // a whole burst heard
      burstBegan = -1;
      quiet = true;
    }
    const std::int64_t wait = std::min(end - now, Ns(kTrialWaitSlice));
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

const SearchTrialSettings& SearchTrial(int index) { return kTrials[index]; }

bool TrialIncluded(int index, SearchProtocols protocols) {
  switch (protocols) {
    case SearchProtocols::Daro:
      return kTrials[index].protocol == ReceiverProtocol::Daro;
    case SearchProtocols::Nmea:
      return kTrials[index].protocol == ReceiverProtocol::Nmea;
    case SearchProtocols::Both:
      break;
  }
  return true;
}

std::string LineSettingsText(const SerialLineSettings& settings) {
  const LineParameters line = LineParametersOf(settings);
  const char parity = line.parity == kOddParity ? 'O' : line.parity == kEvenParity ? 'E' : 'N';
  return std::to_string(line.baudRate) + " baud, " + std::to_string(line.dataBits) + "-" + parity +
         "-" + (line.stopBits == kTwoStopBits ? "2" : "1");
}

std::string TrialText(int index) {
  const SearchTrialSettings& trial = kTrials[index];
  return LineSettingsText(trial.line) + (trial.protocol == ReceiverProtocol::Nmea ? ", NMEA" : "");
}

std::string FoundText(const PortFinding& finding) {
  std::string text = PortDisplayName(finding.port) + ": " + LineSettingsText(finding.line);
  if (finding.protocol == ReceiverProtocol::Nmea) {
    text += ", NMEA (";
    for (std::size_t i = 0; i < finding.sentenceTypes.size(); ++i) {
      text += (i > 0 ? ", " : "") + finding.sentenceTypes[i];
    }
    return text + ")";
  }
  return text + (finding.packet == TimingPacket::Packet41 ? ", answering with 0x41"
                                                          : ", broadcasting 0x8F-AB");
}

PortFinding SearchPort(SerialPort& port, LinkClock& clock, const PortChoice& choice,
                       const std::atomic<bool>& stop, SearchObserver& observer,
                       SearchProtocols protocols) {
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
  NmeaTypesHeard sentences;
  bool found = false;
  for (int trial = 0; trial < kSearchTrialCount && !found && !stop; ++trial) {
    if (!TrialIncluded(trial, protocols)) continue;
    const SearchTrialSettings& settings = kTrials[trial];
    observer.TrialBegan(choice, trial);
    if (!PrepareLink(*link, settings.line)) {  // settings this port cannot take
      observer.TrialRefused(choice, trial, port.LastErrorText());
      continue;
    }
    if (settings.protocol == ReceiverProtocol::Nmea) {
      ListenNmea(*link, sentences, stop);
      found = sentences.count > 0;
    } else {
      ResetFraming(*link);  // a packet is taken from its first byte at these settings
      Listen(*link, context, heard, stop);
      found = heard.heard;
    }
    finding.line = settings.line;
    finding.protocol = settings.protocol;
  }
  CloseLink(*link);
  finding.verdict = found ? PortVerdict::Found : stop ? PortVerdict::Stopped : PortVerdict::Silent;
  finding.packet = heard.packet;
  if (!found) {
    finding.line = SerialLineSettings{};
    finding.protocol = ReceiverProtocol::Daro;
  } else if (finding.protocol == ReceiverProtocol::Nmea) {
    finding.sentenceTypes.assign(sentences.types, sentences.types + sentences.count);
  }
  observer.PortSearched(finding);
  return finding;
}

std::vector<PortFinding> SearchPorts(const std::vector<PortChoice>& ports,
                                     const std::function<std::unique_ptr<SerialPort>()>& newPort,
                                     std::atomic<bool>& stop, bool stopAtFirst,
                                     SearchObserver& observer, SearchProtocols protocols) {
  std::vector<PortFinding> findings(ports.size());
  OneAtATime guarded(observer, stop, stopAtFirst);
  std::vector<std::thread> threads;
  threads.reserve(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::unique_ptr<SerialPort> port = newPort();
      findings[i] = SearchPort(*port, SystemLinkClock(), ports[i], stop, guarded, protocols);
    });
  }
  for (std::thread& thread : threads) thread.join();
  return findings;
}

}  // namespace clockagent
