@echo off
rem Archives C:\Logs\*.log for the Task Scheduler. Quilbo ends with 0 when
rem it archived logs, 5 when there was nothing to archive and 1 after a
rem failure report. The Task Scheduler shows every status but 0 as the last
rem run's error, so 5 becomes 0 here; 1 and any other status stay.
rem Each run appends a time stamp, Quilbo's output and its notes on
rem standard error, and a line end to the run log in %ProgramData%\Quilbo,
rem away from the logs: in C:\Logs the pattern would archive and delete it.
setlocal
set "runlog=%ProgramData%\Quilbo\quilbo-task.log"
if not exist "%ProgramData%\Quilbo\" mkdir "%ProgramData%\Quilbo"
>>"%runlog%" echo == %DATE% %TIME%
"%~dp0Quilbo.exe" C:\Logs\*.log backup /D /T10000 >>"%runlog%" 2>&1
set status=%ERRORLEVEL%
>>"%runlog%" echo.
if %status% EQU 5 exit /b 0
exit /b %status%
