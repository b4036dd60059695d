// Fuzzes loading the settings from a store holding anything: any value names, types, lengths and
// texts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "settings/settings_store.h"
#include "update/interval_text.h"

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

const char* const kNames[] = {kCommValue,     kBaudRateValue, kDataBitsValue, kParityValue,
                              kStopBitsValue, kIntervalValue, kTimeTypeValue, kAutoStartValue};

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

  StoredSettings stored;
  if (!LoadSettings(store, &stored)) return 0;  // a first run: nothing was read

  // Whatever is stored, what is read is a list entry each list has, and an interval the field
  // shows as "dd hh:mm".
  if (stored.portNumber) Check(*stored.portNumber >= 1 && *stored.portNumber <= kPortCount);
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    if (stored.lineIndex[i]) {
      Check(*stored.lineIndex[i] >= 0 && *stored.lineIndex[i] < kLineLists[i].count);
    }
  }
  if (stored.intervalSeconds) {
    char interval[kIntervalTextSize];
    FormatIntervalText(*stored.intervalSeconds, interval);
    Check(std::strlen(interval) == 8 && interval[2] == ' ' && interval[5] == ':');
    for (int i : {0, 1, 3, 4, 6, 7}) Check(interval[i] >= '0' && interval[i] <= '9');
  }
  return 0;
}
