; The Windows installer of tarvelin (packaging/windows/build makes it):
;   makensis -DSTAGE=<folder of the stripped programs> -DOUTFILE=<installer> tarvelin.nsi
; It installs the programs into $PROGRAMFILES64\tarvelin, gives them the
; installed GPL Ghostscript as gs\gswin32.exe and installs the printer with
; the program's own installation flow. Options: /S (silent), /D=<folder>,
; /OUTPUT=<the output PDF> (default: Documents\tarvelin.pdf).
; setup.log beside the programs tells what the installation did.

Unicode true
Target amd64-unicode
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!ifndef STAGE
  !error "give -DSTAGE=<folder of the programs>"
!endif
!ifndef OUTFILE
  !error "give -DOUTFILE=<installer>"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tarvelin"
!define GS_KEY "SOFTWARE\GPL Ghostscript"
!define MONITORS_KEY "SYSTEM\CurrentControlSet\Control\Print\Monitors"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define AUTORUN_VALUE "QuorvelPrinterAutoSyncFile"
!define GS_MISSING "tarvelin needs GPL Ghostscript 64-bit, installed first: \
  https://ghostscript.com/releases/$\r$\n$\r$\nNo installation was found (the registry key \
  HKLM\${GS_KEY}\<version> with GS_DLL naming gsdll64.dll, and gswin64c.exe beside it). \
  Nothing was installed."

Name "tarvelin"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\tarvelin"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var GsDll     ; the chosen Ghostscript's gsdll64.dll
Var GsVersion
Var LogFile

; Shows a line in the details and appends it to $LogFile (a silent run has
; no details list to read).
!macro Log text
  DetailPrint "${text}"
  ClearErrors
  FileOpen $9 $LogFile a
  ${IfNot} ${Errors}
    FileSeek $9 0 END
    FileWrite $9 "${text}$\r$\n"
    FileClose $9
  ${EndIf}
!macroend

; The system's words for an error code: $1 in, $1 out as "<text> (<code>)".
Function un.ErrorText
    System::Call 'kernel32::FormatMessageW(i 0x1200, p 0, i r1, i 0, w .r2, i ${NSIS_MAX_STRLEN}, \
      p 0) i .r3'
    ${If} $3 = 0
      StrCpy $2 "error"
    ${Else}
      ; the text ends with a line break
      IntOp $3 $3 - 2
      StrCpy $2 $2 $3
    ${EndIf}
    StrCpy $1 "$2 ($1)"
FunctionEnd

; The highest version under HKLM\SOFTWARE\GPL Ghostscript whose GS_DLL and
; the console program beside it exist; $GsDll stays empty when there is none.
Function FindGhostscript
  StrCpy $GsDll ""
  StrCpy $GsVersion ""
  StrCpy $0 0
  ${Do}
    ClearErrors
    EnumRegKey $1 HKLM "${GS_KEY}" $0
    ${If} ${Errors}
    ${OrIf} $1 == ""
      ${ExitDo}
    ${EndIf}
    IntOp $0 $0 + 1
    ReadRegStr $2 HKLM "${GS_KEY}\$1" GS_DLL
    ${GetParent} $2 $3
    ${If} $2 == ""
    ${OrIfNot} ${FileExists} $2
    ${OrIfNot} ${FileExists} "$3\gswin64c.exe"
      ${Continue}
    ${EndIf}
    ${If} $GsVersion != ""
      ${VersionCompare} $1 $GsVersion $4
      ${IfThen} $4 != 1 ${|} ${Continue} ${|}
    ${EndIf}
    StrCpy $GsVersion $1
    StrCpy $GsDll $2
  ${Loop}
FunctionEnd

Function .onInit
  SetRegView 64
  Call FindGhostscript
  ${If} $GsDll == ""
    MessageBox MB_OK|MB_ICONSTOP "${GS_MISSING}" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Section "tarvelin"
  SetOutPath $INSTDIR
  StrCpy $LogFile "$INSTDIR\setup.log"
  Delete $LogFile
  !insertmacro Log "Installing into $INSTDIR"
  File "${STAGE}\tarvelin.exe"
  File "${STAGE}\pdfsdk.dll"
  File "${STAGE}\pdfutil.dll"
  File "${STAGE}\pdfcp.exe"

  ; The program runs gs\gswin32.exe beside itself, and gswin64c.exe loads
  ; gsdll64.dll from its own folder: both are copied there (Windows has no
  ; link an unprivileged process may make), so Ghostscript keeps working for
  ; the program until this setup is run again, whatever happens to its own
  ; installation.
  ${GetParent} $GsDll $0
  !insertmacro Log "Ghostscript $GsVersion: $0"
  CreateDirectory "$INSTDIR\gs"
  ClearErrors
  CopyFiles /SILENT "$0\gswin64c.exe" "$INSTDIR\gs\gswin32.exe"
  CopyFiles /SILENT "$GsDll" "$INSTDIR\gs\gsdll64.dll"
  ${If} ${Errors}
    !insertmacro Log "Ghostscript could not be copied from $0 into $INSTDIR\gs"
    MessageBox MB_OK|MB_ICONSTOP "Ghostscript could not be copied from $0 into $INSTDIR\gs." \
      /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}

  ; The output PDF: /OUTPUT=, else the value config.ini has, else the
  ; installing user's Documents.
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/OUTPUT=" $0
  ${If} ${Errors}
    ReadINIStr $0 "$INSTDIR\config.ini" Options OutputPDFFile
    ${IfThen} $0 == "" ${|} StrCpy $0 "$DOCUMENTS\tarvelin.pdf" ${|}
  ${EndIf}
  WriteINIStr "$INSTDIR\config.ini" Options OutputPDFFile $0
  !insertmacro Log "OutputPDFFile: $0"
  ; The program makes no folders for it.
  ${GetParent} $0 $1
  ${IfThen} $1 != "" ${|} CreateDirectory $1 ${|}

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "tarvelin"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\tarvelin.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0

  ; The printer: the program's own flow installs the monitor's port and the
  ; printer; its outcome is in its exit code and tarvelin.log (when on).
  !insertmacro Log "Running tarvelin.exe -install-quorvel-printer"
  nsExec::ExecToLog '"$INSTDIR\tarvelin.exe" -install-quorvel-printer'
  Pop $0
  !insertmacro Log "tarvelin.exe -install-quorvel-printer: exit code $0"

  ; The flow wrote the names it used back into config.ini: they are what the
  ; uninstaller removes.
  ReadINIStr $0 "$INSTDIR\config.ini" Options PrinterName
  ReadINIStr $1 "$INSTDIR\config.ini" Options PortName
  ReadINIStr $2 "$INSTDIR\config.ini" Options MonitorName
  WriteRegStr HKLM "${UNINSTALL_KEY}" PrinterName $0
  WriteRegStr HKLM "${UNINSTALL_KEY}" PortName $1
  WriteRegStr HKLM "${UNINSTALL_KEY}" MonitorName $2
  !insertmacro Log "Printer: $0, port $1 of the monitor $2"
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Deletes the printer named $0 through winspool; a failure is logged.
Function un.DeletePrinter
  ; PRINTER_DEFAULTS asking PRINTER_ALL_ACCESS, which DeletePrinter needs
  System::Call '*(p 0, p 0, i 0x000F000C) p .r5'
  System::Call 'winspool.drv::OpenPrinterW(w r0, *p .r6, p r5) i .r3 ?e'
  Pop $1
  System::Free $5
  ${If} $3 = 0
    ${If} $1 = 1801  ; ERROR_INVALID_PRINTER_NAME: there is none
      !insertmacro Log "No printer $0 to remove"
    ${Else}
      Call un.ErrorText
      !insertmacro Log "The printer $0 could not be opened: $1"
    ${EndIf}
    Return
  ${EndIf}
  System::Call 'winspool.drv::DeletePrinter(p r6) i .r3 ?e'
  Pop $1
  ${If} $3 = 0
    Call un.ErrorText
    !insertmacro Log "The printer $0 could not be removed: $1"
  ${Else}
    !insertmacro Log "Removed the printer $0"
  ${EndIf}
  System::Call 'winspool.drv::ClosePrinter(p r6)'
FunctionEnd

Section "Uninstall"
  ; Its details go to the temporary folder: the install folder goes away.
  StrCpy $LogFile "$TEMP\tarvelin-uninstall.log"
  Delete $LogFile
  !insertmacro Log "Uninstalling $INSTDIR"
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" PrinterName
  ${If} $0 != ""
    Call un.DeletePrinter
  ${EndIf}
  ; The port's key only: the monitor's own key was there before (the flow
  ; goes on only once the spooler lists the monitor).
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" PortName
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" MonitorName
  ${If} $1 != ""
  ${AndIf} $2 != ""
    ClearErrors
    EnumRegValue $3 HKLM "${MONITORS_KEY}\$2\$1" 0
    ${IfNot} ${Errors}
      DeleteRegKey HKLM "${MONITORS_KEY}\$2\$1"
      !insertmacro Log "Removed the port key ${MONITORS_KEY}\$2\$1"
    ${EndIf}
  ${EndIf}
  ; The sync instance's auto-run entry, when the flow made one for this
  ; program.
  ReadRegStr $0 HKLM "${RUN_KEY}" "${AUTORUN_VALUE}"
  ${If} $0 == '"$INSTDIR\tarvelin.exe" -syncpdf'
    DeleteRegValue HKLM "${RUN_KEY}" "${AUTORUN_VALUE}"
    !insertmacro Log "Removed the auto-run entry ${AUTORUN_VALUE}"
  ${EndIf}

  ; Every file of ours by name: the output PDF may lie in this folder too.
  Delete "$INSTDIR\tarvelin.exe"
  Delete "$INSTDIR\pdfsdk.dll"
  Delete "$INSTDIR\pdfutil.dll"
  Delete "$INSTDIR\pdfcp.exe"
  Delete "$INSTDIR\gs\gswin32.exe"
  Delete "$INSTDIR\gs\gsdll64.dll"
  RMDir "$INSTDIR\gs"
  Delete "$INSTDIR\config.ini"
  Delete "$INSTDIR\config.ini.lock"
  Delete "$INSTDIR\.config.ini.*.tmp"
  Delete "$INSTDIR\tarvelin.log"
  Delete "$INSTDIR\pdfsdk.log"
  Delete "$INSTDIR\pdfutil.log"
  Delete "$INSTDIR\pdfcp.log"
  Delete "$INSTDIR\setup.log"
  Delete "$INSTDIR\Uninstall.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\*.*"
    !insertmacro Log "$INSTDIR is kept: it holds files that are not ours"
  ${EndIf}
SectionEnd
