; The Windows setup program: installs the release's modules for every
; machine, registers each through its own DllRegisterServer (regsvr32 of the
; module's width), lists the installation among the installed programs and
; writes the uninstaller. tools/package.sh builds it from the files it stages
; for the zip:
;   makensis -DVERSION=1.2.3 -DSTAGE=DIR -DOUTFILE=FILE setup.nsi
; STAGE holds x86\ and x64\ (each width's modules and tools), README.txt,
; LICENSE.txt and uninstall.cmd.
;
; Exit codes, installer and uninstaller alike: 0 done; 3010 done, but a
; module in use is replaced (or removed) only when Windows restarts; 740 no
; administrator rights; 1638 a newer version is installed (the installer
; refuses a downgrade unless the user agrees); 2 failed (a module could not
; be registered or unregistered: what was done stays, and the uninstall entry
; with it); 1 cancelled by the user.
;
; The uninstall entry's QuietUninstallString runs a copy of the uninstaller
; from the temporary folder and waits for it, so that its exit code is the
; uninstallation's: an uninstaller run by its own name starts such a copy
; itself and exits at once with 0, whatever the copy then does; one run in
; place (_?=) cannot delete itself or its folder before a restart.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
Name "apesrc ${VERSION}"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include WinMessages.nsh
!include MUI2.nsh

!define PRODUCT apesrc
!define PUBLISHER "The apesrc authors"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The name of the uninstaller's copy that QuietUninstallString runs.
!define QUIET_UNINSTALLER "${PRODUCT}-uninstall.exe"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; Windows' codes for the outcomes the header lists.
!define EXIT_FAILED 2
!define EXIT_ELEVATION_REQUIRED 740
!define EXIT_NEWER_VERSION_INSTALLED 1638
!define EXIT_RESTART_REQUIRED 3010
!define MOVEFILE_DELAY_UNTIL_REBOOT 4

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 ProductName "${PRODUCT}"
VIAddVersionKey /LANG=1033 CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=1033 FileDescription "${PRODUCT} ${VERSION} setup: Monkey's Audio for DirectShow, Media Foundation and Explorer"
VIAddVersionKey /LANG=1033 FileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 ProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 LegalCopyright "Copyright (c) ${YEAR} ${PUBLISHER}. MIT licence."
VIAddVersionKey /LANG=1033 OriginalFilename "${PRODUCT}-${VERSION}-setup.exe"

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; The widths this Windows runs: "x64 x86" on 64-bit Windows, "x86" on
; 32-bit; and the native one, Explorer's, whose tools go on the PATH.
Var widths
Var nativeWidth
; An installation this setup replaces: its version and folder.
Var previousVersion
Var previousFolder

; Both sides' start: administrator rights and the registry view of the
; uninstall entry (the 64-bit one on 64-bit Windows, where Windows lists the
; installed programs of both widths).
!macro Start
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed for every user of this computer: run this program as an administrator." /SD IDOK
        SetErrorLevel ${EXIT_ELEVATION_REQUIRED}
        Quit
    ${EndIf}
    ${If} ${RunningX64}
        SetRegView 64
        StrCpy $widths "x64 x86"
        StrCpy $nativeWidth x64
    ${Else}
        StrCpy $widths x86
        StrCpy $nativeWidth x86
    ${EndIf}
!macroend

; Removes a file of the installation (and a replacement still waiting for
; the restart beside it); one in use goes when Windows restarts.
!macro RemoveFile FILE
    Delete /REBOOTOK "${FILE}"
    Delete /REBOOTOK "${FILE}.new"
!macroend

; Fails the whole run with a message and the failure's exit code.
!macro Fail MESSAGE
    DetailPrint "${MESSAGE}"
    MessageBox MB_OK|MB_ICONSTOP "${MESSAGE}" /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Abort
!macroend

; Places one file of a width's folder. A file in use (a module a player has
; loaded) cannot be overwritten: the new one is written beside it and takes
; its place when Windows restarts.
!macro PlaceFile WIDTH FILE
    SetOutPath "$INSTDIR\${WIDTH}"
    SetOverwrite try
    ClearErrors
    File "${STAGE}\${WIDTH}\${FILE}"
    ${If} ${Errors}
        SetOverwrite on
        File "/oname=${FILE}.new" "${STAGE}\${WIDTH}\${FILE}"
        Rename /REBOOTOK "$INSTDIR\${WIDTH}\${FILE}.new" "$INSTDIR\${WIDTH}\${FILE}"
        DetailPrint "$INSTDIR\${WIDTH}\${FILE} is in use: the new one replaces it when Windows restarts."
    ${EndIf}
    SetOverwrite on
!macroend

; Registers a module through its own DllRegisterServer, with the regsvr32 of
; its width. This program is 32-bit: its System32 is the 32-bit one, and
; Sysnative is its way to the 64-bit one.
!macro Register WIDTH MODULE
    !if ${WIDTH} == x64
        StrCpy $1 "$WINDIR\Sysnative\regsvr32.exe"
    !else
        StrCpy $1 "$SYSDIR\regsvr32.exe"
    !endif
    ExecWait '"$1" /s "$INSTDIR\${WIDTH}\${MODULE}"' $0
    ${If} $0 != 0
        !insertmacro Fail "$1 could not register $INSTDIR\${WIDTH}\${MODULE} (exit code $0)."
    ${EndIf}
    DetailPrint "Registered $INSTDIR\${WIDTH}\${MODULE} with $1."
!macroend

; Places and registers a module in every width's folder.
!macro InstallModule MODULE
    ${If} $widths == "x64 x86"
        !insertmacro PlaceFile x64 ${MODULE}
    ${EndIf}
    !insertmacro PlaceFile x86 ${MODULE}
    ${If} $widths == "x64 x86"
        !insertmacro Register x64 ${MODULE}
    ${EndIf}
    !insertmacro Register x86 ${MODULE}
!macroend

; The system PATH, read, changed by WordAdd's OPERATION ("+FOLDER" adds,
; "-FOLDER" removes) and written back. A PATH that may not fit this
; program's strings (NSIS_MAX_STRLEN characters) is left alone: reading it
; would fail or writing it back would cut it short.
!macro EditPath OPERATION
    ClearErrors
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" Path
    StrLen $1 $0
    StrLen $2 "${OPERATION}"
    IntOp $1 $1 + $2
    ${If} ${Errors}
    ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
        DetailPrint "The system PATH is not changed: it is missing or too long for this program."
    ${Else}
        ${WordAdd} $0 ";" "${OPERATION}" $2
        ${If} $2 != $0
            WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" Path $2
            SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
        ${EndIf}
    ${EndIf}
!macroend

; Removes a folder of the installation when it is empty, or at the restart
; when a file in it goes only then. A folder still holding files of the
; user's stays.
!macro RemoveFolder FOLDER
    ${If} ${RebootFlag}
        RMDir /REBOOTOK "${FOLDER}"
    ${Else}
        RMDir "${FOLDER}"
    ${EndIf}
!macroend

Function .onInit
    !insertmacro Start
    ReadRegStr $previousVersion HKLM "${UNINSTALL_KEY}" DisplayVersion
    ReadRegStr $previousFolder HKLM "${UNINSTALL_KEY}" InstallLocation
    ; /D= has already set the folder.
    ${If} $INSTDIR == ""
        ${If} $previousFolder != ""
            StrCpy $INSTDIR $previousFolder
        ${ElseIf} ${RunningX64}
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        ${Else}
            StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
        ${EndIf}
    ${EndIf}
    ${If} $previousVersion != ""
        ${VersionCompare} "${VERSION}" $previousVersion $0
        ${If} $0 == 2
            MessageBox MB_YESNO|MB_ICONQUESTION "${PRODUCT} $previousVersion, newer than this setup's ${VERSION}, is installed. Replace it with ${VERSION}?" /SD IDNO IDYES downgrade
            SetErrorLevel ${EXIT_NEWER_VERSION_INSTALLED}
            Quit
            downgrade:
        ${EndIf}
    ${EndIf}
FunctionEnd

; An installation already there is removed first through its own quiet
; uninstall command, which this waits for: it knows what its version wrote,
; and this one writes its own afresh, in whichever folder.
Section "-Previous installation"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" QuietUninstallString
    ${If} $0 != ""
        DetailPrint "Removing ${PRODUCT} $previousVersion from $previousFolder."
        ExecWait $0 $0
        ${If} $0 == ${EXIT_RESTART_REQUIRED}
            SetRebootFlag true
        ${ElseIf} $0 != 0
            !insertmacro Fail "The uninstaller of ${PRODUCT} $previousVersion in $previousFolder failed (exit code $0)."
        ${EndIf}
    ${EndIf}
SectionEnd

; The uninstaller and its entry come before the modules: whatever a failure
; leaves behind can be uninstalled.
Section "-Uninstaller"
    SetOutPath $INSTDIR
    File "${STAGE}\README.txt" "${STAGE}\LICENSE.txt" "${STAGE}\uninstall.cmd"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${PRODUCT} ${VERSION} (Monkey's Audio for DirectShow, Media Foundation and Explorer)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\uninstall.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation $INSTDIR
    WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$WINDIR\System32\cmd.exe" /d /c copy /y "$INSTDIR\uninstall.exe" "%TEMP%\${QUIET_UNINSTALLER}" >nul && "%TEMP%\${QUIET_UNINSTALLER}" /S _?=$INSTDIR'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
SectionEnd

Section "DirectShow source filter (with its codec library)" filter
    ${If} $widths == "x64 x86"
        !insertmacro PlaceFile x64 MACDllC.dll
    ${EndIf}
    !insertmacro PlaceFile x86 MACDllC.dll
    !insertmacro InstallModule apesrc.dll
SectionEnd

Section "Media Foundation source" mediaFoundation
    !insertmacro InstallModule apemf.dll
SectionEnd

Section "Explorer handlers for .ape files" explorer
    !insertmacro InstallModule apeprops.dll
SectionEnd

Section "Console tools (apeplay, apedec)" tools
    ${If} $widths == "x64 x86"
        !insertmacro PlaceFile x64 apeplay.exe
        !insertmacro PlaceFile x64 apedec.exe
    ${EndIf}
    !insertmacro PlaceFile x86 apeplay.exe
    !insertmacro PlaceFile x86 apedec.exe
SectionEnd

Section "Console tools on the system PATH" path
    ${If} ${FileExists} "$INSTDIR\$nativeWidth\apeplay.exe"
        !insertmacro EditPath "+$INSTDIR\$nativeWidth"
    ${EndIf}
SectionEnd

; The size in KiB once replacements waiting for the restart have taken
; their modules' places.
Section "-Size"
    ${GetSize} $INSTDIR "/S=0K" $0 $1 $2
    ${GetSize} $INSTDIR "/M=*.new /S=0K" $3 $1 $2
    IntOp $0 $0 - $3
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

Function .onInstSuccess
    ${If} ${RebootFlag}
        SetErrorLevel ${EXIT_RESTART_REQUIRED}
    ${EndIf}
FunctionEnd

Function un.onInit
    !insertmacro Start
FunctionEnd

Section "Uninstall"
    ; uninstall.cmd unregisters the modules, each through its own
    ; DllUnregisterServer, and removes the filter's entries itself: the
    ; filter keeps its registration on a machine that is not a developer's.
    ${If} ${FileExists} "$INSTDIR\uninstall.cmd"
        nsExec::ExecToLog '"$SYSDIR\cmd.exe" /d /c ""$INSTDIR\uninstall.cmd""'
        Pop $0
        ${If} $0 != 0
            !insertmacro Fail "$INSTDIR\uninstall.cmd could not remove the registration (exit code $0); nothing has been deleted."
        ${EndIf}
    ${EndIf}
    !insertmacro EditPath "-$INSTDIR\x64"
    !insertmacro EditPath "-$INSTDIR\x86"

    ${ForEach} $R0 0 1 + 1
        ${If} $R0 == 0
            StrCpy $R1 x64
        ${Else}
            StrCpy $R1 x86
        ${EndIf}
        !insertmacro RemoveFile "$INSTDIR\$R1\apesrc.dll"
        !insertmacro RemoveFile "$INSTDIR\$R1\MACDllC.dll"
        !insertmacro RemoveFile "$INSTDIR\$R1\apemf.dll"
        !insertmacro RemoveFile "$INSTDIR\$R1\apeprops.dll"
        !insertmacro RemoveFile "$INSTDIR\$R1\apeplay.exe"
        !insertmacro RemoveFile "$INSTDIR\$R1\apedec.exe"
        !insertmacro RemoveFolder "$INSTDIR\$R1"
    ${Next}
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.cmd"
    ; Run in place (_?= from the folder itself), this program cannot delete
    ; itself until a restart. The copy QuietUninstallString runs goes at the
    ; next restart, as the one an uninstaller makes of itself does; that
    ; needs no restart of its own, so the reboot flag stays as it is.
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
    ${If} $EXEFILE == "${QUIET_UNINSTALLER}"
        System::Call 'kernel32::MoveFileExW(w "$EXEPATH", p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT})'
    ${EndIf}
    !insertmacro RemoveFolder $INSTDIR
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Function un.onUninstSuccess
    ${If} ${RebootFlag}
        SetErrorLevel ${EXIT_RESTART_REQUIRED}
        MessageBox MB_YESNO|MB_ICONINFORMATION "Some files of ${PRODUCT} are in use: they are removed when Windows restarts. Restart now?" /SD IDNO IDNO +2
        Reboot
    ${EndIf}
FunctionEnd
