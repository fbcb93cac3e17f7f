@echo off
rem Selects the device on the CAN bus, then starts the firmware download.
rem   download.bat COM4 0x1FFFFFF0 0x01 0x02
rem Ends with 0 once the download has started, 1 when the device never answered,
rem 2 when the port is missing or busy, 3 when a word is wrong, 4 when velmoran did not run.
setlocal
set tries=1
:try
velmoran %*
rem A status below 0 is Windows' own, not velmoran's: a crash (0xC0000005), Ctrl-C
rem (0xC000013A), a missing DLL (0xC0000135). "if errorlevel" never matches those.
if %errorlevel% lss 0 goto notrun
rem "if errorlevel N" holds for N and every status above it: the highest comes first.
if errorlevel 8 goto notrun
if errorlevel 7 goto silent
if errorlevel 4 goto wrong
if errorlevel 3 goto port
if errorlevel 1 goto wrong
echo Device selected: starting the download.
rem Start the firmware download here.
exit /b 0
:silent
if %tries% lss 3 (
  set /a tries+=1
  goto try
)
echo No acknowledgment after %tries% tries.
exit /b 1
:port
echo Port missing or held by another program.
exit /b 2
:wrong
echo Wrong words on the command line.
exit /b 3
:notrun
echo velmoran did not run (status %errorlevel%).
exit /b 4
