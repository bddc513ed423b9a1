@echo off
rem Checks the plug-in on this computer with the validator beside this file.
rem   validate.cmd                      the VELSTTNG.QVX of this package
rem   validate.cmd <plug-in file>       that file, e.g. the copy the host loads
rem Arguments that start with - go to the validator as they are (--sessions 20).
rem The report and the full log are written beside this file, or under %TEMP%
rem when this folder refuses writes. The exit status is the validator's.
setlocal EnableExtensions DisableDelayedExpansion
title Plug-in validator
set "KIT=%~dp0"
set "PLUGIN="
set "EXTRA="

:arguments
if "%~1"=="" goto run
set "ARGUMENT=%~1"
if "%ARGUMENT:~0,1%"=="-" goto option
if defined PLUGIN goto two_files
set "PLUGIN=%~f1"
shift
goto arguments
:option
set EXTRA=%EXTRA% %1
shift
goto arguments

:two_files
echo validate.cmd: give one plug-in file at most
set STATUS=2
goto end

:run
if not defined PLUGIN for %%F in ("%KIT%..\VELSTTNG.QVX") do set "PLUGIN=%%~fF"
if exist "%PLUGIN%" goto judge
echo validate.cmd: no plug-in file at %PLUGIN%
set STATUS=2
goto end

:judge
echo Checking %PLUGIN%
echo This takes a few minutes; the window stays open until it is done.
echo.
"%KIT%plugin-validator.exe" --validate --report-folder "%KIT%." %EXTRA% "%PLUGIN%"
set STATUS=%ERRORLEVEL%

:end
call :opened_from_explorer && pause
exit /b %STATUS%

rem Explorer runs a double-clicked script as cmd /c ""<script>" ": only then
rem would the window close before the report can be read. A console, or a
rem script's cmd /c, keeps its own window or needs none.
:opened_from_explorer
setlocal EnableDelayedExpansion
set "CALLER=!CMDCMDLINE!"
set "REST=!CALLER:/c ""=!"
if "!REST!"=="!CALLER!" exit /b 1
exit /b 0
