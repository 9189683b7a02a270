@echo off
rem Runs every test of this unpacked bundle, each in a process of its own as
rem CTest runs them, from a scratch folder under %TEMP%. Writes a GoogleTest
rem XML report per test into the "reports" folder beside this file and ends
rem with one line "tests: N passed, N failed" (", N skipped" when any were).
rem The exit code is 0 only when no test failed.
setlocal EnableExtensions EnableDelayedExpansion
set "QUARRY_TEST_ROOT=%~dp0"
set "reports=%~dp0reports"
if exist "%reports%" rmdir /s /q "%reports%"
mkdir "%reports%"
set "scratch=%TEMP%\quarry-tests-%RANDOM%%RANDOM%"
mkdir "%scratch%"
if errorlevel 1 (
  echo run-tests: cannot make the scratch folder %scratch%
  exit /b 1
)
set /a passed=0, failed=0, skipped=0, number=0
pushd "%scratch%"
for /f "delims=" %%P in ('dir /b /on "%~dp0tests\*tests.exe"') do call :program "%~dp0tests\%%P"
popd
rmdir /s /q "%scratch%" 2>nul
if %skipped% gtr 0 (
  echo tests: %passed% passed, %failed% failed, %skipped% skipped
) else (
  echo tests: %passed% passed, %failed% failed
)
if %failed% gtr 0 exit /b 1
exit /b 0

rem Every test of one program: GoogleTest lists each suite as "Suite." and
rem its tests indented below it; a line before the first suite is no test.
rem Each line is looked at in a call of its own, where %line% is expanded
rem afresh.
:program
set "suite="
for /f "usebackq delims=" %%L in (`""%~1" --gtest_list_tests"`) do (
  set "line=%%L"
  call :entry "%~1"
)
goto :eof

:entry
if not "%line:~0,1%"==" " (
  set "suite=%line%"
  goto :eof
)
if not defined suite goto :eof
for /f "tokens=1" %%N in ("%line%") do call :run "%~1" "%suite%%%N" "%~n1"
goto :eof

rem One test: program, full test name, program name for the report.
:run
set /a number+=1
set "log=%scratch%\test.log"
"%~1" --gtest_filter=%2 "--gtest_output=xml:%reports%\%~3-%number%.xml" > "%log%" 2>&1
rem 9009: the shell could not start the program at all, which a loaded
rem machine does now and then; one more try tells that from a missing file.
if %errorlevel% equ 9009 (
  "%~1" --gtest_filter=%2 "--gtest_output=xml:%reports%\%~3-%number%.xml" > "%log%" 2>&1
)
if errorlevel 1 (
  set /a failed+=1
  echo FAILED  %~2
  type "%log%"
  goto :eof
)
call :contains "%log%" "[  SKIPPED ] 1 test"
if not errorlevel 1 (
  set /a skipped+=1
  echo skipped %~2
  goto :eof
)
rem A filter that ran nothing is a fault of this script, not a pass.
call :contains "%log%" "[  PASSED  ] 1 test."
if errorlevel 1 (
  set /a failed+=1
  echo FAILED  %~2 ran no test
) else (
  set /a passed+=1
  echo passed  %~2
)
goto :eof

rem Errorlevel 0 when the file %1 holds the text %2. find, too, now and then
rem cannot be started on a loaded machine (9009): one more try.
:contains
find %2 %1 > nul
if %errorlevel% equ 9009 find %2 %1 > nul
goto :eof
