// Loading and saving the settings over a store in memory.
#include <gtest/gtest.h>

#include <memory>

#include "settings/settings_store.h"
#include "tests/support/test_support.h"
#include "update/update_cycle.h"

namespace clockagent::test {
namespace {

class SettingsTest : public ::testing::Test, protected CycleRig {
 protected:
  SettingsTest() {
    link->port = &port;
    cycle.SetSettingsSaver(&settings);
  }

  int Index(Control c) const { return view.ItemIndex(c); }
  void Store(const char* name, const char* text) { store.values[name] = {text, true}; }
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const auto& entry : store.log) {
      if (entry.rfind("write ", 0) == 0) writes.push_back(entry.substr(6));
    }
    return writes;
  }

  MemoryStore store;
  NullPort port;
  Settings settings{store, view, cycle};
};

const std::vector<std::string> kDefaults = {
    "Interval=21600", "TimeType=UTC", "AutoStart=OFF", "Comm=COM1",
    "BaudRate=2",     "DataBits=1",   "Parity=0",      "StopBits=0"};

TEST_F(SettingsTest, FirstRunStoresTheDefaultsInOrder) {
  settings.LoadSettings();
  EXPECT_EQ(Writes(), kDefaults);
  EXPECT_TRUE(store.keyExists);
  EXPECT_EQ(store.openKeys, 0);
  EXPECT_EQ(Index(Control::ComboBox_COM), 0);
  EXPECT_EQ(Index(Control::ComboBox_BaudRate), 2);
  EXPECT_EQ(view.interval, "00 06:00");
  EXPECT_EQ(Index(Control::RadioGroup_AutoStart), 1);
}

TEST_F(SettingsTest, WithoutCommAllEightAreOverwrittenAndNoneRead) {
  Store("BaudRate", "4");
  Store("TimeType", "GPS");
  Store("AutoStart", "ON");
  Store("Interval", "60");
  settings.LoadSettings();
  EXPECT_EQ(store.log.front(), "read Comm");
  EXPECT_EQ(std::count_if(store.log.begin(), store.log.end(),
                          [](const std::string& e) { return e.rfind("read ", 0) == 0; }),
            1);
  EXPECT_EQ(Writes(), kDefaults);
  EXPECT_EQ(Index(Control::ComboBox_BaudRate), 2);
}

TEST_F(SettingsTest, StoredValuesReachTheControls) {
  Store("Comm", "XYZ5");  // the first three characters are never looked at
  Store("BaudRate", "4");
  Store("DataBits", "0");
  Store("Parity", "2");
  Store("StopBits", "1");
  Store("Interval", "90061");
  Store("TimeType", "GPS");
  Store("AutoStart", "OFF");
  settings.LoadSettings();
  EXPECT_EQ(Index(Control::ComboBox_COM), 4);
  EXPECT_EQ(Index(Control::ComboBox_BaudRate), 4);
  EXPECT_EQ(Index(Control::ComboBox_DataBits), 0);
  EXPECT_EQ(Index(Control::ComboBox_Parity), 2);
  EXPECT_EQ(Index(Control::ComboBox_StopBits), 1);
  EXPECT_EQ(view.interval, "01 01:01");
  EXPECT_EQ(Index(Control::RadioGroup_TimeType), 1);
  EXPECT_TRUE(Writes().empty());
  // Loading sets controls only.
  EXPECT_EQ(cycle.ActivePortNumber, 1);
  EXPECT_EQ(cycle.timing.ActiveTimeType, TimeType::Utc);
  EXPECT_EQ(timerUpdate.interval, kDefaultUpdateIntervalMs);
}

TEST_F(SettingsTest, ComparisonsAreCaseSensitive) {
  Store("Comm", "COM2");
  Store("TimeType", "utc");
  Store("AutoStart", "On");
  settings.LoadSettings();
  EXPECT_EQ(Index(Control::RadioGroup_TimeType), 1);
  EXPECT_EQ(Index(Control::RadioGroup_AutoStart), 1);
  EXPECT_TRUE(Writes().empty());  // OFF was already selected: no click
}

TEST_F(SettingsTest, AutoStartOnSelectedByLoadingIsWrittenBackAtOnce) {
  Store("Comm", "COM2");
  Store("AutoStart", "ON");
  settings.LoadSettings();
  EXPECT_EQ(Index(Control::RadioGroup_AutoStart), 0);
  EXPECT_EQ(Writes(), std::vector<std::string>{"AutoStart=ON"});
}

TEST_F(SettingsTest, WhatCannotBeAListEntryCountsAsAbsent) {
  Store("Comm", "COM21");
  Store("BaudRate", "7");
  Store("DataBits", "x");
  Store("Parity", "-1");
  Store("StopBits", "");
  store.values["TimeType"] = {"GPS", false};  // a number value, not a string
  Store("Interval", "8640000");               // 100 days do not fit two digits
  settings.LoadSettings();
  EXPECT_EQ(Index(Control::ComboBox_COM), 0);
  EXPECT_EQ(Index(Control::ComboBox_BaudRate), 2);
  EXPECT_EQ(Index(Control::ComboBox_DataBits), 1);
  EXPECT_EQ(Index(Control::ComboBox_Parity), 0);
  EXPECT_EQ(Index(Control::ComboBox_StopBits), 0);
  EXPECT_EQ(Index(Control::RadioGroup_TimeType), 0);
  EXPECT_EQ(view.interval, "00 06:00");
  EXPECT_EQ(store.openKeys, 0);

  for (const char* comm : {"COM", "CO", "COM0", "COMx"}) {
    Store("Comm", comm);
    Store("BaudRate", "3");
    view.index[static_cast<int>(Control::ComboBox_COM)] = 0;
    settings.LoadSettings();
    EXPECT_EQ(Index(Control::ComboBox_COM), 0) << comm;
    EXPECT_EQ(Index(Control::ComboBox_BaudRate), 3) << comm << ": the rest is still read";
    EXPECT_TRUE(Writes().empty()) << comm << " is stored, so this is no first run";
  }
}

TEST_F(SettingsTest, TextsOfTwentyCharactersOrMoreCountAsAbsent) {
  Store("Comm", "COM2");
  Store("Interval", "0000000000000000060");   // 19 characters: read
  Store("BaudRate", "00000000000000000004");  // 20 characters: absent
  settings.LoadSettings();
  EXPECT_EQ(view.interval, "00 00:01");
  EXPECT_EQ(Index(Control::ComboBox_BaudRate), 2);
}

TEST_F(SettingsTest, IntervalsShowAsDaysHoursAndMinutes) {
  Store("Comm", "COM2");
  for (const auto& [stored, shown] : std::vector<std::pair<const char*, const char*>>{
           {"0", "00 00:00"}, {"113400", "01 07:30"}, {"59", "00 00:00"},
           {"8639999", "99 23:59"}, {"4294967", "49 17:02"}}) {
    Store("Interval", stored);
    settings.LoadSettings();
    EXPECT_EQ(view.interval, shown) << stored;
  }
}

TEST_F(SettingsTest, StartSavesWhatIsInForceAndItComesBackNormalised) {
  view.interval = "00 30:90";
  view.index[static_cast<int>(Control::ComboBox_COM)] = 11;
  view.index[static_cast<int>(Control::ComboBox_Parity)] = 1;
  view.index[static_cast<int>(Control::RadioGroup_TimeType)] = 1;
  cycle.StartUpdates();
  EXPECT_EQ(Writes(), (std::vector<std::string>{"Interval=113400", "TimeType=GPS",
                                                "AutoStart=OFF", "Comm=COM12", "BaudRate=2",
                                                "DataBits=1", "Parity=1", "StopBits=0"}));

  FakeView fresh;
  Settings again{store, fresh, cycle};
  again.LoadSettings();
  EXPECT_EQ(fresh.interval, "01 07:30");
  EXPECT_EQ(fresh.ItemIndex(Control::ComboBox_COM), 11);
  EXPECT_EQ(fresh.ItemIndex(Control::ComboBox_Parity), 1);
  EXPECT_EQ(fresh.ItemIndex(Control::RadioGroup_TimeType), 1);
}

TEST_F(SettingsTest, AutoStartClickWritesOnlyAutoStart) {
  view.index[static_cast<int>(Control::RadioGroup_AutoStart)] = 0;
  view.index[static_cast<int>(Control::ComboBox_BaudRate)] = 4;
  settings.RadioGroup_AutoStartClick();
  view.index[static_cast<int>(Control::RadioGroup_AutoStart)] = 1;
  settings.RadioGroup_AutoStartClick();
  EXPECT_EQ(Writes(), (std::vector<std::string>{"AutoStart=ON", "AutoStart=OFF"}));
}

TEST_F(SettingsTest, AStoreThatCannotBeOpenedLeavesTheDefaults) {
  store.opens = false;
  settings.LoadSettings();
  cycle.StartUpdates();
  EXPECT_TRUE(store.log.empty());
  EXPECT_EQ(Index(Control::ComboBox_BaudRate), 2);
  EXPECT_EQ(view.interval, "00 06:00");
  EXPECT_TRUE(timerUpdate.enabled);  // the program runs on with its defaults
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
  Settings s{failing, view, cycle};
  s.SaveSettings();
  EXPECT_EQ(failing.attempts, kDefaults);
}

}  // namespace
}  // namespace clockagent::test
