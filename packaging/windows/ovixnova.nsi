; Installer of the Windows program, built on Linux by scripts/build-windows:
;   makensis -DVERSION=x.y.z [-DSOURCE_DIR=...] [-DBUILD_DIR=...] [-DOUTFILE=...]
;            [-DAMD64] ovixnova.nsi
; A 32-bit program, so that every till runs it; it carries both builds of the
; driver and installs the 64-bit one (BUILD_DIR) on 64-bit Windows and the
; 32-bit one (BUILD_DIR/x86) on 32-bit Windows, from Windows 7 SP1 on. -DAMD64
; makes the same installer a 64-bit program, for a Wine that runs no 32-bit
; code (the tests).
;
; It installs ovixnova.exe and ovixnova-check.exe into Program Files\OVIXNOVA,
; writes OVIX.INI there unless one exists, sets its serial port (COM) and
; spool directory (BONDIR) as chosen on the pages, makes the spool
; directories of OVIX.INI writable by the users who print, adds a Start menu
; folder and a Startup shortcut for all users and registers the uninstaller.
; Every other key of an existing OVIX.INI stays as it is.
;
; Command line (silent: /S):
;   /D=<dir>         the program directory (last on the command line)
;   /COM=COM3        the serial port, written as COM=3; a device path such as
;                    \\.\COM12 is written as it stands; left out: kept
;   /BONDIR=C:\POS\  the spool directory; left out: kept
;   /NOSTART         a silent install does not start the driver at its end
;   /NAME=<name>     the name of a new installation (see below)
; A silent install starts the driver at its end unless /NOSTART is given; an
; install with pages offers it on the last page.
;
; A driver that runs from the program directory is asked to end in order
; first: the new ovixnova.exe, unpacked into the plug-in directory, runs as
; `ovixnova.exe --stop <program directory>` (exit code 0: no driver of that
; directory runs any more). When that fails, the operator is asked to end it
; (silent: exit code 2, nothing changed). A driver stopped so is started
; again at the end.
;
; Installations side by side: each program directory is an installation of
; its own, with a name that names its uninstall entry (HKLM ...\Uninstall\
; <name>), its Start menu folder (<name>) and its Startup shortcut
; (<name>.lnk). An update keeps the name the directory was installed with
; (found by the entry's InstallLocation). A new installation takes /NAME when
; given; else the first one is "OVIXNOVA", and one beside it takes
; "OVIXNOVA (<dir>)" with the drive's colon left out and every '\' as '-',
; e.g. "OVIXNOVA (C-Casa2-OVIXNOVA)". A name must be usable as a file name.
; The uninstaller removes only the entries of its own directory.
;
; The uninstaller proper is uninstall-core.exe; uninstall.exe (uninstall.nsi,
; built here) runs it and waits for it, so that `uninstall.exe /S` ends with
; the uninstall's status: 0 done, 2 refused over a driver that would not
; stop. A running driver is asked to stop as above, by a copy of the
; installed ovixnova.exe.

!ifndef VERSION
  !error "VERSION is not defined: run makensis -DVERSION=x.y.z"
!endif
!ifndef SOURCE_DIR
  !define SOURCE_DIR "${__FILEDIR__}/../.."
!endif
!ifndef BUILD_DIR
  !define BUILD_DIR "${SOURCE_DIR}/build-win"
!endif
!ifndef OUTFILE
  !define OUTFILE "${BUILD_DIR}/ovixnova-setup.exe"
!endif

!define PRODUCT "OVIXNOVA"
!define PUBLISHER "ATELIER OVIX"
!define UNINSTALL_ROOT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
; The spool directory of the default OVIX.INI (BONDIR).
!define SPOOL "C:\OVIX"
; How long the installer lets `ovixnova.exe --stop` take (it waits 30 s for
; the driver) before it gives up on it, in milliseconds.
!define STOP_TIMEOUT 40000

!ifdef AMD64
  Target amd64-unicode
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} - instalare"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

; uninstall.exe, the program that runs the uninstaller and reports its
; result (uninstall.nsi), built for the same target.
!tempfile UNINSTALL_EXE
!ifdef AMD64
  !makensis '-V2 -DAMD64 "-DOUTFILE=${UNINSTALL_EXE}" "-DICON=${SOURCE_DIR}/resources/icons/ovixnova.ico" uninstall.nsi' = 0
!else
  !makensis '-V2 "-DOUTFILE=${UNINSTALL_EXE}" "-DICON=${SOURCE_DIR}/resources/icons/ovixnova.ico" uninstall.nsi' = 0
!endif

!include "MUI2.nsh"
!include "nsDialogs.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "WinVer.nsh"
!include "x64.nsh"

; The installation's name (see above) and the settings to write; an empty
; $Port or $BonDir leaves its key as it is.
Var Name
Var GivenName
Var Port
Var BonDir
Var NoStart
Var PortCombo

!define MUI_ICON "${SOURCE_DIR}/resources/icons/ovixnova.ico"
!define MUI_UNICON "${SOURCE_DIR}/resources/icons/ovixnova.ico"
!define MUI_ABORTWARNING

!define MUI_PAGE_CUSTOMFUNCTION_LEAVE ChooseName
!insertmacro MUI_PAGE_DIRECTORY
Page custom PortPage PortLeave
!define MUI_PAGE_HEADER_TEXT "Directorul bonurilor"
!define MUI_PAGE_HEADER_SUBTEXT "Alegeti directorul in care programul de vanzare scrie bonurile."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Programul de vanzare scrie bonurile in acest director; tot aici este jurnalul LOG.OVX. Directoarele bonurilor tiparite si ale celor cu erori raman cele din OVIX.INI."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Directorul bonurilor (BONDIR)"
!define MUI_DIRECTORYPAGE_VARIABLE $BonDir
!define MUI_PAGE_CUSTOMFUNCTION_PRE BonDirPre
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\ovixnova.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Porneste ${PRODUCT} acum"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Romanian"

; Names of the Start menu shortcuts.
!define LNK_LOG "Jurnal evenimente.lnk"
!define LNK_INI "Setari (OVIX.INI).lnk"
!define LNK_SPOOL "Director bonuri.lnk"
!define LNK_UNINSTALL "Dezinstalare.lnk"

; Leaves $0 with "$1" without a trailing '\' (icacls and the directory page
; take a directory so).
!macro NO_TRAILING_BACKSLASH
  StrCpy $0 $1
  StrCpy $2 $0 1 -1
  StrCmp $2 "\" 0 +2
    StrCpy $0 $0 -1
!macroend

; A running driver keeps its executable open: Windows lets nobody write or
; delete it. Opening it for writing tells whether it runs (pushes 1 if so).
!macro IS_BUSY un
Function ${un}IsBusy
  Push 0
  IfFileExists "$INSTDIR\ovixnova.exe" 0 done
  ClearErrors
  FileOpen $0 "$INSTDIR\ovixnova.exe" a
  IfErrors 0 +4
    Pop $0
    Push 1
    Goto done
  FileClose $0
  done:
FunctionEnd
!macroend
!insertmacro IS_BUSY ""
!insertmacro IS_BUSY "un."

; The operator is asked to end a running driver from its tray menu (Exit). A
; silent run does not wait: it ends with exit code 2 and leaves the installed
; files as they were.
!macro CHECK_NOT_RUNNING un
Function ${un}CheckNotRunning
  retry:
    Call ${un}IsBusy
    Pop $0
    StrCmp $0 1 0 done
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT} ruleaza. Inchideti-l din meniul iconitei din bara de sistem (Exit), apoi incercati din nou." \
      /SD IDCANCEL IDRETRY retry
    DetailPrint "${PRODUCT} ruleaza: $INSTDIR\ovixnova.exe nu poate fi inlocuit."
    SetErrorLevel 2
    Abort
  done:
FunctionEnd
!macroend
!insertmacro CHECK_NOT_RUNNING ""
!insertmacro CHECK_NOT_RUNNING "un."

; Asks a driver running from $INSTDIR to end in order with
; `$PLUGINSDIR\ovixnova.exe --stop $INSTDIR` (the installer unpacks the new
; program there, the uninstaller copies the installed one: a running
; program's file can be read), then waits up to 10 s for its file to be
; free. When that fails, CheckNotRunning asks the operator (silent: exit
; code 2).
!macro STOP_DRIVER un
Function ${un}StopDriver
  Call ${un}IsBusy
  Pop $0
  StrCmp $0 1 0 done
  InitPluginsDir
  !if "${un}" == ""
    SetOutPath "$PLUGINSDIR"
    ${If} ${RunningX64}
      File "${BUILD_DIR}/ovixnova.exe"
    ${Else}
      File "${BUILD_DIR}/x86/ovixnova.exe"
    ${EndIf}
    SetOutPath "$INSTDIR"
  !else
    CopyFiles /SILENT "$INSTDIR\ovixnova.exe" "$PLUGINSDIR\ovixnova.exe"
  !endif
  DetailPrint "Se opreste ${PRODUCT} ($INSTDIR)..."
  nsExec::Exec /TIMEOUT=${STOP_TIMEOUT} '"$PLUGINSDIR\ovixnova.exe" --stop "$INSTDIR"'
  Pop $0
  StrCmp $0 "0" 0 fallback
  StrCpy $1 0
  wait:
    Call ${un}IsBusy
    Pop $0
    StrCmp $0 1 0 done
    IntOp $1 $1 + 1
    IntCmp $1 50 fallback
    Sleep 200
    Goto wait
  fallback:
    Call ${un}CheckNotRunning
  done:
FunctionEnd
!macroend
!insertmacro STOP_DRIVER ""
!insertmacro STOP_DRIVER "un."

; Sets $Name to the name of the installation registered for $INSTDIR (an
; uninstall entry of ours whose InstallLocation is $INSTDIR), or "".
!macro FIND_NAME un
Function ${un}FindName
  StrCpy $Name ""
  StrCpy $1 0
  loop:
    EnumRegKey $2 HKLM "${UNINSTALL_ROOT}" $1
    StrCmp $2 "" done
    IntOp $1 $1 + 1
    ReadRegStr $3 HKLM "${UNINSTALL_ROOT}\$2" "Publisher"
    StrCmp $3 "${PUBLISHER}" 0 loop
    ReadRegStr $3 HKLM "${UNINSTALL_ROOT}\$2" "InstallLocation"
    StrCmp $3 $INSTDIR 0 loop
    StrCpy $Name $2
  done:
FunctionEnd
!macroend
!insertmacro FIND_NAME ""
!insertmacro FIND_NAME "un."

; The name of the installation in $INSTDIR: the one it has, else /NAME, else
; "OVIXNOVA" for the first, else one made of the directory. A /NAME that
; another directory's installation has is refused (silent: exit code 2),
; so that its entries are not taken over.
Function ChooseName
  Call FindName
  StrCmp $Name "" 0 done
  StrCpy $Name $GivenName
  StrCmp $Name "" by_order
  ReadRegStr $0 HKLM "${UNINSTALL_ROOT}\$Name" "InstallLocation"
  StrCmp $0 "" done
  MessageBox MB_OK|MB_ICONSTOP "Numele $Name este al instalarii din $0. Alegeti alt nume (/NAME=...)." /SD IDOK
  SetErrorLevel 2
  Abort
  by_order:
  StrCpy $Name "${PRODUCT}"
  ReadRegStr $0 HKLM "${UNINSTALL_ROOT}\${PRODUCT}" "InstallLocation"
  StrCmp $0 "" done
  StrCpy $0 ""
  StrCpy $1 0
  next:
    StrCpy $2 $INSTDIR 1 $1
    StrCmp $2 "" made
    IntOp $1 $1 + 1
    StrCmp $2 ":" next
    StrCmp $2 "\" 0 +2
      StrCpy $2 "-"
    StrCpy $0 "$0$2"
    Goto next
  made:
  StrCpy $Name "${PRODUCT} ($0)"
  done:
FunctionEnd

; The serial port page: the ports Windows lists (USB adapters too) and the
; one of an existing OVIX.INI; another one can be typed in.
Function PortPage
  !insertmacro MUI_HEADER_TEXT "Portul serial" "Alegeti portul serial la care este legata casa de marcat."
  ${If} $Port == ""
    ReadINIStr $Port "$INSTDIR\OVIX.INI" "DEFAULT" "COM"
    ${If} $Port != ""
      IntOp $0 $Port + 0
      StrCmp $0 $Port 0 +2
        StrCpy $Port "COM$Port"
    ${EndIf}
  ${EndIf}
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 40u "Porturile seriale gasite pe acest calculator. Un adaptor USB apare de obicei ca COM3 sau mai mare (Manager dispozitive, Porturi). Puteti scrie si un alt port, de exemplu COM12."
  Pop $0
  ${NSD_CreateComboBox} 0 44u 50% 80u ""
  Pop $PortCombo
  StrCpy $1 0
  loop:
    ClearErrors
    EnumRegValue $2 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $1
    IfErrors listed
    StrCmp $2 "" listed
    IntOp $1 $1 + 1
    ReadRegStr $3 HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" $2
    SendMessage $PortCombo ${CB_FINDSTRINGEXACT} -1 "STR:$3" $4
    StrCmp $4 -1 0 loop
    ${NSD_CB_AddString} $PortCombo $3
    StrCmp $Port "" 0 loop
      StrCpy $Port $3
    Goto loop
  listed:
  StrCmp $Port "" 0 +2
    StrCpy $Port "COM1"
  SendMessage $PortCombo ${CB_FINDSTRINGEXACT} -1 "STR:$Port" $4
  StrCmp $4 -1 0 +2
    ${NSD_CB_AddString} $PortCombo $Port
  ${NSD_CB_SelectString} $PortCombo $Port
  nsDialogs::Show
FunctionEnd

Function PortLeave
  ${NSD_GetText} $PortCombo $Port
  ${If} $Port == ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "Alegeti portul serial al casei de marcat."
    Abort
  ${EndIf}
FunctionEnd

; The spool directory page starts at the one of OVIX.INI.
Function BonDirPre
  ${If} $BonDir == ""
    ReadINIStr $1 "$INSTDIR\OVIX.INI" "DEFAULT" "BONDIR"
    StrCmp $1 "" 0 +2
      StrCpy $1 "${SPOOL}"
    !insertmacro NO_TRAILING_BACKSLASH
    StrCpy $BonDir $0
  ${EndIf}
FunctionEnd

Function .onInit
  SetShellVarContext all
  StrCpy $0 ""
  ${IfNot} ${AtLeastWin7}
    StrCpy $0 "old"
  ${ElseIf} ${IsWin7}
  ${AndIfNot} ${AtLeastServicePack} 1
    StrCpy $0 "old"
  ${EndIf}
  ${If} $0 == "old"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} are nevoie de Windows 7 SP1 sau mai nou." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  ; The 64-bit program keeps its registration where 64-bit programs do.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; Without /D a new version goes where the first installation is, beside
  ; the shop's OVIX.INI.
  ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
    ReadRegStr $0 HKLM "${UNINSTALL_ROOT}\${PRODUCT}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
  ${GetParameters} $R0
  ${GetOptions} $R0 "/COM=" $Port
  ${GetOptions} $R0 "/BONDIR=" $BonDir
  ${GetOptions} $R0 "/NAME=" $GivenName
  StrCpy $NoStart 0
  ClearErrors
  ${GetOptions} $R0 "/NOSTART" $0
  IfErrors +2
    StrCpy $NoStart 1
FunctionEnd

Function un.onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  Call un.FindName
  ; Run again by uninstall.exe once it ended: removes uninstall.exe, free
  ; now, and the program directory if nothing else is left in it.
  ${un.GetParameters} $R0
  ClearErrors
  ${un.GetOptions} $R0 "/CLEANUP" $0
  IfErrors done
    StrCpy $1 0
    retry:
      ClearErrors
      Delete "$INSTDIR\uninstall.exe"
      IfErrors 0 removed
      IntOp $1 $1 + 1
      IntCmp $1 100 removed
      Sleep 100
      Goto retry
    removed:
    RMDir "$INSTDIR"
    Delete /REBOOTOK "$EXEPATH"
    Quit
  done:
FunctionEnd

; Writes the chosen port and spool directory into OVIX.INI: COM3 as COM=3
; (the driver takes a port number), anything else as it stands; the spool
; directory with its trailing '\'.
Function WriteSettings
  ${If} $Port != ""
    StrCpy $0 $Port 3
    StrCpy $1 $Port "" 3
    IntOp $2 $1 + 0
    ${If} $0 == "COM"
    ${AndIf} $2 == $1
      StrCpy $Port $1
    ${EndIf}
    WriteINIStr "$INSTDIR\OVIX.INI" "DEFAULT" "COM" $Port
  ${EndIf}
  ${If} $BonDir != ""
    StrCpy $0 $BonDir 1 -1
    StrCmp $0 "\" +2
      StrCpy $BonDir "$BonDir\"
    WriteINIStr "$INSTDIR\OVIX.INI" "DEFAULT" "BONDIR" $BonDir
  ${EndIf}
  FlushINI "$INSTDIR\OVIX.INI"
FunctionEnd

; Creates a directory of OVIX.INI ($1, default $2). The driver runs as the
; user who logs in at the till, who must write the receipts and the log and
; move them between the three directories. What a directory made under C:\
; inherits depends on the Windows version and on the machine's policy, so
; Users (by its SID: the name differs in every language) get modify rights,
; inherited by the directories and files below. Best effort: on a volume
; without ACLs, or where a policy forbids the change, icacls fails; the
; program is installed all the same, and an administrator grants the rights
; by hand.
Function MakeSpoolDir
  StrCmp $1 "" 0 +2
    StrCpy $1 $2
  !insertmacro NO_TRAILING_BACKSLASH
  CreateDirectory $0
  nsExec::Exec '"$SYSDIR\icacls.exe" "$0" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $1
  StrCmp $1 "0" +2
    DetailPrint "Drepturile utilizatorilor pe $0 nu au fost setate (icacls: $1)."
FunctionEnd

; Sets the "run as administrator" flag of a shortcut ($0): bit 0x2000 of the
; link flags at offset 0x14 of the .lnk file.
Function RunAsAdmin
  FileOpen $1 $0 a
  FileSeek $1 0x15 SET
  FileReadByte $1 $2
  IntOp $2 $2 | 0x20
  FileSeek $1 0x15 SET
  FileWriteByte $1 $2
  FileClose $1
FunctionEnd

Section "${PRODUCT}"
  Call ChooseName
  SetOutPath "$INSTDIR"
  Call StopDriver
  ${If} ${RunningX64}
    File "${BUILD_DIR}/ovixnova.exe"
    File "${BUILD_DIR}/ovixnova-check.exe"
  ${Else}
    File "${BUILD_DIR}/x86/ovixnova.exe"
    File "${BUILD_DIR}/x86/ovixnova-check.exe"
  ${EndIf}
  ; The shop's settings are kept: OVIX.INI is written only when there is
  ; none, and then only the keys chosen here change.
  SetOverwrite off
  File "${SOURCE_DIR}/packaging/windows/OVIX.INI"
  SetOverwrite on
  Call WriteSettings
  WriteUninstaller "$INSTDIR\uninstall-core.exe"
  File "/oname=uninstall.exe" "${UNINSTALL_EXE}"

  ReadINIStr $1 "$INSTDIR\OVIX.INI" "DEFAULT" "BONDIR"
  StrCpy $2 "${SPOOL}\"
  Call MakeSpoolDir
  StrCpy $R1 $0
  ReadINIStr $1 "$INSTDIR\OVIX.INI" "DEFAULT" "OKDIR"
  StrCpy $2 "${SPOOL}\BONOK\"
  Call MakeSpoolDir
  ReadINIStr $1 "$INSTDIR\OVIX.INI" "DEFAULT" "ERRDIR"
  StrCpy $2 "${SPOOL}\BONERR\"
  Call MakeSpoolDir

  ; The Start menu folder of this installation; the single shortcut of
  ; earlier versions goes.
  ${If} $Name == "${PRODUCT}"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  ${EndIf}
  StrCpy $R0 "$SMPROGRAMS\$Name"
  CreateDirectory $R0
  CreateShortcut "$R0\${PRODUCT}.lnk" "$INSTDIR\ovixnova.exe" "" "$INSTDIR\ovixnova.exe" 0
  CreateShortcut "$R0\${LNK_LOG}" "$WINDIR\notepad.exe" '"$R1\LOG.OVX"'
  CreateShortcut "$R0\${LNK_INI}" "$WINDIR\notepad.exe" '"$INSTDIR\OVIX.INI"'
  StrCpy $0 "$R0\${LNK_INI}"
  Call RunAsAdmin
  CreateShortcut "$R0\${LNK_SPOOL}" "$R1\"
  CreateShortcut "$R0\${LNK_UNINSTALL}" "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMSTARTUP\$Name.lnk" "$INSTDIR\ovixnova.exe" "" "$INSTDIR\ovixnova.exe" 0

  StrCpy $R0 "${UNINSTALL_ROOT}\$Name"
  WriteRegStr HKLM $R0 "DisplayName" "$Name"
  WriteRegStr HKLM $R0 "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM $R0 "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM $R0 "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM $R0 "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM $R0 "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM $R0 "DisplayIcon" "$INSTDIR\ovixnova.exe,0"
  WriteRegDWORD HKLM $R0 "NoModify" 1
  WriteRegDWORD HKLM $R0 "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM $R0 "EstimatedSize" $0

  ; A silent install starts the driver unless told not to; with pages, the
  ; last one offers to.
  ${If} ${Silent}
  ${AndIf} $NoStart == 0
    Exec '"$INSTDIR\ovixnova.exe"'
  ${EndIf}
SectionEnd

; Removes the program, the shortcuts and the registration of its own
; installation; keeps OVIX.INI (the shop's settings, used again by a later
; install) and the spool directories with the receipts and the log. A
; running driver is stopped first; when it cannot be, nothing is removed and
; the exit code is 2.
Section "Uninstall"
  Call un.StopDriver
  ${If} $Name != ""
    StrCpy $R0 "$SMPROGRAMS\$Name"
    Delete "$R0\${PRODUCT}.lnk"
    Delete "$R0\${LNK_LOG}"
    Delete "$R0\${LNK_INI}"
    Delete "$R0\${LNK_SPOOL}"
    Delete "$R0\${LNK_UNINSTALL}"
    RMDir $R0
    Delete "$SMSTARTUP\$Name.lnk"
    DeleteRegKey HKLM "${UNINSTALL_ROOT}\$Name"
  ${EndIf}
  ${If} $Name == "${PRODUCT}"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  ${EndIf}
  Delete "$INSTDIR\ovixnova.exe"
  Delete "$INSTDIR\ovixnova-check.exe"
  Delete "$INSTDIR\uninstall-core.exe"
  ; uninstall.exe, which waits for this uninstaller, goes at its end.
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
