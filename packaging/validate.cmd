@echo off
rem Checks the plug-in on this computer with the validator beside this file.
rem   validate.cmd                      the VELSTTNG.QVX of this package
rem   validate.cmd <plug-in file>       that file, e.g. the copy the host loads
rem Options go to the validator, before or after the file:
rem validate.cmd --sessions 20 (quote a list: --only "a,b").
rem The report and the full log are written beside this file, or under %TEMP%
rem when this folder refuses writes. The exit status is the validator's.
rem
rem Paths are only ever expanded inside quotes or handed over whole (%*), so
rem folders named with spaces, &, (, ), %, ^ or in Japanese work as they are.
setlocal EnableExtensions DisableDelayedExpansion
title Plug-in validator

rem The kit's folder. Wine's cmd drops a % from %~dp0; the script's name as it
rem was started, %~0, still leads there from the folder it runs in.
set "KIT=%~dp0"
if not exist "%KIT%plugin-validator.exe" set "KIT=%~0\..\"
rem Explorer opens a script inside a zip by copying that one file out: the
rem validator beside it is then missing.
if exist "%KIT%plugin-validator.exe" goto judge
echo validate.cmd: extract the whole zip first (Extract All...), then run validator\validate.cmd from the extracted folder.
set STATUS=2
goto end

:judge
echo This takes about half a minute; the window stays open until it is done.
echo.
"%KIT%plugin-validator.exe" --validate --report-folder "%KIT%." --default-plugin "%KIT%..\VELSTTNG.QVX" %*
set STATUS=%ERRORLEVEL%

:end
call :double_clicked
if errorlevel 1 pause
exit /b %STATUS%

rem Sets errorlevel 1 when Explorer started this script, which it does as
rem cmd /c ""<script>" ": only then would the window close before the report
rem can be read. A console, or a script's cmd /c, keeps its window or needs none.
:double_clicked
setlocal EnableDelayedExpansion
set "CALLER=!CMDCMDLINE!"
if not defined CALLER exit /b 0
set "REST=!CALLER:/c ""=!"
if "!REST!"=="!CALLER!" exit /b 0
exit /b 1
