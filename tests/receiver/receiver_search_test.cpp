// The search of one port: the order of the line settings tried and the verdict, against a receiver
// in memory that is fixed to one rate and parity.
#include <gtest/gtest.h>

#include "receiver/receiver_search.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

enum class Sends { Answers, Broadcasts, Nothing };

// The link's clock for a search in memory: it moves only when the search pauses or waits.
class SteppingClock final : public LinkClock {
 public:
  ClockReading Now() override { return now; }
  void Pause(std::chrono::milliseconds d) override { Advance(d); }
  void Advance(std::chrono::milliseconds d) {
    now.monotonicNs += std::chrono::nanoseconds(d).count();
    now.systemNs = now.monotonicNs;
  }
  ClockReading now;
};

// A receiver fixed to one rate and parity behind a port: at other settings its requests go unheard
// and what it sends arrives as noise. A broadcast goes out at each whole second of the clock.
class ReceiverPort final : public SerialPort {
 public:
  ReceiverPort(SteppingClock& clock, Sends sends, std::uint32_t baud, std::uint8_t parity)
      : clock_(clock), sends_(sends), baud_(baud), parity_(parity) {}
  bool Open(const char*) override { return opens; }
  OpenFailure LastOpenFailure() const override { return failure; }
  bool SetLineParameters(const LineParameters& p) override {
    line_ = p;
    const char parity = p.parity == kOddParity ? 'O' : p.parity == kEvenParity ? 'E' : 'N';
    tried.push_back(std::to_string(p.baudRate) + " " + std::to_string(p.dataBits) + parity +
                    std::to_string(p.stopBits == kTwoStopBits ? 2 : 1));
    return true;
  }
  void Flush() override {}
  std::uint32_t QueuedBytes() override { return static_cast<std::uint32_t>(incoming_.size()); }
  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t size) override {
    const std::uint32_t n = std::min(size, QueuedBytes());
    std::copy_n(incoming_.begin(), n, buffer);
    incoming_.erase(incoming_.begin(), incoming_.begin() + n);
    return n;
  }
  void Write(const std::uint8_t* frame, std::size_t length) override {
    if (Bytes(frame, frame + length) == Frame(kTimeRequestId, {}) && Heard() &&
        sends_ == Sends::Answers) {
      Send(Frame(kPacket41Id, {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00}));
    }
  }
  void Close() override {}
  std::intptr_t ArrivalHandle() override { return -1; }
  bool WaitForBytes(std::chrono::milliseconds timeout) override {
    if (!incoming_.empty()) return true;
    const std::int64_t second = clock_.now.monotonicNs / 1000000000;
    clock_.Advance(timeout);
    if (sends_ == Sends::Broadcasts && clock_.now.monotonicNs / 1000000000 != second) {
      Send(Frame(kPacket8FId, {kSubcodeAB, 0, 1, 0x51, 0x80, 0x04, 0xB0, 0, 18, 0, 0, 0, 12, 8,
                               1, 0x07, 0xEA}));
    }
    return !incoming_.empty();
  }

  bool opens = true;
  OpenFailure failure = OpenFailure::NoPort;
  std::vector<std::string> tried;  // "9600 8N1", in order

 private:
  bool Heard() const { return line_.baudRate == baud_ && line_.parity == parity_; }
  void Send(const Bytes& frame) {
    for (std::uint8_t b : frame) incoming_.push_back(Heard() ? b : std::uint8_t{0xF5});
  }

  SteppingClock& clock_;
  Sends sends_;
  std::uint32_t baud_;
  std::uint8_t parity_;
  LineParameters line_;
  Bytes incoming_;
};

class NoObserver final : public SearchObserver {
 public:
  void TrialBegan(const PortChoice&, int) override {}
  void PortSearched(const PortFinding&) override {}
};

const std::vector<std::string> kAllTrials = {
    "9600 8N1",  "9600 8O1",  "38400 8N1", "19200 8N1", "4800 8N1",
    "2400 8N1",  "38400 8O1", "19200 8O1", "4800 8O1",  "2400 8O1",
    "9600 8E1",  "38400 8E1", "19200 8E1", "4800 8E1",  "2400 8E1"};

struct Case {
  const char* name;
  Sends sends;
  std::uint32_t baud;
  std::uint8_t parity;
  bool opens;
  OpenFailure failure;
  bool stopped;
  PortVerdict verdict;
  std::size_t trials;  // how many of kAllTrials, in order
  const char* found;   // FoundText when found
};

const Case kCases[] = {
    {"AnswersAt9600None", Sends::Answers, 9600, kNoParity, true, {}, false, PortVerdict::Found, 1,
     "COM7: 9600 baud, 8-N-1, answering with 0x41"},
    {"AnswersAt4800Odd", Sends::Answers, 4800, kOddParity, true, {}, false, PortVerdict::Found, 9,
     "COM7: 4800 baud, 8-O-1, answering with 0x41"},
    {"BroadcastsAt19200None", Sends::Broadcasts, 19200, kNoParity, true, {}, false,
     PortVerdict::Found, 4, "COM7: 19200 baud, 8-N-1, broadcasting 0x8F-AB"},
    {"BroadcastsAt2400Even", Sends::Broadcasts, 2400, kEvenParity, true, {}, false,
     PortVerdict::Found, 15, "COM7: 2400 baud, 8-E-1, broadcasting 0x8F-AB"},
    {"Silent", Sends::Nothing, 9600, kNoParity, true, {}, false, PortVerdict::Silent, 15, ""},
    {"InUse", Sends::Answers, 9600, kNoParity, false, OpenFailure::InUse, false, PortVerdict::InUse, 0, ""},
    {"Missing", Sends::Answers, 9600, kNoParity, false, OpenFailure::NoPort, false, PortVerdict::Missing, 0, ""},
    {"Denied", Sends::Answers, 9600, kNoParity, false, OpenFailure::Denied, false, PortVerdict::Denied, 0, ""},
    {"StoppedBeforeAnyTrial", Sends::Answers, 9600, kNoParity, true, {}, true, PortVerdict::Stopped, 0, ""},
};

class SearchPortTest : public ::testing::TestWithParam<Case> {};

TEST_P(SearchPortTest, TriesTheSettingsInOrderUntilATimingPacketDecodes) {
  const Case& c = GetParam();
  SteppingClock clock;
  ReceiverPort port(clock, c.sends, c.baud, c.parity);
  port.opens = c.opens;
  port.failure = c.failure;
  PortChoice choice;
  choice.number = 7;
  const std::atomic<bool> stop{c.stopped};
  NoObserver observer;
  const PortFinding finding = SearchPort(port, clock, choice, stop, observer);

  EXPECT_EQ(finding.verdict, c.verdict);
  EXPECT_EQ(port.tried, std::vector<std::string>(kAllTrials.begin(), kAllTrials.begin() +
                                                                         static_cast<long>(c.trials)));
  if (c.verdict == PortVerdict::Found) {
    EXPECT_EQ(FoundText(finding), c.found);
  }
}

INSTANTIATE_TEST_SUITE_P(Receivers, SearchPortTest, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace clockagent::test
