@echo off
rem Removes what install.cmd registered, in every registry view it wrote (on
rem 64-bit Windows the 64-bit one and the 32-bit one, WOW6432Node): the
rem filter's class key, its entry in the filter mapper's list, the .ape
rem extension values of DirectShow and of the media player. It says what it
rem removes and leaves everything else alone: an .ape extension key that
rem names another source filter stays, and what the filter's registration
rem replaced there (kept under the filter's class key) comes back. The
rem filter's own unregistration
rem (regsvr32 /u) changes nothing outside a development system, so this
rem script works on the registry itself. The property handler and the Media
rem Foundation handler remove their own entries (regsvr32 /u) wherever their
rem class is registered. Run it from a command prompt started with "Run as
rem administrator"; the files may be deleted afterwards.
setlocal
set "here=%~dp0"
set "properties={8643C350-F7A8-4FEF-9DE7-A97DD3FBBF71}"
set "mediaFoundation={5847B50A-C1AF-4075-B2D2-D8D58B15E25D}"
rem As in install.cmd: Sysnative is a 32-bit prompt's way to the 64-bit
rem System32.
set "regsvr_64=%SystemRoot%\System32\regsvr32.exe"
if defined PROCESSOR_ARCHITEW6432 set "regsvr_64=%SystemRoot%\Sysnative\regsvr32.exe"
set "regsvr_32=%SystemRoot%\SysWOW64\regsvr32.exe"
set "regsvr_native=%SystemRoot%\System32\regsvr32.exe"
set "source={6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}"
rem The filter mapper files the source under its default category.
set "filters=HKLM\Software\Classes\CLSID\{083863F1-70DE-11D0-BD40-00A0C911CE86}\Instance"
set "extension=HKLM\Software\Classes\Media Type\Extensions\.ape"
rem Where registration keeps what it replaced in the extension key, and
rem notes that it made the key: named by the key's path with / for \.
set "kept=HKLM\Software\Classes\CLSID\%source%\KeptValues"
set "keptName=Software/Classes/Media Type/Extensions/.ape"
set "player=HKLM\Software\Microsoft\MediaPlayer\Player\Extensions"
rem The name of the media player's values for .ape.
set "playerValue={3F8E6A52-B1C4-4D09-A7E6-9C2D5B180F4E}"

set "views=native"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "views=64 32"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "views=64 32"

net session >nul 2>&1
if errorlevel 1 (
    echo uninstall: administrator rights are needed: open a command prompt with "Run as administrator" and run this script again.
    exit /b 1
)
set "removed="
set "failed="
for %%v in (%views%) do call :view %%v
if defined failed exit /b 1
if not defined removed echo Nothing of the Monkey's Audio source filter was registered.
if defined removed echo The Monkey's Audio source filter is no longer registered; this folder may be deleted.
exit /b 0

rem :view 64|32|native: everything in one registry view.
:view
set "option="
set "name="
if not "%~1"=="native" (
    set "option=/reg:%~1"
    set "name= in the %~1-bit view"
)
if "%~1"=="64" (set "folder=x64") else (set "folder=x86")
call :module apeprops.dll "%properties%" "the Explorer property handler" %~1
call :module apemf.dll "%mediaFoundation%" "the Media Foundation handler" %~1
rem The extension key is ours only while it names this filter. The value is
rem the last word of the last line reg prints. Before the class key, which
rem holds what registration kept.
set "owner="
for /f "tokens=3,*" %%a in ('reg query "%extension%" /v "Source Filter" %option% 2^>nul') do set "owner=%%b"
if /i "%owner%"=="%source%" (
    call :extension
) else (
    reg query "%extension%" %option% >nul 2>&1
    if not errorlevel 1 echo Left "%extension%"%name%: it names another source filter.
)
call :key "HKLM\Software\Classes\CLSID\%source%" "the filter's class"
call :key "%filters%\%source%" "the filter mapper's entry"
call :value "%player%\Types" "the media player's .ape type"
call :value "%player%\Descriptions" "the media player's .ape description"
goto :eof

rem :extension: the .ape extension key of DirectShow, which names this
rem filter. The filter's values go and what they replaced comes back; the
rem key goes too when registration made it and nothing else is left in it.
:extension
for %%n in ("Media Type" "Subtype" "Source Filter") do reg delete "%extension%" /v %%n /f %option% >nul 2>&1
reg query "%kept%\Replaced\%keptName%" %option% >nul 2>&1
if not errorlevel 1 reg copy "%kept%\Replaced\%keptName%" "%extension%" /f %option% >nul 2>&1
rem Every line reg prints but the key's own name is a value or a subkey.
set "left=0"
for /f "tokens=*" %%l in ('reg query "%extension%" %option% 2^>nul') do if /i not "%%l"=="HKEY_LOCAL_MACHINE%extension:~4%" set "left=1"
reg query "%kept%\Created" /v "%keptName%" %option% >nul 2>&1
if not errorlevel 1 if "%left%"=="0" (
    call :key "%extension%" "the .ape extension of DirectShow"
    goto :eof
)
reg query "%extension%" /v "Source Filter" %option% >nul 2>&1
if errorlevel 1 (
    echo Removed the .ape extension of DirectShow: the filter's values of "%extension%"%name%.
) else (
    echo Restored the .ape extension of DirectShow that the filter replaced: "%extension%"%name%.
)
set "removed=1"
goto :eof

rem :module FILE CLASS WHAT VIEW: unregistered by its own regsvr32 /u when
rem its class is registered in the view.
:module
reg query "HKLM\Software\Classes\CLSID\%~2" %option% >nul 2>&1
if errorlevel 1 goto :eof
call set "regsvr=%%regsvr_%~4%%"
"%regsvr%" /u /s "%here%%folder%\%~1"
if errorlevel 1 (
    echo uninstall: "%regsvr%" could not unregister "%here%%folder%\%~1"%name%.
    set "failed=1"
    goto :eof
)
echo Removed %~3: "%here%%folder%\%~1"%name%.
set "removed=1"
goto :eof

rem :key KEY WHAT
:key
reg query "%~1" %option% >nul 2>&1
if errorlevel 1 goto :eof
reg delete "%~1" /f %option% >nul 2>&1
if errorlevel 1 (
    echo uninstall: could not remove "%~1"%name%.
    set "failed=1"
    goto :eof
)
echo Removed %~2: "%~1"%name%.
set "removed=1"
goto :eof

rem :value KEY WHAT, the value named playerValue
:value
reg query "%~1" /v "%playerValue%" %option% >nul 2>&1
if errorlevel 1 goto :eof
reg delete "%~1" /v "%playerValue%" /f %option% >nul 2>&1
if errorlevel 1 (
    echo uninstall: could not remove value %playerValue% of "%~1"%name%.
    set "failed=1"
    goto :eof
)
echo Removed %~2: value %playerValue% of "%~1"%name%.
set "removed=1"
goto :eof
