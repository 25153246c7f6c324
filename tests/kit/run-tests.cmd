@echo off
rem Runs every Windows test suite of this kit on this computer (see README.txt):
rem   run-tests.cmd                the suites; from a standard prompt the cases that
rem                                would show Windows' administrator prompt are skipped
rem   run-tests.cmd /interactive   those too: a person answers the prompts as told
rem Everything happens in a new folder under %TEMP%, which keeps the results.
rem Kept to what every cmd.exe it was tried with does alike: no findstr, no delayed
rem expansion, no command inside "for /f" (its quoting differs), no "||" or "&&"
rem (some took a command that worked for one that failed).
setlocal EnableExtensions DisableDelayedExpansion

set "kit=%~dp0"
set "interactive="
if /i "%~1"=="/interactive" set "interactive=1"
if not "%~1"=="" if not defined interactive (
    echo usage: run-tests.cmd [/interactive]
    exit /b 2
)
if not exist "%kit%bin\e2e_tests.exe" (
    echo The kit is incomplete: unpack the whole zip into a folder first, then start
    echo run-tests.cmd there.
    call :pause_if_double_clicked
    exit /b 2
)

:scratch
set "scratch=%TEMP%\tervan58-tests-%RANDOM%%RANDOM%"
if exist "%scratch%" goto scratch
mkdir "%scratch%\temp"
if not exist "%scratch%\temp\" exit /b 2
xcopy "%kit%bin" "%scratch%\bin\" /e /i /q /y >nul
if errorlevel 1 exit /b 2
copy "%kit%README.txt" "%scratch%\" >nul
set "bin=%scratch%\bin"
set "results=%scratch%\results.txt"

rem The suites' own scratch folders go inside this one, and they find the programs
rem under test beside the updater.
set "TEMP=%scratch%\temp"
set "TMP=%scratch%\temp"
set "TERVAN_UPDATER_EXE=%bin%\tervan58-updater.exe"
set "TERVAN_INTERACTIVE="
if defined interactive set "TERVAN_INTERACTIVE=1"

"%bin%\e2e_tests.exe" --describe-system >"%scratch%\system.txt" 2>&1
set "elevated=?"
for /f "usebackq tokens=1,2" %%a in ("%scratch%\system.txt") do (
    if "%%a"=="elevated:" set "elevated=%%b"
)
>"%results%" echo Tervan58 Windows tests, %~nx0 from "%kit%"
type "%bin%\kit.txt" >>"%results%"
ver >>"%results%"
>>"%results%" echo.
type "%scratch%\system.txt" >>"%results%"
if defined interactive (>>"%results%" echo run with /interactive) else (
    >>"%results%" echo run without /interactive
)
>>"%results%" echo.
type "%results%"

set /a passed=0, failed=0, skipped=0
call :suite win32_tests
if defined interactive if "%elevated%"=="no" (
    echo.
    echo During the next suite Windows asks twice for administrator rights for
    echo tervan58-updater.exe: click No the first time and Yes the second. This window
    echo says when.
)
call :suite e2e_tests
call :suite reliability_tests
call :program reliability.KillDuringReplacement reliability_kill.exe --kills 10 --mib 16 --seed 5816

set "closing=%passed% passed, %failed% failed, %skipped% skipped"
>>"%results%" echo.
>>"%results%" echo %closing%
echo.
echo Results, logs and GoogleTest's XML: %scratch%
echo %closing%
call :pause_if_double_clicked
if %failed% gtr 0 exit /b 1
exit /b 0

rem :suite NAME - runs bin\NAME.exe, every test in it, and adds its tally.
:suite
set "log=%scratch%\%1.log"
"%bin%\%1.exe" --gtest_list_tests --gtest_output=xml:"%scratch%\%1-list.xml" >nul 2>&1
set listed=0
find "<testsuites " <"%scratch%\%1-list.xml" >"%scratch%\found.txt"
for /f "usebackq tokens=1-3 delims== " %%a in ("%scratch%\found.txt") do set "listed=%%~c"
echo %1: %listed% tests, running...
"%bin%\%1.exe" --gtest_output=xml:"%scratch%\%1.xml" >"%log%" 2>&1
set code=%errorlevel%
set suite_passed=0
set suite_skipped=0
find "[  PASSED  ]" <"%log%" >"%scratch%\found.txt"
for /f "usebackq tokens=1-5" %%a in ("%scratch%\found.txt") do set "suite_passed=%%d"
find "[  SKIPPED ]" <"%log%" >"%scratch%\found.txt"
for /f "usebackq tokens=1-5" %%a in ("%scratch%\found.txt") do (
    if "%%e"=="test," set "suite_skipped=%%d"
    if "%%e"=="tests," set "suite_skipped=%%d"
)
rem Every listed test that did not pass or skip failed, or never ran.
set /a suite_failed=listed-suite_passed-suite_skipped
if not "%code%"=="0" if %suite_failed% equ 0 set suite_failed=1
set /a passed+=suite_passed, failed+=suite_failed, skipped+=suite_skipped
set "tally=%1: %listed% tests, %suite_passed% passed, %suite_failed% failed, %suite_skipped% skipped"
echo %tally%
>>"%results%" echo %tally%
call :names "[  SKIPPED ]" skipped
call :names "[  FAILED  ]" failed
if not "%code%"=="0" if not exist "%scratch%\%1.xml" (
    >>"%results%" echo   %1 ended with code %code% before its summary
)
exit /b 0

rem :names MARK WORD - the tests gtest's summary lists under MARK, one a line.
:names
find %1 <"%log%" >"%scratch%\found.txt"
for /f "usebackq tokens=1-5" %%a in ("%scratch%\found.txt") do (
    if "%%e"=="" >>"%results%" echo   %2: %%d
    if "%%e"=="where" >>"%results%" echo   %2: %%d
)
exit /b 0

rem :program NAME EXE ARGS... - one test: a program that exits with 0 when it passes.
:program
set "name=%1"
set "exe=%2"
shift
shift
set "args="
:program_args
if "%~1"=="" goto program_run
set "args=%args% %1"
shift
goto program_args
:program_run
echo %name%: running...
"%bin%\%exe%"%args% >"%scratch%\%name%.log" 2>&1
if errorlevel 1 (
    set /a failed+=1
    set "tally=%name%: failed"
) else (
    set /a passed+=1
    set "tally=%name%: passed"
)
echo %tally%
>>"%results%" echo %tally%
exit /b 0

rem Started from Explorer the window would close with the results unread.
:pause_if_double_clicked
echo "%cmdcmdline%" | find /i " /c " >nul
if not errorlevel 1 pause
exit /b 0
