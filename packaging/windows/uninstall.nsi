; uninstall.exe of an installation, built by ovixnova.nsi (!makensis):
;   makensis -DOUTFILE=... -DICON=... [-DAMD64] uninstall.nsi
; The uninstaller proper (uninstall-core.exe beside it, written by the
; installer) copies itself to the temporary directory and runs from there,
; so that it can remove the program directory; its first process ends at
; once with status 0, whatever the uninstall then does. This program runs
; it so that nothing copies itself behind its back and waits for it: its
; exit status is the uninstall's (0 done, 1 cancelled, 2 refused). Its own
; file, in use while it runs, is removed by the copy of the uninstaller run
; once more with /CLEANUP after this program ended.

!ifdef AMD64
  Target amd64-unicode
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
SilentInstall silent
Name "OVIXNOVA"
OutFile "${OUTFILE}"
Icon "${ICON}"

!include "FileFunc.nsh"

Section
  ${GetParameters} $1
  GetTempFileName $0
  ClearErrors
  CopyFiles /SILENT "$EXEDIR\uninstall-core.exe" $0
  IfErrors 0 +3
    SetErrorLevel 2
    Quit
  ExecWait '"$0" $1 _?=$EXEDIR' $2
  IfErrors 0 +2
    StrCpy $2 2
  StrCmp $2 0 0 +3
    Exec '"$0" /S /CLEANUP _?=$EXEDIR'
    Goto +2
  Delete $0
  SetErrorLevel $2
SectionEnd
