; The ClockAgent installer, built with makensis on any platform:
;   makensis -DBUILD=<the build folder, with ClockAgent.exe and clockagent.com> -DOUTFILE=<setup.exe> installer/clockagent.nsi
; Silent install: setup.exe /S [/LOGON] [/SERVICE | /W32TIME] [/NOSYNC]
; Silent uninstall: Uninstall.exe /S [/REMOVESETTINGS]

Target amd64-unicode  ; a 64-bit installer for a 64-bit program
!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

; PRODUCT, COMPANY, VERSION_TEXT, VERSION_NUMBER and SETTINGS_KEY, written by the
; build from CMakeLists.txt.
!include "${BUILD}\version.nsh"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define TASK "${PRODUCT}"
!define PROGRAM "${PRODUCT}.exe"  ; the window program
!define MAIN_WINDOW_CLASS "TForm_Main"
!define EXIT_COMMAND 204  ; the main window's Exit command
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define LAYERS_KEY "Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers"
!define EVENTLOG_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\${PRODUCT}"
!define W32TIME_KEY "SYSTEM\CurrentControlSet\Services\W32Time\Parameters"
!define W32TIME_KEPT "WindowsTimeType"  ; under the settings key: Windows Time's Type before us
!define PROVIDER_DLL "ClockAgentTimeProvider.dll"
!define PROVIDER_KEY "SYSTEM\CurrentControlSet\Services\W32Time\TimeProviders\${PRODUCT}"

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

; A running ClockAgent holds its files: ask each of its windows to exit, as its own Exit command
; does. Posted, never sent: a program that hangs must not hang the installer; it is given a few
; seconds to go.
!macro StopRunningProgram
  StrCpy $1 0
  StrCpy $3 0  ; how many were asked
  ${Do}
    FindWindow $1 "${MAIN_WINDOW_CLASS}" "" 0 $1
    ${IfThen} $1 = 0 ${|} ${ExitDo} ${|}
    System::Call 'user32::PostMessage(p r1, i ${WM_COMMAND}, p ${EXIT_COMMAND}, p 0)'
    IntOp $3 $3 + 1
  ${Loop}
  ${If} $3 <> 0
    ${For} $2 1 20
      FindWindow $1 "${MAIN_WINDOW_CLASS}"
      ${IfThen} $1 = 0 ${|} ${Break} ${|}
      Sleep 250
    ${Next}
    Sleep 500  ; its process ends after its window
  ${EndIf}
!macroend


Section "${PRODUCT} (required)" SecProgram
  SectionIn RO
  !insertmacro StopRunningProgram
  SetOutPath "$INSTDIR"
  File "${BUILD}\${PROGRAM}"
  File "${BUILD}\clockagent.com"
  ; Windows Time keeps its provider loaded while it runs: stopped for the new one, started after.
  ReadRegStr $0 HKLM "${PROVIDER_KEY}" "DllName"
  ${If} $0 != ""
    nsExec::ExecToLog '"$SYSDIR\net.exe" stop w32time'
    Pop $1
  ${EndIf}
  File "${BUILD}\${PROVIDER_DLL}"
  ${If} $0 != ""
    nsExec::ExecToLog '"$SYSDIR\net.exe" start w32time'
    Pop $1
  ${EndIf}
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The Event Log source, its messages in the console tool (which the service runs as).
  WriteRegExpandStr HKLM "${EVENTLOG_KEY}" "EventMessageFile" "$INSTDIR\clockagent.com"
  WriteRegDWORD HKLM "${EVENTLOG_KEY}" "TypesSupported" 7
SectionEnd


; The service sets the clock with nobody logged on; the window program is then only its front end
; and needs no rights: it starts at logon from a Run entry, as the user who logs on.
Section /o "Run as a service (keeps the clock set when nobody is logged on)" SecService
  nsExec::ExecToLog '"$INSTDIR\clockagent.com" service install'
  Pop $0
  ; Without its service the clock would go unset while everyone believed it set: the installation
  ; fails, and a silent one says so in its exit code.
  ${If} $0 != "0"
    MessageBox MB_ICONSTOP "The ${PRODUCT} service could not be installed (clockagent service install: $0). The installation has failed." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM}"'
  ; Started so, it asks for no elevation (it asks an administrator only for a settings change).
  WriteRegStr HKLM "${LAYERS_KEY}" "$INSTDIR\${PROGRAM}" "~ RUNASINVOKER"
SectionEnd

; Windows Time keeps the clock from the receiver through the provider: for a domain member or a
; machine serving NTP, which must keep Windows Time. Not with the service, which would set the
; clock beside it (clockagent w32time install refuses while the service runs its updates).
Section /o "Feed Windows Time with the receiver's time (a time provider)" SecW32Time
  ${If} ${SectionIsSelected} ${SecService}
    MessageBox MB_ICONSTOP "Windows Time's provider and the ${PRODUCT} service would both set the clock: choose one. The installation has failed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  nsExec::ExecToLog '"$INSTDIR\clockagent.com" w32time install'
  Pop $0
  ${If} $0 != "0"
    MessageBox MB_ICONSTOP "The time provider could not be registered with Windows Time (clockagent w32time install: $0). The installation has failed." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
SectionEnd

; Setting the clock needs an administrator's rights. A task that runs at logon with the highest
; rights starts ClockAgent elevated and without a prompt; an entry under Run would start it with
; the user's filtered rights, and every update would end in "Error - System Update".
Section /o "Start ${PRODUCT} at logon" SecLogon
  ${IfNot} ${SectionIsSelected} ${SecService}  ; the service's front end starts otherwise
    nsExec::ExecToLog 'schtasks /Create /F /SC ONLOGON /RL HIGHEST /TN "${TASK}" /TR "\"$INSTDIR\${PROGRAM}\""'
    Pop $0
  ${EndIf}
SectionEnd

; Windows Time sets the clock from the network on a schedule of its own, undoing the receiver's
; time. Its "Type" becomes NoSync; the value before is kept for the uninstaller to put back.
Section /o "Stop Windows Time from resetting the clock" SecNoSync
  ReadRegStr $0 HKLM "${W32TIME_KEY}" "Type"
  StrCmp $0 "" 0 +2
    StrCpy $0 "(none)"
  StrCmp $0 "NoSync" done
    WriteRegStr HKLM "${SETTINGS_KEY}" "${W32TIME_KEPT}" $0
    WriteRegStr HKLM "${W32TIME_KEY}" "Type" "NoSync"
    nsExec::ExecToLog 'w32tm /config /update'
    Pop $1
  done:
SectionEnd

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
    SectionSetFlags ${SecLogon} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/SERVICE" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecService} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/W32TIME" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecW32Time} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/NOSYNC" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecNoSync} ${SF_SELECTED}
  ${EndIf}
  ${If} ${SectionIsSelected} ${SecService}
  ${AndIf} ${SectionIsSelected} ${SecW32Time}
    MessageBox MB_ICONSTOP "/SERVICE and /W32TIME would both set the clock: choose one." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
FunctionEnd


Section "un.${PRODUCT}" UnSecProgram
  SectionIn RO
  !insertmacro StopRunningProgram
  nsExec::ExecToLog 'schtasks /Delete /F /TN "${TASK}"'
  Pop $0
  ; Also takes the service's grant off the record's folder.
  nsExec::ExecToLog '"$INSTDIR\clockagent.com" service remove'
  Pop $0
  ; Windows Time's provider: its key away, even where the tool could not take it.
  nsExec::ExecToLog '"$INSTDIR\clockagent.com" w32time remove'
  Pop $0
  DeleteRegKey HKLM "${PROVIDER_KEY}"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  DeleteRegValue HKLM "${LAYERS_KEY}" "$INSTDIR\${PROGRAM}"
  DeleteRegKey HKLM "${EVENTLOG_KEY}"
  ; Windows Time as it was before, if we changed it.
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "${W32TIME_KEPT}"
  StrCmp $0 "" kept
    StrCmp $0 "(none)" 0 +3
      DeleteRegValue HKLM "${W32TIME_KEY}" "Type"
      Goto restored
    WriteRegStr HKLM "${W32TIME_KEY}" "Type" $0
  restored:
    DeleteRegValue HKLM "${SETTINGS_KEY}" "${W32TIME_KEPT}"
    nsExec::ExecToLog 'w32tm /config /update'
    Pop $0
  kept:
  Delete /REBOOTOK "$INSTDIR\${PROGRAM}"
  Delete /REBOOTOK "$INSTDIR\clockagent.com"
  Delete /REBOOTOK "$INSTDIR\${PROVIDER_DLL}"  ; held by Windows Time until it stops
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${COMPANY}"
SectionEnd

Section /o "un.Remove the settings and the record" UnSecSettings
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${COMPANY}"
  ; The record's folder in ProgramData, with its access.
  SetShellVarContext all
  RMDir /r "$APPDATA\${COMPANY}\${PRODUCT}"
  RMDir "$APPDATA\${COMPANY}"
SectionEnd

Function un.onInit
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${UnSecSettings} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
