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
; Each installation has its own directories: a new one takes the BONDIR
; chosen, else the first of C:\OVIX\, C:\OVIX2\, C:\OVIX3\, ... that no other
; installation uses, with OKDIR and ERRDIR under it (BONDIR\BONOK\,
; BONDIR\BONERR\); an update keeps the OKDIR and ERRDIR of its OVIX.INI. An
; installation one of whose three directories another one uses (as BONDIR,
; OKDIR or ERRDIR; case and a trailing '\' aside) is refused.
;
; Command line (silent: /S):
;   /D=<dir>         the program directory (last on the command line)
;   /COM=COM3        the serial port, COM1 to COM256 (any case, no leading
;                    zero), written as COM=3; a device path such as
;                    \\.\COM12 is written as it stands; left out: kept
;   /BONDIR=C:\POS\  the spool directory; left out: kept
;   /NOSTART         a silent install does not start the driver at its end
;   /NAME=<name>     the name of a new installation (see below), without
;                    \ / : * ? " < > |
; A silent install starts the driver at its end unless /NOSTART is given; an
; install with pages offers it on the last page.
;
; A driver that runs from the program directory is asked to end in order
; first: the new ovixnova.exe, unpacked into the plug-in directory, runs as
; `ovixnova.exe --stop <program directory>` (exit code 0: no driver of that
; directory runs any more), which lets it finish the receipt it prints. When
; that fails, the operator is asked to end it. A driver stopped so is
; started again at the end, and after a refusal that follows the stop too.
; An update that moves BONDIR is refused while the old spool, looked at
; after the stop, holds receipt files (of the mask EXTENSIE) or the journal
; OVIXNOVA.JOB: nobody would finish them there.
;
; Exit codes of a silent install (with pages the same refusals are said on
; the page, which stays):
;   0  installed
;   1  cancelled
;   2  nothing changed: the driver would not stop, or /NAME is the name of
;      another directory's installation
;   3  Windows older than 7 SP1
;   4  nothing changed: an update that moves BONDIR while receipts or the
;      journal wait in the old spool
;   5  nothing changed: BONDIR, OKDIR or ERRDIR is one of another
;      installation's directories
;   6  nothing changed: a value not valid (/COM, /NAME), or /D or /BONDIR on
;      a drive that does not exist
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
; The driver's journal in the spool: receipts under way or not yet filed.
!define JOURNAL "OVIXNOVA.JOB"
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
; Whether $INSTDIR holds an OVIX.INI (an update), its BONDIR, and the three
; directories the installation will use (Plan); whether a driver ran when
; the install began (StopDriver); scratch of the macros below.
Var Update
Var OldBonDir
Var NewBonDir
Var OkDir
Var ErrDir
Var WasRunning
Var T
Var Idx
Var Entry
Var Where

!define MUI_ICON "${SOURCE_DIR}/resources/icons/ovixnova.ico"
!define MUI_UNICON "${SOURCE_DIR}/resources/icons/ovixnova.ico"
; No "are you sure" box on Cancel: nothing is changed before the last page,
; and the box's Yes/No buttons are in the language of Windows, not ours.

; The folder page lets "Instalează" be pressed on any folder, so that its
; leave function can say what is wrong with it (a missing drive) instead of
; greying the button out without a word.
!define MUI_DIRECTORYPAGE_VERIFYONLEAVE
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE FolderLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom SecondPage SecondLeave
Page custom PortPage PortLeave
!define MUI_PAGE_HEADER_TEXT "Directorul bonurilor"
!define MUI_PAGE_HEADER_SUBTEXT "Alegeți directorul în care programul de vânzare scrie bonurile."
!define MUI_DIRECTORYPAGE_TEXT_TOP " "
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Directorul bonurilor (BONDIR)"
!define MUI_DIRECTORYPAGE_VARIABLE $BonDir
!define MUI_DIRECTORYPAGE_VERIFYONLEAVE
!define MUI_PAGE_CUSTOMFUNCTION_PRE BonDirPre
!define MUI_PAGE_CUSTOMFUNCTION_SHOW BonDirShow
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE BonDirLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\ovixnova.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Pornește ${PRODUCT} acum"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The stock Romanian text lacks its "a".
!define MUI_UNTEXT_ABORT_SUBTITLE "Dezinstalarea a fost anulată de utilizator."
!insertmacro MUI_LANGUAGE "Romanian"

; Names of the Start menu shortcuts.
!define LNK_LOG "Jurnal evenimente.lnk"
!define LNK_INI "Setări (OVIX.INI).lnk"
; Its name in earlier versions, without the diacritic; removed.
!define LNK_INI_OLD "Setari (OVIX.INI).lnk"
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

; After a refusal that followed the stop: a driver that ran when the
; install began and runs no more is started again, so that the till is not
; left without it (nothing was changed).
!macro RESTART_DRIVER un
Function ${un}RestartDriver
  ${If} $WasRunning == 1
    Call ${un}IsBusy
    Pop $0
    ${If} $0 == 0
      Exec '"$INSTDIR\ovixnova.exe"'
    ${EndIf}
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RESTART_DRIVER ""
!insertmacro RESTART_DRIVER "un."

; The operator is asked to end a running driver from its tray menu (Exit). A
; silent run does not wait: it ends with exit code 2 and leaves the installed
; files as they were. The box names only its OK button, the one button whose
; text reads the same in every language of Windows.
!macro CHECK_NOT_RUNNING un what
Function ${un}CheckNotRunning
  retry:
    Call ${un}IsBusy
    Pop $0
    StrCmp $0 1 0 done
    MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT} rulează. Închideți-l din meniul iconiței din bara de sistem (Exit), apoi apăsați OK pentru a continua ${what}. Celălalt buton renunță: nu se schimbă nimic." \
      /SD IDCANCEL IDOK retry
    DetailPrint "${PRODUCT} rulează: $INSTDIR\ovixnova.exe nu poate fi înlocuit."
    Call ${un}RestartDriver
    SetErrorLevel 2
    Abort
  done:
FunctionEnd
!macroend
!insertmacro CHECK_NOT_RUNNING "" "instalarea"
!insertmacro CHECK_NOT_RUNNING "un." "dezinstalarea"

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
  StrCpy $WasRunning $0
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
  DetailPrint "Se oprește ${PRODUCT} ($INSTDIR)..."
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

; Sets ${out} to the directory ${in} without a trailing '\' or '/'.
!macro TRIM_DIR out in
  StrCpy ${out} "${in}"
  StrCpy $T ${out} 1 -1
  ${If} $T == "\"
  ${OrIf} $T == "/"
    StrCpy ${out} ${out} -1
  ${EndIf}
!macroend

; $R0 = 1 when the directories $R1 and $R2 are the same, else 0. Windows
; names ignore case, and so does StrCmp (LogicLib's ==); a trailing '\'
; makes no difference either.
Function SameDir
  !insertmacro TRIM_DIR $R3 $R1
  !insertmacro TRIM_DIR $R4 $R2
  StrCpy $R0 0
  ${If} $R3 != ""
  ${AndIf} $R3 == $R4
    StrCpy $R0 1
  ${EndIf}
FunctionEnd

; The directories that the OVIX.INI $R1 makes its driver use: BONDIR in $R6,
; OKDIR in $R7, ERRDIR in $R8, each with the driver's default when the key
; or the file is missing.
Function DirsOf
  ReadINIStr $R6 $R1 "DEFAULT" "BONDIR"
  StrCmp $R6 "" 0 +2
    StrCpy $R6 "${SPOOL}\"
  ReadINIStr $R7 $R1 "DEFAULT" "OKDIR"
  StrCmp $R7 "" 0 +2
    StrCpy $R7 "${SPOOL}\BONOK\"
  ReadINIStr $R8 $R1 "DEFAULT" "ERRDIR"
  StrCmp $R8 "" 0 +2
    StrCpy $R8 "${SPOOL}\BONERR\"
FunctionEnd

; $R9 = ${mine} when it is one of the directories $R6..$R8 of another
; installation (and no earlier one was), else as it was.
!macro CLASH_WITH mine theirs
  ${If} $R9 == ""
    StrCpy $R1 ${mine}
    StrCpy $R2 ${theirs}
    Call SameDir
    ${If} $R0 == 1
      StrCpy $R9 ${mine}
    ${EndIf}
  ${EndIf}
!macroend
!macro CLASH mine
  !insertmacro CLASH_WITH ${mine} $R6
  !insertmacro CLASH_WITH ${mine} $R7
  !insertmacro CLASH_WITH ${mine} $R8
!macroend

; Looks for another installation (another program directory registered by
; us) that uses one of the directories $NewBonDir, $OkDir, $ErrDir: two
; drivers on one spool take each other's receipts, and on one OKDIR or
; ERRDIR the files of one register replace those of the other. Sets $R9 to
; the directory, $R5 to that installation's name and $R1 to its directory;
; $R9 = "" when none.
Function FindUser
  StrCpy $R9 ""
  StrCpy $Idx 0
  loop:
    EnumRegKey $Entry HKLM "${UNINSTALL_ROOT}" $Idx
    StrCmp $Entry "" done
    IntOp $Idx $Idx + 1
    ReadRegStr $R2 HKLM "${UNINSTALL_ROOT}\$Entry" "Publisher"
    StrCmp $R2 "${PUBLISHER}" 0 loop
    ReadRegStr $Where HKLM "${UNINSTALL_ROOT}\$Entry" "InstallLocation"
    StrCpy $R1 $Where
    StrCpy $R2 $INSTDIR
    Call SameDir
    StrCmp $R0 1 loop
    StrCpy $R1 "$Where\OVIX.INI"
    Call DirsOf
    !insertmacro CLASH $NewBonDir
    !insertmacro CLASH $OkDir
    !insertmacro CLASH $ErrDir
    StrCmp $R9 "" loop
    StrCpy $R5 $Entry
    StrCpy $R1 $Where
  done:
FunctionEnd

; The directories of the installation: an update (an OVIX.INI in $INSTDIR)
; keeps its OKDIR and ERRDIR and, unless another one is chosen, its BONDIR.
; A new installation has its own: the BONDIR chosen, else the first of
; C:\OVIX\, C:\OVIX2\, C:\OVIX3\, ... that no other installation uses, with
; OKDIR and ERRDIR under it (BONOK\ and BONERR\).
Function Plan
  StrCpy $Update 0
  IfFileExists "$INSTDIR\OVIX.INI" 0 +2
    StrCpy $Update 1
  StrCpy $R1 "$INSTDIR\OVIX.INI"
  Call DirsOf
  StrCpy $OldBonDir $R6
  ${If} $Update == 1
    StrCpy $OkDir $R7
    StrCpy $ErrDir $R8
    StrCpy $NewBonDir $OldBonDir
    ${If} $BonDir != ""
      !insertmacro TRIM_DIR $R7 $BonDir
      StrCpy $NewBonDir "$R7\"
    ${EndIf}
    Return
  ${EndIf}
  StrCpy $R0 1
  next:
    ${If} $BonDir != ""
      StrCpy $NewBonDir $BonDir
    ${ElseIf} $R0 == 1
      StrCpy $NewBonDir "${SPOOL}"
    ${Else}
      StrCpy $NewBonDir "${SPOOL}$R0"
    ${EndIf}
    !insertmacro TRIM_DIR $R7 $NewBonDir
    StrCpy $NewBonDir "$R7\"
    StrCpy $OkDir "$R7\BONOK\"
    StrCpy $ErrDir "$R7\BONERR\"
    StrCmp $BonDir "" 0 done
    Push $R0
    Call FindUser
    Pop $R0
    StrCmp $R9 "" done
    IntOp $R0 $R0 + 1
    IntCmp $R0 99 done next done
  done:
FunctionEnd

; Refuses (silent: exit code 5) an installation whose directories another
; one uses (FindUser). Call Plan first.
Function CheckDirsFree
  Call FindUser
  StrCmp $R9 "" done
  MessageBox MB_OK|MB_ICONSTOP "Directorul $R9 este folosit de instalarea $R5 ($R1). Fiecare casă de marcat are nevoie de directoarele ei: alegeți alt director al bonurilor (/BONDIR=...), sau schimbați OKDIR și ERRDIR în $INSTDIR\OVIX.INI." /SD IDOK
  SetErrorLevel 5
  Abort
  done:
FunctionEnd

; $R0 = "" when the drive of the path $R1 exists (or the path names none, as
; \\server\share), else a sentence that says which drive is missing.
Function CheckDrive
  StrCpy $R0 ""
  StrCpy $R2 $R1 1 1
  StrCmp $R2 ":" 0 done
  StrCpy $R2 $R1 2
  StrCpy $R4 "$R2\"
  System::Call 'kernel32::GetDriveType(t R4) i .R3'
  IntCmp $R3 1 0 0 done
  StrCpy $R0 "Unitatea $R2 din $R1 nu există pe acest calculator. Alegeți un director de pe o unitate care există (de exemplu C:)."
  done:
FunctionEnd

; $R0 = 1 when $Port is a serial port as OVIX.INI takes it: COM1 to COM256
; (any case, no leading zero; a number alone is the same), left in $Port as
; COMn, or a device path such as \\.\COM12, kept as it stands. Else 0.
Function NormalisePort
  StrCpy $R0 1
  StrCpy $R1 $Port 4
  StrCmp $R1 "\\.\" 0 +3
    StrCmp $Port "\\.\" bad
    Return
  StrCpy $R1 $Port 3
  StrCpy $R2 $Port
  StrCmp $R1 "COM" 0 +2
    StrCpy $R2 $Port "" 3
  ; A number written back as it was read: no sign, blank, letter or
  ; leading zero.
  IntOp $R3 $R2 + 0
  StrCmp $R3 $R2 0 bad
  IntCmp $R3 1 0 bad
  IntCmp $R3 256 0 0 bad
  StrCpy $Port "COM$R3"
  Return
  bad:
  StrCpy $R0 0
FunctionEnd

; $R0 = 1 when the name $R1 can name a file (the Start menu folder, the
; Startup shortcut): none of \ / : * ? " < > |. Else 0.
Function CheckName
  StrCpy $R0 1
  StrCpy $R2 0
  loop:
    StrCpy $R3 $R1 1 $R2
    StrCmp $R3 "" done
    IntOp $R2 $R2 + 1
    StrCpy $R4 0
    chars:
      StrCpy $R5 '\/:*?"<>|' 1 $R4
      StrCmp $R5 "" loop
      IntOp $R4 $R4 + 1
      StrCmp $R3 $R5 0 chars
    StrCpy $R0 0
  done:
FunctionEnd

; The values of the command line, checked before anything changes; a value
; that is not valid is refused with exit code 6 (with pages, each page has
; checked its own already).
!macro REFUSE_INPUT text
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel 6
  Abort
!macroend
Function CheckInput
  ${If} $Port != ""
    Call NormalisePort
    ${If} $R0 != 1
      !insertmacro REFUSE_INPUT "Portul serial $Port nu este valid. Scrieți un port de la COM1 la COM256, de exemplu COM3 (/COM=COM3), sau o cale de dispozitiv ca \\.\COM12."
    ${EndIf}
  ${EndIf}
  StrCpy $R1 $GivenName
  Call CheckName
  ${If} $R0 != 1
    !insertmacro REFUSE_INPUT "Numele $GivenName nu poate fi numele unei instalări: nu poate conține \ / : * ? $\" < > |."
  ${EndIf}
  StrCpy $R1 $INSTDIR
  Call CheckDrive
  ${If} $R0 != ""
    !insertmacro REFUSE_INPUT $R0
  ${EndIf}
  StrCpy $R1 $BonDir
  Call CheckDrive
  ${If} $R0 != ""
    !insertmacro REFUSE_INPUT $R0
  ${EndIf}
FunctionEnd

; Sets $R9 to a receipt file, or the journal, that waits in the old spool
; $OldBonDir, or to "": the journal (OVIXNOVA.JOB, receipts under way) or a
; file of the mask EXTENSIE that the driver would take.
Function FindWaiting
  StrCpy $R9 ""
  !insertmacro TRIM_DIR $R1 $OldBonDir
  IfFileExists "$R1\${JOURNAL}" 0 +3
    StrCpy $R9 "${JOURNAL}"
    Return
  ReadINIStr $R2 "$INSTDIR\OVIX.INI" "DEFAULT" "EXTENSIE"
  StrCmp $R2 "" 0 +2
    StrCpy $R2 "*.TXT"
  FindFirst $R3 $R4 "$R1\$R2"
  loop:
    StrCmp $R4 "" done
    ${If} ${FileExists} "$R1\$R4\*.*"
    ${OrIf} $R4 == "LOG.OVX"
    ${OrIf} $R4 == "TRACE.OVX"
    ${OrIf} $R4 == ".TRACE.OVX.OLD"
    ${OrIf} $R4 == "${JOURNAL}"
      FindNext $R3 $R4
      Goto loop
    ${EndIf}
    StrCpy $R9 $R4
  done:
  FindClose $R3
FunctionEnd

; An update that moves BONDIR leaves the old spool to nobody: it is refused
; (silent: exit code 4) while receipts or the journal wait there, after the
; stop, which lets the driver finish the receipt it prints. A driver stopped
; so is started again.
Function CheckNothingWaits
  ${If} $Update != 1
    Return
  ${EndIf}
  StrCpy $R1 $OldBonDir
  StrCpy $R2 $NewBonDir
  Call SameDir
  StrCmp $R0 1 done
  Call FindWaiting
  StrCmp $R9 "" done
  MessageBox MB_OK|MB_ICONSTOP "În directorul bonurilor $OldBonDir așteaptă $R9: bonuri pe care driverul nu le-a terminat. Porniți ${PRODUCT} și lăsați-l să le termine (răspundeți la întrebările lui), apoi schimbați directorul bonurilor. Nu s-a schimbat nimic." /SD IDOK
  DetailPrint "În $OldBonDir așteaptă $R9: directorul bonurilor nu se schimbă."
  Call RestartDriver
  SetErrorLevel 4
  Abort
  done:
FunctionEnd

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
  MessageBox MB_OK|MB_ICONSTOP "Numele $Name este al instalării din $0. Alegeți alt nume (/NAME=...)." /SD IDOK
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
  Call RestoreBackButton
  !insertmacro MUI_HEADER_TEXT "Portul serial" "Alegeți portul serial la care este legată casa de marcat."
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
  ${NSD_CreateLabel} 0 0 100% 40u "Porturile seriale găsite pe acest calculator. Un adaptor USB apare de obicei ca COM3 sau mai mare (Manager dispozitive, Porturi). Puteți scrie și un alt port, de la COM1 la COM256, de exemplu COM12."
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
    MessageBox MB_OK|MB_ICONEXCLAMATION "Alegeți portul serial al casei de marcat."
    Abort
  ${EndIf}
  Call NormalisePort
  ${If} $R0 != 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "Portul serial $Port nu este valid. Alegeți un port de la COM1 la COM256, de exemplu COM3, sau scrieți o cale de dispozitiv ca \\.\COM12."
    Abort
  ${EndIf}
FunctionEnd

; The folder page: a missing drive or a path that is not one is said in
; words; then the installation's name (ChooseName).
Function FolderLeave
  StrCpy $R1 $INSTDIR
  Call CheckDrive
  ${If} $R0 == ""
    GetInstDirError $R1
    ${If} $R1 == 1
      StrCpy $R0 "$INSTDIR nu este un director valid. Alegeți un director ca C:\Program Files\${PRODUCT}."
    ${ElseIf} $R1 == 2
      StrCpy $R0 "Pe unitatea directorului $INSTDIR nu este destul spațiu liber."
    ${EndIf}
  ${EndIf}
  ${If} $R0 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION $R0
    Abort
  ${EndIf}
  Call ChooseName
FunctionEnd

; "< Înapoi" again after the question page, which names it "Nu".
Function RestoreBackButton
  GetDlgItem $R0 $HWNDPARENT 3
  SendMessage $R0 ${WM_SETTEXT} 0 "STR:$(^BackBtn)"
FunctionEnd

; When an installation is registered on this computer and the folder chosen
; is none of them, this page says that a second installation is made beside
; it and asks; its own buttons answer: Da (go on) and Nu (back to the
; folder page). Skipped otherwise.
Function SecondPage
  Call FindName
  StrCmp $Name "" 0 skip
  StrCpy $R5 0
  loop:
    EnumRegKey $R1 HKLM "${UNINSTALL_ROOT}" $R5
    StrCmp $R1 "" skip
    IntOp $R5 $R5 + 1
    ReadRegStr $R2 HKLM "${UNINSTALL_ROOT}\$R1" "Publisher"
    StrCmp $R2 "${PUBLISHER}" 0 loop
  ReadRegStr $R2 HKLM "${UNINSTALL_ROOT}\$R1" "InstallLocation"
  !insertmacro MUI_HEADER_TEXT "O a doua instalare" "Directorul ales nu este al instalării existente."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 100% "${PRODUCT} este instalat în $R2 ($R1). Directorul ales, $INSTDIR, nu este al acestei instalări: ${PRODUCT} se instalează încă o dată în el, alături de prima instalare, cu setările și directoarele ei proprii (pentru o a doua casă de marcat).$\r$\n$\r$\nPentru a actualiza instalarea existentă, apăsați Nu și alegeți directorul ei.$\r$\n$\r$\nFaceți o a doua instalare în $INSTDIR?"
  Pop $0
  GetDlgItem $R0 $HWNDPARENT 1
  SendMessage $R0 ${WM_SETTEXT} 0 "STR:Da"
  GetDlgItem $R0 $HWNDPARENT 3
  SendMessage $R0 ${WM_SETTEXT} 0 "STR:Nu"
  nsDialogs::Show
  Return
  skip:
  Abort
FunctionEnd

Function SecondLeave
  Call RestoreBackButton
FunctionEnd

; The spool directory page starts at the one of OVIX.INI, or, for a new
; installation, at the first one that no other installation uses (Plan).
Function BonDirPre
  Call RestoreBackButton
  ${If} $BonDir == ""
    Call Plan
    !insertmacro TRIM_DIR $BonDir $NewBonDir
  ${EndIf}
FunctionEnd

; Says where the printed receipts and the failed ones go: an update keeps
; OKDIR and ERRDIR of its OVIX.INI, a new installation puts them under its
; BONDIR.
Function BonDirShow
  Call Plan
  ${If} $Update == 1
    StrCpy $R0 "Programul de vânzare scrie bonurile în acest director; tot aici sunt jurnalul LOG.OVX și evidența OVIXNOVA.JOB. Bonurile tipărite merg în $OkDir, cele cu erori în $ErrDir (OKDIR și ERRDIR din OVIX.INI, care rămân)."
  ${Else}
    StrCpy $R0 "Programul de vânzare scrie bonurile în acest director; tot aici sunt jurnalul LOG.OVX și evidența OVIXNOVA.JOB. Bonurile tipărite merg în subdirectorul BONOK al lui, cele cu erori în BONERR (OKDIR și ERRDIR)."
  ${EndIf}
  FindWindow $R1 "#32770" "" $HWNDPARENT
  GetDlgItem $R1 $R1 1006
  SendMessage $R1 ${WM_SETTEXT} 0 "STR:$R0"
FunctionEnd

; A missing drive is said in words; directories that another installation
; uses are refused (CheckDirsFree), and the page stays.
Function BonDirLeave
  StrCpy $R1 $BonDir
  Call CheckDrive
  ${If} $R0 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION $R0
    Abort
  ${EndIf}
  Call Plan
  Call FindUser
  ${If} $R9 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "Directorul $R9 este folosit de instalarea $R5 ($R1). Fiecare casă de marcat are nevoie de directoarele ei: alegeți alt director al bonurilor."
    Abort
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
  ; A /D on a drive that does not exist is put aside for the default folder
  ; before this function runs, and taken off $CMDLINE; the process's own
  ; command line still has it. A silent install is refused; with pages,
  ; the folder page starts at it and says what is wrong.
  System::Call 'kernel32::GetCommandLine() t .R1'
  StrCpy $R2 0
  find_d:
    StrCpy $R3 $R1 4 $R2
    StrCmp $R3 "" no_d
    IntOp $R2 $R2 + 1
    StrCmp $R3 " /D=" 0 find_d
  IntOp $R2 $R2 + 3
  StrCpy $R1 $R1 "" $R2
  Call CheckDrive
  ${If} $R0 != ""
    ${If} ${Silent}
      !insertmacro REFUSE_INPUT $R0
    ${EndIf}
    StrCpy $INSTDIR $R1
  ${EndIf}
  no_d:
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

; Writes the chosen port and the directories of Plan into OVIX.INI, each
; only when it differs from what is there: COM3 as COM=3 (the driver takes
; a port number), a device path as it stands; BONDIR with its trailing '\';
; OKDIR and ERRDIR only for a new installation (an update keeps the shop's).
!macro WRITE_KEY key value
  ReadINIStr $R0 "$INSTDIR\OVIX.INI" "DEFAULT" "${key}"
  StrCmp $R0 "${value}" +2
    WriteINIStr "$INSTDIR\OVIX.INI" "DEFAULT" "${key}" "${value}"
!macroend
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
  ${If} $Update != 1
  ${OrIf} $BonDir != ""
    !insertmacro WRITE_KEY "BONDIR" $NewBonDir
  ${EndIf}
  ${If} $Update != 1
    !insertmacro WRITE_KEY "OKDIR" $OkDir
    !insertmacro WRITE_KEY "ERRDIR" $ErrDir
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
  ; Refusals that change nothing come first: the values given (6), the
  ; name (2), directories of another installation (5); after the stop, a
  ; driver that will not end (2) and receipts waiting in a spool that an
  ; update moves (4).
  Call CheckInput
  Call ChooseName
  Call Plan
  Call CheckDirsFree
  SetOutPath "$INSTDIR"
  Call StopDriver
  Call CheckNothingWaits
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
  Delete "$R0\${LNK_INI_OLD}"
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
    Delete "$R0\${LNK_INI_OLD}"
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
