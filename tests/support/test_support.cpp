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

const char* ControlName(Control control) {
  static const char* const kNames[kControlCount] = {
      "SpeedButton_Start", "Control_Start",     "SpeedButton_Stop",  "Control_Stop",
      "Panel_Setup",       "ComboBox_COM",      "ComboBox_BaudRate", "ComboBox_DataBits",
      "ComboBox_Parity",   "ComboBox_StopBits", "MaskEdit_Interval", "RadioGroup_TimeType",
      "RadioGroup_AutoStart"};
  return kNames[static_cast<int>(control)];
}

void FakeView::SetEnabled(Control control, bool value) {
  ViewState::SetEnabled(control, value);
  log.push_back(std::string(value ? "enable " : "disable ") + ControlName(control));
}

void FakeView::SetCaption(Panel panel, const char* text) {
  static const char* const kNames[kPanelCount] = {"Panel_Status", "Panel_TotalUpdates",
                                                  "Panel_OnOff", "Panel_Time"};
  ViewState::SetCaption(panel, text);
  log.push_back(std::string(kNames[static_cast<int>(panel)]) + "=" + text);
}

void FakeView::ShowMessage(const char* text, const char* title, unsigned flags) {
  ViewState::ShowMessage(text, title, flags);
  log.push_back(std::string("message ") + title + " " + std::to_string(flags) + ": " + text);
}

void FakeView::RemoveTrayIcons() {
  ViewState::RemoveTrayIcons();
  log.push_back("remove icons");
}

void FakeView::AddTrayIcon(TrayIconState state) {
  static const char* const kNames[] = {"SleepingOk", "InProgress", "SleepingFailed"};
  ViewState::AddTrayIcon(state);
  log.push_back(std::string("add icon ") + kNames[static_cast<int>(state)]);
}

void FakeView::PortName(int portNumber, char (&name)[kPortNameSize]) const {
  if (portPath.empty()) {
    ViewState::PortName(portNumber, name);
  } else {
    std::snprintf(name, sizeof name, "%s", portPath.c_str());
  }
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
