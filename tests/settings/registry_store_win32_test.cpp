// The settings in the real registry, under wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "settings/registry_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine.h"

namespace clockagent::test {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UnderWine()) << "never run this on Windows itself: it rewrites the program's key";
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
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
};

TEST_F(RegistryTest, AFirstRunCreatesTheKeyWithTheEightDefaults) {
  StoredSettings stored;
  EXPECT_FALSE(LoadSettings(*store, &stored));
  SaveSettings(*store, SettingsToSave{21600000, TimeType::Utc, false, 1, SerialLineSettings{}});
  EXPECT_EQ(Stored(kIntervalValue), "REG_SZ:21600");
  EXPECT_EQ(Stored(kTimeTypeValue), "REG_SZ:UTC");
  EXPECT_EQ(Stored(kAutoStartValue), "REG_SZ:OFF");
  EXPECT_EQ(Stored(kCommValue), "REG_SZ:COM1");
  EXPECT_EQ(Stored(kBaudRateValue), "REG_SZ:2");
  EXPECT_EQ(Stored(kDataBitsValue), "REG_SZ:1");
  EXPECT_EQ(Stored(kParityValue), "REG_SZ:0");
  EXPECT_EQ(Stored(kStopBitsValue), "REG_SZ:0");
}

TEST_F(RegistryTest, StoredTextsAreReadAndOtherTypesAreAbsent) {
  PutText(kCommValue, "XYZ5");
  PutText(kTimeTypeValue, "utc");
  const DWORD three = 3;
  Put(kBaudRateValue, REG_DWORD, &three, sizeof three);
  PutText(kParityValue, "2", REG_EXPAND_SZ);  // read as it stands
  PutText(kStopBitsValue, "");                // empty: absent
  StoredSettings stored;
  ASSERT_TRUE(LoadSettings(*store, &stored));
  EXPECT_EQ(stored.portNumber, 5);
  EXPECT_EQ(stored.timeType, TimeType::Gps);
  EXPECT_FALSE(stored.lineIndex[0].has_value());
  EXPECT_EQ(stored.lineIndex[2], 2);
  EXPECT_FALSE(stored.lineIndex[3].has_value());
  EXPECT_EQ(Stored(kBaudRateValue), "type 4");  // nothing was written over it
}

TEST_F(RegistryTest, AnIntervalSavedAtStartComesBackNormalised) {
  SettingsToSave saved;
  saved.intervalMs = 113400000;  // "00 30:90"
  SaveSettings(*store, saved);
  EXPECT_EQ(Stored(kIntervalValue), "REG_SZ:113400");
  StoredSettings stored;
  ASSERT_TRUE(LoadSettings(*store, &stored));
  EXPECT_EQ(stored.intervalSeconds, 113400u);  // "01 07:30"
}

TEST_F(RegistryTest, AutoStartIsWrittenOnItsOwn) {
  PutText(kBaudRateValue, "4");
  SaveAutoStart(*store, true);
  EXPECT_EQ(Stored(kAutoStartValue), "REG_SZ:ON");
  EXPECT_EQ(Stored(kBaudRateValue), "REG_SZ:4");
}

}  // namespace
}  // namespace clockagent::test
