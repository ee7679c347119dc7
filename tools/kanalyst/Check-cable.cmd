@echo off
rem Checks the controller cable: Kanalyst.exe beside this file writes a report on what it
rem finds and opens it in Notepad.
cd /d "%~dp0"
start "" "%~dp0Kanalyst.exe" /report
