@echo off
rem The demo package: shows where it was unpacked and what it holds, and
rem leaves a receipt a user can open after the launcher has cleaned up.
echo Unpacked into %CD%
dir /b
type hello.txt
echo Installed by the UnPackFile demo on %DATE% %TIME% > "%WINDIR%\Temp\unpack-demo-receipt.txt"
exit /b 0
