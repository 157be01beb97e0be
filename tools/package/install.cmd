@echo off
rem Registers the modules of this package: the Monkey's Audio source filter
rem (DirectShow), the Explorer property handler and the Media Foundation
rem byte-stream handler. On 64-bit Windows: the x64 modules, for 64-bit
rem players and Explorer, with the 64-bit regsvr32, and the x86 modules, for
rem 32-bit programs, with the 32-bit one. On 32-bit Windows: the x86 ones. Run it from a command prompt started with
rem "Run as administrator"; uninstall.cmd removes what it registers.
setlocal
set "here=%~dp0"
rem The modules each width registers, from its folder; MACDllC.dll stays
rem beside them. Paths are quoted wherever they are echoed within a block:
rem a folder such as "Program Files (x86)" would otherwise end the block.
set "modules=apesrc.dll apeprops.dll apemf.dll"

rem A 32-bit prompt on 64-bit Windows is shown the 32-bit System32 under that
rem name; Sysnative is its way to the 64-bit one.
set "widths=x86"
set "regsvr_x86=%SystemRoot%\System32\regsvr32.exe"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "widths=x64 x86"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "widths=x64 x86"
if not "%widths%"=="x86" set "regsvr_x86=%SystemRoot%\SysWOW64\regsvr32.exe"
set "regsvr_x64=%SystemRoot%\System32\regsvr32.exe"
if defined PROCESSOR_ARCHITEW6432 set "regsvr_x64=%SystemRoot%\Sysnative\regsvr32.exe"

set "missing="
for %%w in (%widths%) do call :check %%w
if defined missing (
    echo install: %missing% is not in "%here%"; unpack the whole zip and run install.cmd from its folder.
    exit /b 1
)
rem Only an elevated prompt may open the server sessions list.
net session >nul 2>&1
if errorlevel 1 (
    echo install: administrator rights are needed: open a command prompt with "Run as administrator" and run this script again.
    exit /b 1
)
set "failed="
for %%w in (%widths%) do call :register %%w
if defined failed exit /b 1
echo Monkey's Audio files are ready for DirectShow and Media Foundation players and for Explorer ^(%widths%^).
for %%w in (%widths%) do echo Check the %%w filter with: "%here%%%w\apeplay.exe" --info FILE.ape
exit /b 0

rem :check WIDTH: notes in "missing" a file of the width's folder that is not there.
:check
for %%m in (%modules% MACDllC.dll) do if not exist "%here%%~1\%%m" set "missing=%~1\%%m"
goto :eof

rem :register WIDTH: registers the width's modules with its regsvr32.
:register
if "%~1"=="x64" (set "regsvr=%regsvr_x64%") else (set "regsvr=%regsvr_x86%")
for %%m in (%modules%) do call :registerModule %~1 %%m
goto :eof

rem :registerModule WIDTH MODULE
:registerModule
"%regsvr%" /s "%here%%~1\%~2"
if errorlevel 1 (
    echo install: "%regsvr%" could not register "%here%%~1\%~2" ^(exit code %errorlevel%^).
    set "failed=1"
    goto :eof
)
echo Registered "%here%%~1\%~2" ^(%~1^) with "%regsvr%".
goto :eof
