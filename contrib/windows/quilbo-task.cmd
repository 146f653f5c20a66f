@echo off
rem Archives C:\Logs\*.log for the Task Scheduler. Quilbo ends with 0 when
rem it archived logs, 5 when nothing matched and 1 after a failure report.
rem The Task Scheduler shows every status but 0 as the last run's error, so
rem 5 becomes 0 here, but only when Quilbo wrote nothing on standard error:
rem a folder C:\Logs that is missing or cannot be read (a typo here) ends
rem with 5 too, with a note saying so, and then the task fails with 5.
rem 1 and any other status stay.
rem Each run appends a time stamp, Quilbo's output and its notes on
rem standard error, and a line end to the run log in %ProgramData%\Quilbo,
rem away from the logs: in C:\Logs the pattern would archive and delete it.
rem create-task.cmd makes that folder, writable for administrators and
rem SYSTEM only; without it the run fails.
setlocal
set "runlog=%ProgramData%\Quilbo\quilbo-task.log"
set "notes=%ProgramData%\Quilbo\quilbo-task.err"
>>"%runlog%" echo == %DATE% %TIME%
"%~dp0Quilbo.exe" C:\Logs\*.log backup /D /T10000 >>"%runlog%" 2>"%notes%"
set status=%ERRORLEVEL%
set noted=0
if exist "%notes%" for %%N in ("%notes%") do if %%~zN GTR 0 set noted=1
type "%notes%" >>"%runlog%"
del "%notes%"
>>"%runlog%" echo.
if %status% EQU 5 if %noted% EQU 0 exit /b 0
exit /b %status%
