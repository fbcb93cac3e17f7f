@echo off
rem Sets the latency timer of the FTDI adapter on one COM port, so that its replies reach
rem velmoran within the 11 ms window. Run it as administrator:
rem   ftdi-latency.bat COM4        the timer to 1 ms
rem   ftdi-latency.bat COM4 2      the timer to 2 ms (1 to 255)
rem It changes LatencyTimer in every key of FTDI's driver whose PortName is that port, and
rem no other, and prints each change. The driver reads the value when the adapter starts:
rem unplug it and plug it back in afterwards (or restart the PC).
rem Ends with 0 once every such key is set, 1 when a word is wrong, 2 when no FTDI key
rem names the port, 3 when a key could not be written (not run as administrator).
setlocal
set "root=HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS"
set "port=%~1"
set "ms=%~2"
if not defined ms set "ms=1"

rem The port: COM and a number from 1; the timer: a number from 1 to 255. Each must read
rem back as the same number, which leaves out signs, leading zeros and anything else.
if /i not "%port:~0,3%"=="COM" goto usage
set "number=%port:~3%"
set /a "checked=number" 2>nul
if not "%checked%"=="%number%" goto usage
if %checked% lss 1 goto usage
set "port=COM%checked%"
set /a "checked=ms" 2>nul
if not "%checked%"=="%ms%" goto usage
if %checked% lss 1 goto usage
if %checked% gtr 255 goto usage

set changed=0
set refused=0
rem reg prints each key that has a PortName, then that value: "    PortName    REG_SZ    COM4".
for /f "tokens=1,2,*" %%a in ('reg query "%root%" /s /v PortName 2^>nul') do call :consider "%%a" "%%b" "%%c"
if %refused% gtr 0 (
  echo ftdi-latency: could not write LatencyTimer for %port% in %refused% key^(s^): run this as administrator.
  exit /b 3
)
if %changed% equ 0 (
  echo ftdi-latency: no FTDI adapter is registered as %port%: check the port in Device Manager, Ports ^(COM ^& LPT^).
  exit /b 2
)
echo ftdi-latency: unplug the adapter on %port% and plug it back in: its driver reads the timer when the adapter starts.
exit /b 0

rem One line of reg's answer, in its first three words. A device's key has no space in its
rem instance ID: "...\<instance>\Device Parameters" comes as two words.
:consider
set "first=%~1"
if /i not "%first:~0,5%"=="HKEY_" goto value
set "key=%~1"
if not "%~2"=="" set "key=%~1 %~2"
if not "%~3"=="" set "key=%~1 %~2 %~3"
goto :eof
:value
if /i not "%~1"=="PortName" goto :eof
if not "%~2"=="REG_SZ" goto :eof
if /i not "%~3"=="%port%" goto :eof
set "was=not set"
for /f "tokens=1,2,3" %%x in ('reg query "%key%" /v LatencyTimer 2^>nul') do call :was "%%x" "%%y" "%%z"
reg add "%key%" /v LatencyTimer /t REG_DWORD /d %ms% /f >nul 2>&1
if errorlevel 1 (
  set /a refused+=1
  goto :eof
)
set /a changed+=1
rem The key's name is data: FTDI names an adapter without a serial number by its USB
rem location ("...+6&2B2D4E1&0&2"), and expanded with %%, each & would start a command.
rem Expanded with !, it is printed as it stands.
setlocal EnableDelayedExpansion
echo ftdi-latency: !port!: LatencyTimer !was! -^> !ms! ms in !key!
endlocal
goto :eof

:was
if /i not "%~1"=="LatencyTimer" goto :eof
if "%~2"=="REG_DWORD" set /a "was=%~3"
goto :eof

:usage
echo usage: ftdi-latency.bat COMn [MS]   ^(MS from 1 to 255; 1 if left out^)
exit /b 1
