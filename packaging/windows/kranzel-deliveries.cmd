@echo off
rem kranzel-deliveries.cmd: imports every interface file delivered to a folder,
rem one kranzel.exe run per file, for a scheduled task that starts it every few
rem minutes. Installed beside kranzel.exe in <root>\Kranzel\bin, the working
rem directory kranzel needs; it changes there itself.
rem
rem   kranzel-deliveries.cmd <delivery folder>
rem
rem A delivery is <folder>\<type>.txt (20P.txt, MND.txt, ...). The types are
rem taken in kranzel's own fixed order, whatever the folder lists first. A file
rem that is still being written (its size changes within two seconds, or it
rem cannot be renamed because its writer holds it open) is left alone for the
rem next run. A delivery still in place after its run was not taken by
rem kranzel (no database at start, the work file could not be replaced, ...):
rem it is moved to <folder>\zurueckgestellt\ and a line in kranzel.log says so,
rem so that the next run does not try it again and again. Nothing is deleted.
rem
rem Exit code: the highest exit code of the kranzel runs (0, 90 or 99), so the
rem task's Last Run Result shows 0x5A or 0x63 when a run failed; 2 when the
rem folder is missing.
setlocal EnableExtensions DisableDelayedExpansion

if "%~1"=="" (
  echo Usage: kranzel-deliveries.cmd ^<delivery folder^>
  exit /b 2
)
rem The folder as a full path, before changing to the working directory.
set "IN=%~f1"
if not exist "%IN%\" (
  echo kranzel-deliveries: folder "%IN%" not found
  exit /b 2
)
cd /d "%~dp0"
set "ASIDE=%IN%\zurueckgestellt"
set "TYPES=20P 35P 41P MND IDN SLD KST BKL FTG MST MDT FCD"
set "RESULT=0"

rem The size of every delivery now, then once more after a pause: a file that
rem grew in between is still arriving.
set "ANY="
for %%T in (%TYPES%) do call :measure %%T
if not defined ANY exit /b 0
ping -n 3 127.0.0.1 >nul 2>&1

for %%T in (%TYPES%) do call :take %%T
exit /b %RESULT%

rem :measure TYPE - remembers the size of a delivery of TYPE as SIZE_<TYPE>.
:measure
set "SIZE_%~1="
if not exist "%IN%\%~1.txt" exit /b 0
for %%F in ("%IN%\%~1.txt") do set "SIZE_%~1=%%~zF"
set "ANY=1"
exit /b 0

rem :take TYPE - one delivery.
:take
set "T=%~1"
set "FILE=%IN%\%T%.txt"
if not exist "%FILE%" exit /b 0
set "NOW="
for %%F in ("%FILE%") do set "NOW=%%~zF"
call set "BEFORE=%%SIZE_%T%%%"
if not "%NOW%"=="%BEFORE%" (
  echo kranzel-deliveries: %FILE% is still growing; left for the next run
  exit /b 0
)
rem Renaming it to its own name fails while its writer holds it open.
ver >nul
ren "%FILE%" "%T%.txt" >nul 2>&1
if errorlevel 1 (
  echo kranzel-deliveries: %FILE% is still open in its writer; left for the next run
  exit /b 0
)
kranzel.exe "%FILE%" %T%
set "RC=%ERRORLEVEL%"
if %RC% GTR %RESULT% set "RESULT=%RC%"
if not exist "%FILE%" exit /b 0

rem Not taken: set it aside under a name not used yet.
if not exist "%ASIDE%\" mkdir "%ASIDE%"
set "TARGET=%ASIDE%\%T%.txt"
set /a N=0
:free
if not exist "%TARGET%" goto move
set /a N+=1
set "TARGET=%ASIDE%\%T%.%N%.txt"
goto free
:move
move "%FILE%" "%TARGET%" >nul
if errorlevel 1 (
  kranzel-check.exe --log "Lieferung %FILE% nicht uebernommen (Exitcode %RC%) und nicht zurueckgestellt"
  echo kranzel-deliveries: %FILE% was not taken ^(exit code %RC%^) and could not be set aside
  if %RESULT% LSS 90 set "RESULT=90"
  exit /b 0
)
kranzel-check.exe --log "Lieferung %FILE% nicht uebernommen (Exitcode %RC%), zurueckgestellt nach %TARGET%"
echo kranzel-deliveries: %FILE% was not taken ^(exit code %RC%^); set aside as %TARGET%
exit /b 0
