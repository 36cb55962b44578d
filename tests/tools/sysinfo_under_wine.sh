#!/usr/bin/env bash
# winclass sysinfo --to DIR under Wine, on Wine's own WMI. Twice: as the prefix stands
# (Wine answers Windows 7 there, for which the library writes no document and the command
# says so), and as a copy of the program Wine is told to run as Windows 10. Either run
# must end with exit 0 (a document, or the notice) or exit 1 (the library's messages),
# never a crash. A document must be where --to put it with a well-formed NetWork section,
# whose adapters carry MAC and IPv4 addresses Wine itself reports (wmic); a section Wine
# cannot answer (no Storage namespace, a property Wine's classes lack) must show as the
# library's WMI message.
#   sysinfo_under_wine.sh WINE_RUN WINCLASS_EXE OUTPUT_DIR
set -uo pipefail
wine_run=$1 program=$2 out=$3
rm -rf "$out" && mkdir -p "$out"
out=$(cd "$out" && pwd)
fail() { echo "FAIL: $*" && exit 1; }
# Wine's drive Z: is the Unix root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Runs PROGRAM sysinfo --to OUT/NAME; checks what the exit status promises.
run_sysinfo() {
  local exe=$1 name=$2
  mkdir -p "$out/$name"
  "$wine_run" "$exe" sysinfo --to "$(windows_path "$out/$name")" >"$out/$name.stdout" 2>"$out/$name.stderr"
  local status=$?
  echo "== $name: exit $status"
  cat "$out/$name.stdout" "$out/$name.stderr"
  # Wine ends a process that crashed or called a missing function with an ordinary status.
  [ "$status" -lt 128 ] && ! grep -q "^Unhandled exception\|^wine: Unimplemented function" "$out/$name.stderr" ||
    fail "$name: the command died (status $status)"
  local document="$out/$name/OSSR_Sysinfo.xml"
  case $status in
  0)
    if [ -f "$document" ]; then
      grep -q '^</OSSR_SYSINFO>' "$document" || fail "$name: exit 0 with an unfinished document"
    else
      grep -q "no inventory: this Windows is older than Windows 8" "$out/$name.stdout" ||
        fail "$name: exit 0 without a document or the notice that says why"
      return 0
    fi
    ;;
  1)
    grep -q "Unable to retrieve WMI data for OSSR_Sysinfo.xml, error=0x\|Unable to create the OSSR_Sysinfo.xml" \
      "$out/$name.stderr" || fail "$name: exit 1 without the library's message"
    [ -f "$document" ] || fail "$name: the part written is not in the --to folder"
    ;;
  *) fail "$name: exit status $status is not one sysinfo documents" ;;
  esac
  ls "$out/$name" | grep -qv '^OSSR_Sysinfo.xml$' && fail "$name: the scratch folder was left in the --to folder"
  check_network "$name" "$document"
}

# The NetWork section parses as XML, and each adapter's MAC and IPv4 addresses are ones
# Wine gives for the same adapter.
check_network() {
  local name=$1 document=$2
  python3 - "$document" "$out/wmic-nicconfig.txt" "$out/$name.stderr" <<'EOF' || fail "$name: the NetWork section"
import re, sys
import xml.etree.ElementTree as ET
text = open(sys.argv[1], encoding="utf-8").read()
start, end = text.find("   <NetWork>\n"), text.find("   </NetWork>\n")
if start < 0 or end < start:
    sys.exit("no complete NetWork section")
network = ET.fromstring(text[start:end + len("   </NetWork>")])
# wmic prints one line per configuration: its addresses in {"..."} and its MAC address.
wine = {}
for line in open(sys.argv[2], encoding="utf-8", errors="replace"):
    mac = re.search(r"([0-9a-fA-F]{2}(?::[0-9a-fA-F]{2}){5})", line)
    if mac:
        wine[mac.group(1).lower()] = set(re.findall(r'"([0-9.]+)"', line))
adapters = network.findall("Adapter")
for adapter in adapters:
    for address in adapter.findall("IPv4"):
        mac = address.get("MACAddress", "").lower()
        if mac not in wine:
            sys.exit("MAC address %s is not one Wine reports (%s)" % (mac, sorted(wine)))
        if address.get("Address") not in wine[mac]:
            sys.exit("%s is not an IPv4 address Wine gives %s (%s)" % (address.get("Address"), mac, wine[mac]))
print("NetWork: %d adapters of the %d Wine reports" % (len(adapters), len(wine)))
# An adapter Wine reports but the document lacks was dropped by a failed WMI read, which
# the library reports.
if len(adapters) < len(wine) and "Unable to retrieve WMI data" not in open(sys.argv[3]).read():
    sys.exit("adapters are missing without the library's WMI message")
EOF
}

"$wine_run" wmic path Win32_NetworkAdapterConfiguration get IPAddress,MACAddress 2>/dev/null | tr -d '\0\r' \
  >"$out/wmic-nicconfig.txt"
echo "== what Wine reports (wmic)"
cat "$out/wmic-nicconfig.txt"

run_sysinfo "$program" as-is

# A copy of the program, with its libraries, that this prefix runs as Windows 10.
mkdir -p "$out/bin"
cp "$(dirname "$program")"/*.dll "$out/bin/" 2>/dev/null
cp "$program" "$out/bin/winclass-sysinfo.exe" || fail "cannot copy $program"
"$wine_run" reg add 'HKCU\Software\Wine\AppDefaults\winclass-sysinfo.exe' /v Version /t REG_SZ /d win10 /f \
  >/dev/null 2>&1 || fail "cannot set the Windows version of the copy"
run_sysinfo "$out/bin/winclass-sysinfo.exe" as-windows-10
echo "ok"
