@echo off
rem Registers the Monkey's Audio source filter that sits beside this script.
rem Run it from a command prompt started with "Run as administrator".
setlocal
set "module=%~dp0apesrc.dll"
if not exist "%module%" (
    echo install: apesrc.dll is not in %~dp0
    exit /b 1
)
if not exist "%~dp0MACDllC.dll" (
    echo install: MACDllC.dll must stay beside apesrc.dll in %~dp0
    exit /b 1
)
rem Only an elevated prompt may open the server sessions list.
net session >nul 2>&1
if errorlevel 1 (
    echo install: administrator rights are needed: open a command prompt with "Run as administrator" and run this script again.
    exit /b 1
)
regsvr32 /s "%module%"
if errorlevel 1 (
    echo install: regsvr32 could not register "%module%" ^(exit code %errorlevel%^).
    exit /b 1
)
echo Registered "%module%": the Monkey's Audio source filter is ready for DirectShow players.
echo Check it with: "%~dp0apeplay.exe" --info FILE.ape
exit /b 0
