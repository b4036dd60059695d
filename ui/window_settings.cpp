// The main window's settings and its controls: the lists, radio groups and interval that hold
// them, read as the cycle's choices, stored at Start and shown again from the registry.
#include "ui/main_window.h"

#include <iterator>
#include "ui/mask_edit.h"
#include "update/interval_text.h"

namespace clockagent::ui {
namespace {

// The drop-down lists of the line settings, in the order of kLineLists.
constexpr int kLineListControls[] = {ID_ComboBox_BaudRate, ID_ComboBox_DataBits, ID_ComboBox_Parity,
                                     ID_ComboBox_StopBits};

bool ButtonsOf(int group, int* first, int* second) {
  if (group == ID_RadioGroup_TimeType) {
    *first = ID_TimeType_UTC, *second = ID_TimeType_GPS;
  } else if (group == ID_RadioGroup_AutoStart) {
    *first = ID_AutoStart_ON, *second = ID_AutoStart_OFF;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int TForm_Main::ItemIndex(int id) const {
  int first = 0, second = 0;
  if (ButtonsOf(id, &first, &second)) {
    if (SendMessageA(Item(first), BM_GETCHECK, 0, 0) == BST_CHECKED) return 0;
    if (SendMessageA(Item(second), BM_GETCHECK, 0, 0) == BST_CHECKED) return 1;
    return -1;
  }
  return static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0));
}

void TForm_Main::SetItemIndex(int id, int index) {
  int first = 0, second = 0;
  if (ButtonsOf(id, &first, &second)) {
    SendMessageA(Item(first), BM_SETCHECK, index == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(Item(second), BM_SETCHECK, index == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    if (id == ID_RadioGroup_AutoStart) autoStartIndex_ = index;
    return;
  }
  SendMessageA(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void TForm_Main::SetEnabled(int id, bool enabled) {
  if (id >= ID_Control_Start) {  // a menu item
    SetMenuEnabled(id, enabled);
    DrawMenuBar(hwnd_);
    return;
  }
  EnableWindow(Item(id), enabled ? TRUE : FALSE);
  int first = 0, second = 0;
  if (ButtonsOf(id, &first, &second)) {
    EnableWindow(Item(first), enabled ? TRUE : FALSE);
    EnableWindow(Item(second), enabled ? TRUE : FALSE);
  }
}

void TForm_Main::SetCaption(int id, const char* text) { SetWindowTextA(Item(id), text); }

void TForm_Main::ShowDefaultSettings() {
  SetItemIndex(ID_ComboBox_COM, 0);
  const SerialLineSettings lists;
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    SetItemIndex(kLineListControls[i], lists.*kLineLists[i].index);
  }
  SetItemIndex(ID_ComboBox_Pulse, static_cast<int>(PulseLine::None));
  SendMessageA(Item(ID_CheckBox_Discipline), BM_SETCHECK, BST_UNCHECKED, 0);
  SetItemIndex(ID_ComboBox_Protocol, static_cast<int>(ReceiverProtocol::Daro));
}

CycleChoices TForm_Main::Choices() {
  CycleChoices choices;
  choices.port.number = ItemIndex(ID_ComboBox_COM) + 1;
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    choices.line.*kLineLists[i].index = ItemIndex(kLineListControls[i]);
  }
  choices.timeType = static_cast<TimeType>(ItemIndex(ID_RadioGroup_TimeType));
  choices.intervalMs = IntervalMilliseconds(IntervalFieldText(Item(ID_MaskEdit_Interval)).c_str());
  choices.latencyMs = LoadLatency(*store_);
  const int pulse = ItemIndex(ID_ComboBox_Pulse);
  choices.pulse = pulse > 0 ? static_cast<PulseLine>(pulse) : PulseLine::None;
  choices.discipline = SendMessageA(Item(ID_CheckBox_Discipline), BM_GETCHECK, 0, 0) == BST_CHECKED;
  choices.protocol = ItemIndex(ID_ComboBox_Protocol) == 1 ? ReceiverProtocol::Nmea : ReceiverProtocol::Daro;
  bool invalid = false;
  choices.maxCorrectionSeconds = LoadMaxCorrection(*store_, &invalid);
  if (invalid && !maxCorrectionWarned_) {  // once a run, in the hint bar and the Event Log
    maxCorrectionWarned_ = true;
    ShowNotice(kBadMaxCorrectionWarning);
    recorder_.Note(kBadMaxCorrectionWarning);
  }
  return choices;
}

void TForm_Main::SaveSettings() {
  const UpdateCycle& cycle = engine_->cycle;
  SettingsToSave settings;
  settings.intervalMs = cycle.UpdateInterval();
  settings.timeType = cycle.ActiveTimeType();
  settings.autoStart = ItemIndex(ID_RadioGroup_AutoStart) == 0;
  settings.portNumber = cycle.ActivePort().number;
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    settings.line.*kLineLists[i].index = ItemIndex(kLineListControls[i]);
  }
  clockagent::SaveSettings(*store_, settings);
  const CycleChoices choices = Choices();
  SavePulse(*store_, choices.pulse);
  SaveDiscipline(*store_, choices.discipline);
  SaveProtocol(*store_, choices.protocol);
}

void TForm_Main::LoadSettings() {
  StoredSettings stored;
  if (!clockagent::LoadSettings(*store_, &stored)) {  // a first run: store the defaults
    SaveSettings();
    return;
  }
  if (stored.portNumber) SetItemIndex(ID_ComboBox_COM, *stored.portNumber - 1);
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    if (stored.lineIndex[i]) SetItemIndex(kLineListControls[i], *stored.lineIndex[i]);
  }
  if (stored.intervalSeconds) {
    char interval[kIntervalTextSize];
    FormatIntervalText(*stored.intervalSeconds, interval);
    SetIntervalFieldText(Item(ID_MaskEdit_Interval), interval);
  }
  SetItemIndex(ID_ComboBox_Pulse, static_cast<int>(LoadPulse(*store_)));
  SendMessageA(Item(ID_CheckBox_Discipline), BM_SETCHECK,
               LoadDiscipline(*store_) ? BST_CHECKED : BST_UNCHECKED, 0);
  SetItemIndex(ID_ComboBox_Protocol, static_cast<int>(LoadProtocol(*store_)));
  if (stored.timeType) SetItemIndex(ID_RadioGroup_TimeType, *stored.timeType == TimeType::Utc ? 0 : 1);
  if (stored.autoStart && (*stored.autoStart ? 0 : 1) != ItemIndex(ID_RadioGroup_AutoStart)) {
    SetItemIndex(ID_RadioGroup_AutoStart, *stored.autoStart ? 0 : 1);
    RadioGroup_AutoStartClick();  // as a change of selection clicks the group
  }
}

void TForm_Main::ShowPortSettings(int portNumber, const SerialLineSettings& line) {
  SetItemIndex(ID_ComboBox_COM, portNumber - 1);
  for (std::size_t i = 0; i < std::size(kLineLists); ++i) {
    SetItemIndex(kLineListControls[i], line.*kLineLists[i].index);
  }
}

void TForm_Main::RadioGroup_AutoStartClick() {
  SaveAutoStart(*store_, ItemIndex(ID_RadioGroup_AutoStart) == 0);
}

}  // namespace clockagent::ui
