// The main window's controls held in memory.
#include "update/view_state.h"

namespace clockagent {

ViewState::ViewState() {
  for (int i = 0; i < kControlCount; ++i) {
    index[i] = -1;
    enabled[i] = true;
  }
  const SerialLineSettings lists;  // the entries the lists start at
  index[Slot(Control::ComboBox_COM)] = lists.portIndex;
  index[Slot(Control::ComboBox_BaudRate)] = lists.baudRateIndex;
  index[Slot(Control::ComboBox_DataBits)] = lists.dataBitsIndex;
  index[Slot(Control::ComboBox_Parity)] = lists.parityIndex;
  index[Slot(Control::ComboBox_StopBits)] = lists.stopBitsIndex;
  index[Slot(Control::RadioGroup_TimeType)] = 0;   // UTC
  index[Slot(Control::RadioGroup_AutoStart)] = 1;  // OFF
  enabled[Slot(Control::SpeedButton_Stop)] = false;
  enabled[Slot(Control::Control_Stop)] = false;
  caption[static_cast<int>(Panel::Panel_OnOff)] = "Off";
  caption[static_cast<int>(Panel::Panel_TotalUpdates)] = "0/0";
}

}  // namespace clockagent
