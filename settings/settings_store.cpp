// Loading and saving the settings.
#include "settings/settings_store.h"

#include <cstdio>
#include <cstring>

#include "update/interval_text.h"

namespace clockagent {
namespace {

// A stored number as "%d" reads it, in range [0, count); false for anything else, which then
// counts as absent so that a list never gets a selection it does not have.
bool ReadIndex(const char* text, int count, int* index) {
  std::int64_t value = 0;
  if (!ScanDecimal(text, &value) || value < 0 || value >= count) return false;
  *index = static_cast<int>(value);
  return true;
}

struct StoredList {
  const char* name;
  Control control;
  int entries;
};

const StoredList kLineLists[] = {
    {"BaudRate", Control::ComboBox_BaudRate, 5},
    {"DataBits", Control::ComboBox_DataBits, 2},
    {"Parity", Control::ComboBox_Parity, 3},
    {"StopBits", Control::ComboBox_StopBits, 2},
};

// The interval field holds two digits of days.
constexpr std::int64_t kLongestShownInterval = 100 * 86400 - 1;

}  // namespace

bool ReadSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                 char (&destination)[kSettingTextSize]) {
  try {
    const std::unique_ptr<StoreKey> key = store.OpenKey(root, keyPath);
    if (key == nullptr) return false;
    const std::string text = key->ReadString(name);
    // Empty counts as absent, and so does a text too long to be one the program wrote.
    if (text.empty() || text.size() >= kSettingTextSize) return false;
    std::memcpy(destination, text.c_str(), text.size() + 1);
    return true;
  } catch (const StoreError&) {
    return false;
  }
}

void WriteSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                  const char* text) {
  try {
    const std::unique_ptr<StoreKey> key = store.OpenKey(root, keyPath);
    if (key != nullptr) key->WriteString(name, text);
  } catch (const StoreError&) {
  }
}

bool Settings::Read(const char* name, char (&text)[kSettingTextSize]) {
  return ReadSetting(store_, StoreRoot::LocalMachine, kSettingsKey, name, text);
}

void Settings::Write(const char* name, const char* text) {
  WriteSetting(store_, StoreRoot::LocalMachine, kSettingsKey, name, text);
}

void Settings::LoadSettings() {
  char text[kSettingTextSize];
  if (!Read("Comm", text)) {  // a first run: store the defaults, read nothing
    SaveSettings();
    return;
  }
  int index = 0;
  // The first three characters ("COM") are skipped unexamined.
  if (std::strlen(text) > 3 && ReadIndex(text + 3, kPortCount + 1, &index) && index >= 1) {
    view_.SetItemIndex(Control::ComboBox_COM, index - 1);
  }
  for (const StoredList& list : kLineLists) {
    if (Read(list.name, text) && ReadIndex(text, list.entries, &index)) {
      view_.SetItemIndex(list.control, index);
    }
  }
  if (Read("Interval", text)) {
    const char* p = text;
    std::int64_t seconds = 0;
    if (ScanDecimal(p, &seconds) && seconds >= 0 && seconds <= kLongestShownInterval) {
      char interval[kIntervalTextSize];
      FormatIntervalText(static_cast<std::uint32_t>(seconds), interval);
      view_.SetIntervalText(interval);
    }
  }
  if (Read("TimeType", text)) {
    view_.SetItemIndex(Control::RadioGroup_TimeType, std::strcmp(text, "UTC") == 0 ? 0 : 1);
  }
  if (Read("AutoStart", text)) {
    const int autoStart = std::strcmp(text, "ON") == 0 ? 0 : 1;
    if (autoStart != view_.ItemIndex(Control::RadioGroup_AutoStart)) {
      view_.SetItemIndex(Control::RadioGroup_AutoStart, autoStart);
      RadioGroup_AutoStartClick();  // as a change of selection clicks the group
    }
  }
}

void Settings::SaveSettings() {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(cycle_.Timer_Update.Interval() / 1000));
  Write("Interval", text);
  Write("TimeType", cycle_.timing.ActiveTimeType == TimeType::Utc ? "UTC" : "GPS");
  Write("AutoStart", view_.ItemIndex(Control::RadioGroup_AutoStart) == 0 ? "ON" : "OFF");
  std::snprintf(text, sizeof text, "COM%d", cycle_.ActivePortNumber);
  Write("Comm", text);
  for (const StoredList& list : kLineLists) {
    std::snprintf(text, sizeof text, "%d", view_.ItemIndex(list.control));
    Write(list.name, text);
  }
}

void Settings::RadioGroup_AutoStartClick() {
  Write("AutoStart", view_.ItemIndex(Control::RadioGroup_AutoStart) == 0 ? "ON" : "OFF");
}

}  // namespace clockagent
