@echo off
rem Archives C:\Logs\*.log for the Task Scheduler. Quilbo ends with 0 when
rem it archived logs, 5 when there was nothing to archive and 1 after a
rem failure report. The Task Scheduler shows every status but 0 as the last
rem run's error, so 5 becomes 0 here; 1 and any other status stay.
rem The output of each run and its notes on standard error are appended
rem to quilbo-task.log beside the logs.
"%~dp0Quilbo.exe" C:\Logs\*.log backup /D /T10000 >> C:\Logs\quilbo-task.log 2>&1
if %ERRORLEVEL% EQU 5 exit /b 0
exit /b %ERRORLEVEL%
