// The search of one port: the order of the trials and the verdict, against a receiver in memory
// that is fixed to one rate and parity.
#include <gtest/gtest.h>

#include <optional>

#include "receiver/receiver_search.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

enum class Sends { Answers, Broadcasts, Nmea, Nothing };

// One second's NMEA burst.
constexpr char kNmeaBurst[] =
    "$GPRMC,120000,A,5230.000,N,01320.000,E,0.0,0.0,080126,,*17\r\n"
    "$GPGGA,120000,5230.000,N,01320.000,E,1,08,1.0,40.0,M,40.0,M,,*7C\r\n";

// A receiver fixed to one rate and parity behind a port, and the link's clock, which moves only
// while the search pauses or waits. At other settings the receiver's requests go unheard and what
// it sends arrives as noise; a broadcast or an NMEA burst goes out at each whole second.
class ReceiverPort final : public NullPort, public LinkClock, public SearchObserver {
 public:
  ReceiverPort(Sends sends, std::uint32_t baud, std::uint8_t parity)
      : sends_(sends), baud_(baud), parity_(parity) {}
  bool Open(const char*) override { return !refuses; }
  OpenFailure LastOpenFailure() const override { return *refuses; }
  bool SetLineParameters(const LineParameters& p) override {
    line_ = p;
    tried.push_back(std::to_string(p.baudRate) + " " + std::to_string(p.dataBits) +
                    "NOE"[p.parity] + std::to_string(p.stopBits == kTwoStopBits ? 2 : 1));
    return true;
  }
  std::uint32_t QueuedBytes() override { return static_cast<std::uint32_t>(incoming_.size()); }
  std::uint32_t Read(std::uint8_t* buffer, std::uint32_t size) override {
    const std::uint32_t n = std::min(size, QueuedBytes());
    std::copy_n(incoming_.begin(), n, buffer);
    incoming_.erase(incoming_.begin(), incoming_.begin() + n);
    return n;
  }
  void Write(const std::uint8_t* frame, std::size_t length) override {
    if (Heard()) ++writesHeard;
    if (Bytes(frame, frame + length) == Frame(kTimeRequestId, {}) && Heard() &&
        sends_ == Sends::Answers) {
      Send(Frame(kPacket41Id, {0x48, 0x93, 0xA8, 0x00, 0x04, 0xB0, 0x41, 0x50, 0x00, 0x00}));
    }
  }
  bool WaitForBytes(std::chrono::milliseconds timeout) override {
    if (!incoming_.empty()) return true;
    const std::int64_t second = now_.monotonicNs / 1000000000;
    Pause(timeout);
    if (sends_ == Sends::Broadcasts && now_.monotonicNs / 1000000000 != second) {
      Send(Frame(kPacket8FId, {kSubcodeAB, 0, 1, 0x51, 0x80, 0x04, 0xB0, 0, 18, 0, 0, 0, 12, 8,
                               1, 0x07, 0xEA}));
    }
    if (sends_ == Sends::Nmea && now_.monotonicNs / 1000000000 != second) {
      Send(Bytes(kNmeaBurst, kNmeaBurst + sizeof(kNmeaBurst) - 1));
    }
    return !incoming_.empty();
  }
  ClockReading Now() override { return now_; }
  void Pause(std::chrono::milliseconds d) override {
    now_.monotonicNs += std::chrono::nanoseconds(d).count();
  }
  void TrialBegan(const PortChoice&, int) override {}
  void PortSearched(const PortFinding&) override {}

  std::optional<OpenFailure> refuses;
  std::vector<std::string> tried;  // "9600 8N1", in order
  int writesHeard = 0;             // what was sent at the receiver's own settings

 private:
  bool Heard() const { return line_.baudRate == baud_ && line_.parity == parity_; }
  void Send(const Bytes& frame) {
    for (std::uint8_t b : frame) incoming_.push_back(Heard() ? b : std::uint8_t{0xF5});
  }

  Sends sends_;
  std::uint32_t baud_;
  std::uint8_t parity_;
  LineParameters line_;
  ClockReading now_;
  Bytes incoming_;
};

const std::vector<std::string> kAllTrials = {
    "9600 8N1",  "4800 8N1",  "9600 8N1",  "9600 8O1",  "38400 8N1", "19200 8N1", "4800 8N1",
    "2400 8N1",  "38400 8O1", "19200 8O1", "4800 8O1",  "2400 8O1",  "9600 8E1",  "38400 8E1",
    "19200 8E1", "4800 8E1",  "2400 8E1",  "19200 8N1", "38400 8N1"};

struct Case {
  const char* name;
  Sends sends;  // at this rate and parity
  std::uint32_t baud;
  std::uint8_t parity;
  std::optional<OpenFailure> refuses;
  bool stopped;
  PortVerdict verdict;  // after the first `trials` of kAllTrials, in order
  long trials;
  const char* found;    // FoundText when found
};

const Case kCases[] = {
    {"AnswersAt9600None", Sends::Answers, 9600, kNoParity, {}, false, PortVerdict::Found, 1,
     "COM7: 9600 baud, 8-N-1, answering with 0x41"},
    {"AnswersAt4800Odd", Sends::Answers, 4800, kOddParity, {}, false, PortVerdict::Found, 11,
     "COM7: 4800 baud, 8-O-1, answering with 0x41"},
    {"BroadcastsAt19200None", Sends::Broadcasts, 19200, kNoParity, {}, false, PortVerdict::Found, 6,
     "COM7: 19200 baud, 8-N-1, broadcasting 0x8F-AB"},
    {"BroadcastsAt2400Even", Sends::Broadcasts, 2400, kEvenParity, {}, false, PortVerdict::Found, 17,
     "COM7: 2400 baud, 8-E-1, broadcasting 0x8F-AB"},
    {"NmeaAt4800", Sends::Nmea, 4800, kNoParity, {}, false, PortVerdict::Found, 2,
     "COM7: 4800 baud, 8-N-1, NMEA (RMC, GGA)"},
    {"Silent", Sends::Nothing, 9600, kNoParity, {}, false, PortVerdict::Silent, 19, ""},
    {"InUse", Sends::Answers, 9600, kNoParity, OpenFailure::InUse, false, PortVerdict::InUse, 0, ""},
    {"Denied", Sends::Answers, 9600, kNoParity, OpenFailure::Denied, false, PortVerdict::Denied, 0, ""},
    {"Stopped", Sends::Answers, 9600, kNoParity, {}, true, PortVerdict::Stopped, 0, ""},
};

class SearchPortTest : public ::testing::TestWithParam<Case> {};

TEST_P(SearchPortTest, TriesTheSettingsInOrderUntilAReceiverIsHeard) {
  const Case& c = GetParam();
  ReceiverPort port(c.sends, c.baud, c.parity);
  port.refuses = c.refuses;
  const std::atomic<bool> stop{c.stopped};
  const PortFinding finding = SearchPort(port, port, PortChoice{7, ""}, stop, port);
  EXPECT_EQ(finding.verdict, c.verdict);
  EXPECT_EQ(port.tried, std::vector<std::string>(kAllTrials.begin(), kAllTrials.begin() + c.trials));
  EXPECT_EQ(finding.verdict == PortVerdict::Found ? FoundText(finding) : "", c.found);
  if (c.sends == Sends::Nmea) {
    EXPECT_EQ(port.writesHeard, 0);  // an NMEA receiver is sent nothing
  }
}

INSTANTIATE_TEST_SUITE_P(Receivers, SearchPortTest, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace clockagent::test
