// The eight persistent settings: their text forms, and loading and saving them through a store of
// named string values (the registry on Windows).
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

#include "update/main_view.h"
#include "update/update_cycle.h"

namespace clockagent {

enum class StoreRoot { LocalMachine };
constexpr char kSettingsKey[] = "Software\\Velmora\\ClockAgent";

// The store's own error: a value of the wrong type, or a write that failed.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One open key. Destroying it closes the key.
class StoreKey {
 public:
  virtual ~StoreKey() = default;
  // A missing value reads as empty text; a value that is not a string throws StoreError.
  virtual std::string ReadString(const char* name) = 0;
  // Writes a string value; throws StoreError on failure.
  virtual void WriteString(const char* name, const char* text) = 0;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Opens the key at `path` below `root` with full access, creating it when missing. Null when
  // it can be neither opened nor created.
  virtual std::unique_ptr<StoreKey> OpenKey(StoreRoot root, const char* path) = 0;
};

// A stored text holds at most 19 characters.
constexpr std::size_t kSettingTextSize = 20;

// True, with the text in `destination`, when the value exists as a string of 1 to 19 characters.
// False in every other case, `destination` untouched. The key is opened and closed for the call.
bool ReadSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                 char (&destination)[kSettingTextSize]);

// Writes a string value; failures are not reported.
void WriteSetting(SettingsStore& store, StoreRoot root, const char* keyPath, const char* name,
                  const char* text);

// The settings of the main window's controls under kSettingsKey below the local machine.
class Settings final : public SettingsSaver {
 public:
  Settings(SettingsStore& store, MainView& view, UpdateCycle& cycle)
      : store_(store), view_(view), cycle_(cycle) {}

  // Reads the stored settings into the controls; on a first run stores the defaults instead.
  void LoadSettings();
  // Writes all eight values, in their fixed order.
  void SaveSettings() override;
  // The Auto Start radio group was clicked: store the choice at once.
  void RadioGroup_AutoStartClick();

 private:
  bool Read(const char* name, char (&text)[kSettingTextSize]);
  void Write(const char* name, const char* text);

  SettingsStore& store_;
  MainView& view_;
  UpdateCycle& cycle_;
};

}  // namespace clockagent
