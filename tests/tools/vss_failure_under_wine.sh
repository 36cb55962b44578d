#!/usr/bin/env bash
# winclass backup under Wine: Wine's VSS cannot make backup components, so the command
# must print the library's message for it and exit non-zero, without crashing. The copies
# would go to a new folder: the output folder holds the captured output.
#   vss_failure_under_wine.sh WINE_RUN WINCLASS_EXE OUTPUT_DIR
set -uo pipefail
wine_run=$1 program=$2 out=$3
rm -rf "$out" && mkdir -p "$out"
"$wine_run" reg add 'HKLM\SOFTWARE\Tolvane\Backup Client' /v InstallDir /t REG_SZ /d 'C:\windows\temp' /f \
    >/dev/null 2>&1
"$wine_run" "$program" backup 'C:\windows\win.ini' --to "$(basename "$out")/copies" >"$out/stdout" 2>"$out/stderr" &&
  { echo "FAIL: the backup succeeded under Wine"; exit 1; }
status=$?
cat "$out/stderr"
if [ "$status" -ge 128 ]; then
  echo "FAIL: the command died (status $status)"
  exit 1
fi
if ! grep -q "Unable to initialize VSS common requester for backup" "$out/stderr"; then
  echo "FAIL: the library's message for the VSS failure is missing (status $status)"
  exit 1
fi
echo "ok: exit status $status with the library's message"
