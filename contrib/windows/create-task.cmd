@echo off
rem Creates the task "Quilbo": quilbo-task.cmd (in this folder, next to
rem Quilbo.exe) every night at 03:30 as SYSTEM. Run it as an administrator.
rem Remove the task with: schtasks /Delete /TN Quilbo /F
schtasks /Create /TN Quilbo /TR "\"%~dp0quilbo-task.cmd\"" /SC DAILY /ST 03:30 /RU SYSTEM /RL HIGHEST /F
