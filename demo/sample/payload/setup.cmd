@echo off
rem The sample "installer": it reports what it was given and asks for a
rem restart, exit code 3010, which quarry.exe passes on as its own.
echo Quarry sample setup ran with: %*
exit /b 3010
