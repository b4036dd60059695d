// Fuzzes loading the settings from a store holding anything: any value names, types, lengths and
// texts. Whatever is stored, every list keeps a selection it has and the interval field shows
// "dd hh:mm".
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "settings/settings_store.h"
#include "update/update_cycle.h"
#include "update/view_state.h"

namespace {

using namespace clockagent;

class FuzzStore final : public SettingsStore {
 public:
  struct Value {
    std::string text;
    bool isString;
  };
  std::unique_ptr<StoreKey> OpenKey(StoreRoot, const char*) override {
    if (!opens) return nullptr;
    return std::make_unique<Key>(*this);
  }
  bool opens = true;
  std::map<std::string, Value> values;

 private:
  class Key final : public StoreKey {
   public:
    explicit Key(FuzzStore& store) : store_(store) {}
    std::string ReadString(const char* name) override {
      const auto found = store_.values.find(name);
      if (found == store_.values.end()) return "";
      if (!found->second.isString) throw StoreError("not a string");
      return found->second.text;
    }
    void WriteString(const char* name, const char* text) override {
      store_.values[name] = Value{text, true};
    }

   private:
    FuzzStore& store_;
  };
};

const char* const kNames[] = {"Comm",     "BaudRate", "DataBits",  "Parity",
                              "StopBits", "Interval", "TimeType",  "AutoStart"};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Entries: a byte for the name (one of the eight or an odd one) and the type, a length byte,
  // then the text.
  FuzzStore store;
  std::size_t at = 0;
  if (size > 0) store.opens = (data[at++] & 7) != 0;
  while (at + 2 <= size) {
    const std::uint8_t head = data[at++];
    const std::size_t length = data[at++] % 64;
    const std::size_t n = length < size - at ? length : size - at;
    std::string text(reinterpret_cast<const char*>(data + at), n);
    at += n;
    const std::size_t which = head & 15;
    const std::string name = which < 8 ? kNames[which] : "Extra" + std::to_string(which);
    store.values[name] = FuzzStore::Value{text, (head & 0x80) == 0};
  }

  auto link = std::make_unique<ReceiverLink>();
  ViewState view;
  TimerState timerUpdate{kDefaultUpdateIntervalMs};
  TimerState timerDaro{kPollIntervalMs, true};
  DryRunClockSetter clock;
  UpdateCycle cycle{*link, view, timerUpdate, timerDaro, clock};
  Settings settings{store, view, cycle};
  settings.LoadSettings();

  const struct {
    Control control;
    int entries;
  } lists[] = {{Control::ComboBox_COM, 20},     {Control::ComboBox_BaudRate, 5},
               {Control::ComboBox_DataBits, 2}, {Control::ComboBox_Parity, 3},
               {Control::ComboBox_StopBits, 2}, {Control::RadioGroup_TimeType, 2},
               {Control::RadioGroup_AutoStart, 2}};
  for (const auto& list : lists) {
    const int index = view.ItemIndex(list.control);
    Check(index >= 0 && index < list.entries);
  }
  const std::string& interval = view.interval;
  Check(interval.size() == 8 && interval[2] == ' ' && interval[5] == ':');
  for (int i : {0, 1, 3, 4, 6, 7}) Check(interval[static_cast<std::size_t>(i)] >= '0' && interval[static_cast<std::size_t>(i)] <= '9');
  return 0;
}
