@echo off
echo Quarry sample setup ran with: %*
exit /b 0
