// Loading and saving the settings over a store in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "settings/settings_store.h"
#include "tests/support/test_support.h"

namespace clockagent::test {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void Store(const char* name, const char* text) { store.values[name] = {text, true}; }
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const auto& entry : store.log) {
      if (entry.rfind("write ", 0) == 0) writes.push_back(entry.substr(6));
    }
    return writes;
  }
  // Loads, expecting a stored "Comm" (no first run).
  StoredSettings Load() {
    StoredSettings stored;
    EXPECT_TRUE(LoadSettings(store, &stored));
    return stored;
  }

  MemoryStore store;
};

// What a window that was just created stores at a first run, in the fixed order.
const SettingsToSave kWindowDefaults = {21600000, TimeType::Utc, false, 1, SerialLineSettings{}};
const std::vector<std::string> kDefaults = {
    "Interval=21600", "TimeType=UTC", "AutoStart=OFF", "Comm=COM1",
    "BaudRate=2",     "DataBits=1",   "Parity=0",      "StopBits=0"};

TEST_F(SettingsTest, AFirstRunReadsOnlyCommAndTheDefaultsAreStoredInOrder) {
  Store(kBaudRateValue, "4");  // without "Comm", nothing else is read
  Store(kTimeTypeValue, "GPS");
  StoredSettings stored;
  EXPECT_FALSE(LoadSettings(store, &stored));
  EXPECT_EQ(store.log, std::vector<std::string>{"read Comm"});
  EXPECT_FALSE(stored.lineIndex[0].has_value());
  SaveSettings(store, kWindowDefaults);
  EXPECT_EQ(Writes(), kDefaults);
  EXPECT_TRUE(store.keyExists);
  EXPECT_EQ(store.openKeys, 0);
}

TEST_F(SettingsTest, StoredValuesAreRead) {
  Store(kCommValue, "XYZ5");  // the first three characters are never looked at
  Store(kBaudRateValue, "4");
  Store(kDataBitsValue, "0");
  Store(kParityValue, "2");
  Store(kStopBitsValue, "1");
  Store(kIntervalValue, "90061");
  Store(kTimeTypeValue, "GPS");
  Store(kAutoStartValue, "OFF");
  const StoredSettings stored = Load();
  EXPECT_EQ(stored.portNumber, 5);
  EXPECT_EQ(stored.lineIndex[0], 4);
  EXPECT_EQ(stored.lineIndex[1], 0);
  EXPECT_EQ(stored.lineIndex[2], 2);
  EXPECT_EQ(stored.lineIndex[3], 1);
  EXPECT_EQ(stored.intervalSeconds, 90061u);
  EXPECT_EQ(stored.timeType, TimeType::Gps);
  EXPECT_EQ(stored.autoStart, false);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(store.log.size(), 8u);
}

TEST_F(SettingsTest, ComparisonsAreCaseSensitive) {
  Store(kCommValue, "COM2");
  Store(kTimeTypeValue, "utc");
  Store(kAutoStartValue, "On");
  StoredSettings stored = Load();
  EXPECT_EQ(stored.timeType, TimeType::Gps);
  EXPECT_EQ(stored.autoStart, false);
  Store(kTimeTypeValue, "UTC");
  Store(kAutoStartValue, "ON");
  stored = Load();
  EXPECT_EQ(stored.timeType, TimeType::Utc);
  EXPECT_EQ(stored.autoStart, true);
}

TEST_F(SettingsTest, WhatCannotBeAListEntryCountsAsAbsent) {
  Store(kCommValue, "COM21");
  Store(kBaudRateValue, "7");
  Store(kDataBitsValue, "x");
  Store(kParityValue, "-1");
  Store(kStopBitsValue, "");
  store.values[kTimeTypeValue] = {"GPS", false};  // a number value, not a string
  Store(kIntervalValue, "8640000");               // 100 days do not fit two digits
  const StoredSettings stored = Load();
  EXPECT_FALSE(stored.portNumber.has_value());
  for (const auto& index : stored.lineIndex) EXPECT_FALSE(index.has_value());
  EXPECT_FALSE(stored.timeType.has_value());
  EXPECT_FALSE(stored.intervalSeconds.has_value());
  EXPECT_FALSE(stored.autoStart.has_value());
  EXPECT_EQ(store.openKeys, 0);

  for (const char* comm : {"COM", "CO", "COM0", "COMx"}) {
    Store(kCommValue, comm);
    Store(kBaudRateValue, "3");
    const StoredSettings again = Load();
    EXPECT_FALSE(again.portNumber.has_value()) << comm;
    EXPECT_EQ(again.lineIndex[0], 3) << comm << ": the rest is still read";
  }
}

TEST_F(SettingsTest, TextsOfTwentyCharactersOrMoreCountAsAbsent) {
  Store(kCommValue, "COM2");
  Store(kIntervalValue, "0000000000000000060");   // 19 characters: read
  Store(kBaudRateValue, "00000000000000000004");  // 20 characters: absent
  const StoredSettings stored = Load();
  EXPECT_EQ(stored.intervalSeconds, 60u);
  EXPECT_FALSE(stored.lineIndex[0].has_value());
}

TEST_F(SettingsTest, IntervalsUpTo99Days23Hours59MinutesAreRead) {
  Store(kCommValue, "COM2");
  for (const auto& [text, seconds] : std::vector<std::pair<const char*, int>>{
           {"0", 0}, {"113400", 113400}, {"59", 59}, {"8639999", 8639999}, {"8640000", -1},
           {"-60", -1}, {"60x", 60}}) {
    Store(kIntervalValue, text);
    const StoredSettings stored = Load();
    EXPECT_EQ(stored.intervalSeconds.has_value(), seconds >= 0) << text;
    if (seconds >= 0) {
      EXPECT_EQ(*stored.intervalSeconds, static_cast<std::uint32_t>(seconds));
    }
  }
}

TEST_F(SettingsTest, StartSavesWhatIsInForceAndItComesBackNormalised) {
  SettingsToSave saved;
  saved.intervalMs = 113400000;  // "00 30:90"
  saved.timeType = TimeType::Gps;
  saved.portNumber = 12;
  saved.line.parityIndex = 1;
  SaveSettings(store, saved);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"Interval=113400", "TimeType=GPS",
                                                "AutoStart=OFF", "Comm=COM12", "BaudRate=2",
                                                "DataBits=1", "Parity=1", "StopBits=0"}));
  const StoredSettings stored = Load();
  EXPECT_EQ(stored.intervalSeconds, 113400u);  // shown as "01 07:30"
  EXPECT_EQ(stored.portNumber, 12);
  EXPECT_EQ(stored.lineIndex[2], 1);
  EXPECT_EQ(stored.timeType, TimeType::Gps);
}

TEST_F(SettingsTest, AutoStartAloneIsWrittenOnAClick) {
  SaveAutoStart(store, true);
  SaveAutoStart(store, false);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"AutoStart=ON", "AutoStart=OFF"}));
}

TEST_F(SettingsTest, TheLatencyIsWholeMillisecondsFromMinus1000To1000OrNone) {
  EXPECT_EQ(LoadLatency(store), 0);  // absent
  for (const auto& [text, ms] : std::vector<std::pair<const char*, int>>{
           {"25", 25}, {"-1000", -1000}, {"+1000", 1000}, {"0", 0}, {"007", 7},
           {"1001", 0}, {"-1001", 0}, {"25ms", 0}, {" 25", 0}, {"2.5", 0}, {"-", 0},
           {"99999999999999999", 0}}) {
    Store(kLatencyValue, text);
    EXPECT_EQ(LoadLatency(store), ms) << text;
  }
  store.values[kLatencyValue] = {"25", false};  // a number value, not a string
  EXPECT_EQ(LoadLatency(store), 0);
}

TEST_F(SettingsTest, TheDisciplineIsOnAndTheProtocolNmeaOnlyWhenTheySaySo) {
  EXPECT_FALSE(LoadDiscipline(store));  // absent
  for (const auto& [text, on] : std::vector<std::pair<const char*, bool>>{
           {"ON", true}, {"OFF", false}, {"on", false}, {"ON ", false}, {"", false}}) {
    Store(kDisciplineValue, text);
    EXPECT_EQ(LoadDiscipline(store), on) << text;
  }
  SaveDiscipline(store, true);
  EXPECT_EQ(Writes().back(), "Discipline=ON");
  // The protocol the same way: NMEA only when it says so.
  for (const auto& [text, nmea] : std::vector<std::pair<const char*, bool>>{
           {"NMEA", true}, {"DARO", false}, {"nmea", false}, {"", false}}) {
    Store(kProtocolValue, text);
    EXPECT_EQ(LoadProtocol(store) == ReceiverProtocol::Nmea, nmea) << text;
  }
}

TEST_F(SettingsTest, TheLimitIsWholeSecondsAndAnythingElseIsSaid) {
  bool invalid = true;
  EXPECT_EQ(LoadMaxCorrection(store, &invalid), 0);  // absent: no limit, and nothing to say
  EXPECT_FALSE(invalid);
  for (const auto& [text, seconds, bad] : std::vector<std::tuple<const char*, int, bool>>{
           {"5", 5, false}, {"0", 0, false}, {"", 0, false}, {"5s", 0, true}, {"-5", 0, true},
           {"2147483648", 0, true}}) {
    Store(kMaxCorrectionValue, text);
    EXPECT_EQ(LoadMaxCorrection(store, &invalid), seconds) << text;
    EXPECT_EQ(invalid, bad) << text;
  }
}

TEST_F(SettingsTest, AStoreThatCannotBeOpenedReadsAsAFirstRunAndTakesNoWrite) {
  store.opens = false;
  StoredSettings stored;
  EXPECT_FALSE(LoadSettings(store, &stored));
  SaveSettings(store, kWindowDefaults);
  EXPECT_TRUE(store.log.empty());
}

TEST_F(SettingsTest, FailedWritesDoNotStopTheOthers) {
  struct FailingKey final : StoreKey {
    explicit FailingKey(std::vector<std::string>& l) : log(l) {}
    std::string ReadString(const char*) override { return ""; }
    void WriteString(const char* name, const char* text) override {
      log.push_back(std::string(name) + "=" + text);
      throw StoreError("refused");
    }
    std::vector<std::string>& log;
  };
  struct FailingStore final : SettingsStore {
    std::unique_ptr<StoreKey> OpenKey(StoreRoot, const char*) override {
      return std::make_unique<FailingKey>(attempts);
    }
    std::vector<std::string> attempts;
  } failing;
  SaveSettings(failing, kWindowDefaults);
  EXPECT_EQ(failing.attempts, kDefaults);
}

}  // namespace
}  // namespace clockagent::test
