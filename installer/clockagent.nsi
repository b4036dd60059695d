; The ClockAgent installer, built with makensis on any platform:
;   makensis -DBUILD=<the build folder, with ClockAgent.exe and clockagent.com> -DOUTFILE=<setup.exe> installer/clockagent.nsi
; Silent install: setup.exe /S [/LOGON]   Silent uninstall: Uninstall.exe /S [/REMOVESETTINGS]

Target amd64-unicode  ; a 64-bit installer for a 64-bit program
!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "ClockAgent"
!define COMPANY "Velmora"
!include "${BUILD}\version.nsh"  ; VERSION_TEXT and VERSION_NUMBER, written by the build
!define SETTINGS_KEY "Software\Velmora\ClockAgent"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ClockAgent"
!define TASK "ClockAgent"
!define MAIN_WINDOW_CLASS "TForm_Main"
!define EXIT_COMMAND 204  ; the main window's Exit command

Name "${PRODUCT} ${VERSION_TEXT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${COMPANY}\${PRODUCT}"
RequestExecutionLevel admin  ; Program Files, the local-machine settings and the logon task
SetCompressor /SOLID lzma

VIProductVersion "${VERSION_NUMBER}"
VIFileVersion "${VERSION_NUMBER}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION_TEXT} setup"
VIAddVersionKey "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey "ProductVersion" "${VERSION_TEXT}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 ${COMPANY}"

!define MUI_ICON "..\ui\pictures\cawhitesm.ico"
!define MUI_UNICON "..\ui\pictures\cawhitesm.ico"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running ClockAgent holds its files: ask it to exit, as its own Exit command does.
!macro StopRunningProgram
  FindWindow $0 "${MAIN_WINDOW_CLASS}" ""
  ${If} $0 <> 0
    SendMessage $0 ${WM_COMMAND} ${EXIT_COMMAND} 0
    Sleep 1500
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LOGON" $R1
  ${IfNot} ${Errors}
    SectionSetFlags 1 ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section "ClockAgent (required)" SecProgram
  SectionIn RO
  !insertmacro StopRunningProgram
  SetOutPath "$INSTDIR"
  File "${BUILD}\ClockAgent.exe"
  File "${BUILD}\clockagent.com"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\ClockAgent.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ClockAgent.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Setting the clock needs an administrator's rights. A task that runs at logon with the highest
; rights starts ClockAgent elevated and without a prompt; an entry under Run would start it with
; the user's filtered rights, and every update would end in "Error - System Update".
Section /o "Start ClockAgent at logon" SecLogon
  nsExec::ExecToLog 'schtasks /Create /F /SC ONLOGON /RL HIGHEST /TN "${TASK}" /TR "\"$INSTDIR\ClockAgent.exe\""'
  Pop $0
SectionEnd

Function un.onInit
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    SectionSetFlags 1 ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section "un.ClockAgent" UnSecProgram
  SectionIn RO
  !insertmacro StopRunningProgram
  nsExec::ExecToLog 'schtasks /Delete /F /TN "${TASK}"'
  Pop $0
  Delete /REBOOTOK "$INSTDIR\ClockAgent.exe"
  Delete /REBOOTOK "$INSTDIR\clockagent.com"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${COMPANY}"
SectionEnd

Section /o "un.Remove the settings" UnSecSettings
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${COMPANY}"
SectionEnd
