// The settings in the real registry, under wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "settings/registry_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine.h"

namespace clockagent::test {
namespace {

class RegistryTest : public ::testing::Test, protected CycleRig {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UnderWine()) << "never run this on Windows itself: it rewrites the program's key";
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    link->port = &port;
  }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey); }

  static std::string Stored(const char* name) { return StoredSetting(name); }
  static void Put(const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_TRUE(PutSetting(name, type, data, size)) << name;
  }
  static void PutText(const char* name, const char* text, DWORD type = REG_SZ) {
    ASSERT_TRUE(PutSettingText(name, text, type)) << name;
  }

  std::unique_ptr<SettingsStore> store = NewRegistryStore();
  NullPort port;
  Settings settings{*store, view, cycle};
};

TEST_F(RegistryTest, AFirstRunCreatesTheKeyWithTheEightDefaults) {
  settings.LoadSettings();
  EXPECT_EQ(Stored("Interval"), "REG_SZ:21600");
  EXPECT_EQ(Stored("TimeType"), "REG_SZ:UTC");
  EXPECT_EQ(Stored("AutoStart"), "REG_SZ:OFF");
  EXPECT_EQ(Stored("Comm"), "REG_SZ:COM1");
  EXPECT_EQ(Stored("BaudRate"), "REG_SZ:2");
  EXPECT_EQ(Stored("DataBits"), "REG_SZ:1");
  EXPECT_EQ(Stored("Parity"), "REG_SZ:0");
  EXPECT_EQ(Stored("StopBits"), "REG_SZ:0");
}

TEST_F(RegistryTest, StoredTextsAreReadAndOtherTypesAreAbsent) {
  PutText("Comm", "XYZ5");
  PutText("TimeType", "utc");
  const DWORD three = 3;
  Put("BaudRate", REG_DWORD, &three, sizeof three);
  PutText("Parity", "2", REG_EXPAND_SZ);  // read as it stands
  PutText("StopBits", "");               // empty: absent
  settings.LoadSettings();
  EXPECT_EQ(view.ItemIndex(Control::ComboBox_COM), 4);
  EXPECT_EQ(view.ItemIndex(Control::RadioGroup_TimeType), 1);
  EXPECT_EQ(view.ItemIndex(Control::ComboBox_BaudRate), 2);
  EXPECT_EQ(view.ItemIndex(Control::ComboBox_Parity), 2);
  EXPECT_EQ(view.ItemIndex(Control::ComboBox_StopBits), 0);
  EXPECT_EQ(Stored("BaudRate"), "type 4");  // nothing was written over it
}

TEST_F(RegistryTest, AnIntervalSavedAtStartComesBackNormalised) {
  view.interval = "00 30:90";
  cycle.SetSettingsSaver(&settings);
  cycle.StartUpdates();
  EXPECT_EQ(Stored("Interval"), "REG_SZ:113400");

  FakeView fresh;
  Settings again{*store, fresh, cycle};
  again.LoadSettings();
  EXPECT_EQ(fresh.interval, "01 07:30");
}

TEST_F(RegistryTest, AutoStartIsWrittenOnItsOwn) {
  settings.LoadSettings();
  PutText("BaudRate", "4");
  view.index[static_cast<int>(Control::RadioGroup_AutoStart)] = 0;
  view.index[static_cast<int>(Control::ComboBox_BaudRate)] = 1;
  settings.RadioGroup_AutoStartClick();
  EXPECT_EQ(Stored("AutoStart"), "REG_SZ:ON");
  EXPECT_EQ(Stored("BaudRate"), "REG_SZ:4");
}

}  // namespace
}  // namespace clockagent::test
