@echo off
rem Creates the task "Quilbo": quilbo-task.cmd (in this folder, next to
rem Quilbo.exe) every night at 03:30 as SYSTEM. Run it as an administrator.
rem Remove the task with: schtasks /Delete /TN Quilbo /F
rem
rem The task writes its run log into %ProgramData%\Quilbo, which is made
rem here, owned by the Administrators and writable for them and SYSTEM
rem only: ordinary users may create folders in %ProgramData%, and one who
rem made this folder (or a link or junction under its name) first would
rem choose where the SYSTEM task writes. Such a folder is refused; one this
rem script made before (owned by the Administrators, no link) is taken.
setlocal
set "folder=%ProgramData%\Quilbo"
if not exist "%folder%\" goto make
set "owner="
for /f "usebackq delims=" %%O in (`powershell -NoProfile -NonInteractive -Command "$i = Get-Item -LiteralPath $env:ProgramData\Quilbo -Force; if (-not ($i.Attributes -band [IO.FileAttributes]::ReparsePoint)) { $i.GetAccessControl().GetOwner([Security.Principal.SecurityIdentifier]).Value }"`) do set "owner=%%O"
if not "%owner%"=="S-1-5-32-544" goto refuse
goto secure
:make
mkdir "%folder%" || goto failed
rem Until its access is set, others could add entries to the new folder.
for /f %%E in ('dir /b /a "%folder%"') do goto refuse
:secure
rem Owner: the Administrators (S-1-5-32-544); full access for them and
rem SYSTEM (S-1-5-18) alone, nothing inherited from %ProgramData%.
icacls "%folder%" /setowner *S-1-5-32-544 /Q >nul || goto failed
icacls "%folder%" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F /Q >nul || goto failed
schtasks /Create /TN Quilbo /TR "\"%~dp0quilbo-task.cmd\"" /SC DAILY /ST 03:30 /RU SYSTEM /RL HIGHEST /F
exit /b %ERRORLEVEL%
:refuse
>&2 echo create-task.cmd: %folder% was not made by this script (it is owned
>&2 echo by someone else, is a link or junction, or others added to it): whoever
>&2 echo made it would choose where the SYSTEM task writes. Check it, remove
>&2 echo it, and run create-task.cmd again. No task was created.
exit /b 1
:failed
>&2 echo create-task.cmd: %folder% could not be made or secured. No task was created.
exit /b 1
