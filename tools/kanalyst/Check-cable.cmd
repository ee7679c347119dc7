@echo off
rem Checks the controller cable: Kanalyst.exe beside this file writes a report on what it
rem finds and opens it in Notepad. Started from inside a zip, this file comes out alone: then
rem it says what to do and waits for a key, instead of leaving Windows to show its own box.
rem ASCII only, since cmd reads it in the console code page.
cd /d "%~dp0"
if not exist "%~dp0Kanalyst.exe" goto missing
start "" "%~dp0Kanalyst.exe" /report
exit /b 0

:missing
echo.
echo   Kanalyst.exe is not in this folder:
echo   "%~dp0"
echo.
echo   Extract the whole archive first: right-click the zip file, choose
echo   "Extract All...", open the Taktor folder it makes and run Check-cable.cmd there.
echo.
pause
exit /b 1
