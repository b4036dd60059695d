// Shared test helpers.
#include "tests/support/test_support.h"

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace clockagent::test {

std::vector<std::string> CaptureNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(CLOCKAGENT_CAPTURES_DIR)) {
    if (entry.path().extension() == ".bin") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Bytes ReadCapture(const std::string& name) {
  const std::string path = std::string(CLOCKAGENT_CAPTURES_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Packet> ParsePackets(ReceiverLink& link, const Bytes& bytes, std::size_t blockSize) {
  std::vector<Packet> packets;
  for (std::size_t at = 0; at < bytes.size(); at += blockSize) {
    const std::size_t n = std::min(blockSize, bytes.size() - at);
    ReceiveBytes(link, bytes.data() + at, n, [&](ReceiverLink& completed) {
      packets.push_back(Packet{completed.packetId,
                               Bytes(completed.packetBuffer,
                                     completed.packetBuffer + completed.packetLength)});
    });
  }
  return packets;
}

Bytes Frame(std::uint8_t id, const Bytes& data) {
  Bytes wire = {kDle, id};
  for (std::uint8_t b : data) {
    if (b == kDle) wire.push_back(kDle);
    wire.push_back(b);
  }
  wire.push_back(kDle);
  wire.push_back(kEtx);
  return wire;
}

bool RecordingPort::Open(const char* name) {
  calls.push_back(std::string("Open ") + name);
  return opens;
}

bool RecordingPort::SetLineParameters(const LineParameters& p) {
  calls.push_back("SetLineParameters " + std::to_string(p.baudRate) + " " +
                  std::to_string(p.dataBits) + " " + std::to_string(p.parity) + " " +
                  std::to_string(p.stopBits));
  return true;
}

std::uint32_t RecordingPort::QueuedBytes() {
  calls.push_back("QueuedBytes");
  return static_cast<std::uint32_t>(incoming.size());
}

std::uint32_t RecordingPort::Read(std::uint8_t* buffer, std::uint32_t size) {
  calls.push_back("Read " + std::to_string(size));
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(size, incoming.size()));
  std::copy(incoming.begin(), incoming.begin() + n, buffer);
  incoming.erase(incoming.begin(), incoming.begin() + n);
  return n;
}

void RecordingPort::Write(const std::uint8_t* frame, std::size_t length) {
  calls.push_back("Write");
  writes.emplace_back(frame, frame + length);
}

std::string RecordedAttempt::ReportedTime() const {
  if (sink.reports.size() != 1) return "no single report";
  SystemTime time;
  if (!ReceiverTimeToSystemTime(sink.reports[0].receiverTime, &time)) return "bad";
  return Iso(time);
}

std::vector<std::string> RecordedAttempt::TimesOfWeek() const {
  std::vector<std::string> texts;
  for (const TimingReport& report : sink.reports) {
    char text[kTimeOfWeekTextSize];
    FormatTimeOfWeek(report.fields.timeOfWeek, text);
    texts.emplace_back(text);
  }
  return texts;
}

void RecordingFront::AttemptBegan() { log.push_back("began"); }

void RecordingFront::TimeOfWeekReceived(const TimingFields& fields, TimeType timeType) {
  char text[kTimeOfWeekTextSize];
  FormatTimeOfWeek(ShownTimeOfWeek(fields, timeType), text);
  timeOfWeek = text;
  log.push_back(std::string("time of week ") + text);
}

void RecordingFront::AttemptEnded(const AttemptResult& result) {
  results.push_back(result);
  log.push_back("ended " + Status() + " " + Counters());
}

void RecordingFront::ScheduleChanged(bool value) {
  started = value;
  log.push_back(value ? "started" : "stopped");
}

void RecordingFront::Refused(const char* message) {
  log.push_back(std::string("refused: ") + message);
}

std::string RecordingFront::Status() const {
  return results.empty() ? "" : StatusText(results.back().outcome);
}

std::string RecordingFront::Counters() const {
  if (results.empty()) return "";
  return std::to_string(results.back().successes) + "/" + std::to_string(results.back().attempts);
}

namespace {

class MemoryKey final : public StoreKey {
 public:
  explicit MemoryKey(MemoryStore& store) : store_(store) { ++store_.openKeys; }
  ~MemoryKey() override { --store_.openKeys; }
  std::string ReadString(const char* name) override {
    store_.log.push_back(std::string("read ") + name);
    const auto found = store_.values.find(name);
    if (found == store_.values.end()) return "";
    if (!found->second.isString) throw StoreError("not a string");
    return found->second.text;
  }
  void WriteString(const char* name, const char* text) override {
    store_.log.push_back(std::string("write ") + name + "=" + text);
    store_.values[name] = MemoryStore::Value{text, true};
  }

 private:
  MemoryStore& store_;
};

}  // namespace

std::unique_ptr<StoreKey> MemoryStore::OpenKey(StoreRoot, const char* path) {
  EXPECT_STREQ(path, "Software\\Velmora\\ClockAgent");
  if (!opens) return nullptr;
  keyExists = true;
  return std::make_unique<MemoryKey>(*this);
}

std::string Iso(const SystemTime& time) {
  char text[kIsoTimeTextSize];
  FormatIsoTime(time, text);
  return text;
}

}  // namespace clockagent::test
