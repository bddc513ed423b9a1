@echo off
rem Checks the plug-in on this computer with the validator beside this file.
rem   validate.cmd                      the VELSTTNG.QVX of this package
rem   validate.cmd <plug-in file>       that file, e.g. the copy the host loads
rem Arguments after the file, or all when the first starts with -, go to the
rem validator: validate.cmd --sessions 20 (quote a list after a file: "a,b").
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
if "%ARGUMENT:~0,1%"=="-" set EXTRA=%*
if defined EXTRA goto run
set "PLUGIN=%~f1"
shift
:options
if "%~1"=="" goto run
set EXTRA=%EXTRA% %1
shift
goto options

:run
if not defined PLUGIN for %%F in ("%KIT%..\VELSTTNG.QVX") do set "PLUGIN=%%~fF"
if exist "%PLUGIN%" goto judge
echo validate.cmd: no plug-in file at %PLUGIN%
set STATUS=2
goto end

:judge
echo Checking %PLUGIN%
echo This takes a minute or two; the window stays open until it is done.
echo.
"%KIT%plugin-validator.exe" --validate --report-folder "%KIT%." %EXTRA% "%PLUGIN%"
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
