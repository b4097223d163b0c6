; Installer of the Windows program, built on Linux by scripts/build-windows:
;   makensis -DVERSION=x.y.z [-DSOURCE_DIR=...] [-DBUILD_DIR=...] [-DOUTFILE=...]
;            [-DAMD64] ovixnova.nsi
; A 32-bit program, so that every till runs it; it carries both builds of the
; driver and installs the 64-bit one (BUILD_DIR) on 64-bit Windows and the
; 32-bit one (BUILD_DIR/x86) on 32-bit Windows, from Windows 7 SP1 on. -DAMD64
; makes the same installer a 64-bit program, for a Wine that runs no 32-bit
; code (the tests).
; It installs ovixnova.exe and ovixnova-check.exe into Program Files\OVIXNOVA,
; writes OVIX.INI there unless one exists, makes the spool directories of the
; default settings writable by the users who print, adds a Start menu and a
; Startup shortcut for all users and registers the uninstaller. /S runs it
; silently; /D=<dir> (last on the command line) sets the program directory.

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
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The spool directory and its OK and error directories of the default
; OVIX.INI (BONDIR, OKDIR, ERRDIR).
!define SPOOL "C:\OVIX"

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

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "WinVer.nsh"
!include "x64.nsh"

!define MUI_ICON "${SOURCE_DIR}/resources/icons/ovixnova.ico"
!define MUI_UNICON "${SOURCE_DIR}/resources/icons/ovixnova.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Romanian"

; A running driver keeps its executable open: Windows lets nobody write or
; delete it. Opening it for writing tells whether it runs; the operator is
; asked to end it from its tray menu (Exit). A silent run does not wait: it
; ends with exit code 2 and leaves the installed files as they were.
!macro CHECK_NOT_RUNNING un
Function ${un}CheckNotRunning
  IfFileExists "$INSTDIR\ovixnova.exe" 0 done
  retry:
    ClearErrors
    FileOpen $0 "$INSTDIR\ovixnova.exe" a
    IfErrors busy
    FileClose $0
    Goto done
  busy:
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
  ; Without /D a new version goes where the previous one is, beside the
  ; shop's OVIX.INI.
  ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  SetOutPath "$INSTDIR"
  Call CheckNotRunning
  ${If} ${RunningX64}
    File "${BUILD_DIR}/ovixnova.exe"
    File "${BUILD_DIR}/ovixnova-check.exe"
  ${Else}
    File "${BUILD_DIR}/x86/ovixnova.exe"
    File "${BUILD_DIR}/x86/ovixnova-check.exe"
  ${EndIf}
  ; The shop's settings are kept: OVIX.INI is written only when there is none.
  SetOverwrite off
  File "${SOURCE_DIR}/packaging/windows/OVIX.INI"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${SPOOL}\BONOK"
  CreateDirectory "${SPOOL}\BONERR"
  ; The driver runs as the user who logs in at the till, who must write the
  ; receipts and the log and move them between the three directories. What a
  ; directory made under C:\ inherits depends on the Windows version and on
  ; the machine's policy, so Users (by its SID: the name differs in every
  ; language) get modify rights, inherited by the OK and error directories
  ; and every file. Best effort: on a volume without ACLs, or where a policy
  ; forbids the change, icacls fails; the program is installed all the same,
  ; and an administrator grants the rights by hand.
  nsExec::Exec '"$SYSDIR\icacls.exe" "${SPOOL}" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0
  StrCmp $0 "0" +2
    DetailPrint "Drepturile utilizatorilor pe ${SPOOL} nu au fost setate (icacls: $0)."

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\ovixnova.exe" "" "$INSTDIR\ovixnova.exe" 0
  CreateShortcut "$SMSTARTUP\${PRODUCT}.lnk" "$INSTDIR\ovixnova.exe" "" "$INSTDIR\ovixnova.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ovixnova.exe,0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes the program, its shortcuts and its registration; keeps OVIX.INI (the
; shop's settings, used again by a later install) and C:\OVIX with the
; receipts and the log.
Section "Uninstall"
  Call un.CheckNotRunning
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SMSTARTUP\${PRODUCT}.lnk"
  Delete "$INSTDIR\ovixnova.exe"
  Delete "$INSTDIR\ovixnova-check.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
