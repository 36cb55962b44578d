#!/usr/bin/env bash
# winclass describe-host under Wine, on Wine's own kernel32, registry and WMI: exit 0 or 4
# (sections left out), never a crash; the document is JSON of format version 1; each
# network adapter's MAC address and IP addresses are ones Wine itself reports (wmic); the
# host name is the one Wine's hostname gives; what Wine does not provide (VSS) is in
# captureNotes with its call and HRESULT.
#   describe_under_wine.sh WINE_RUN WINCLASS_EXE OUTPUT_DIR
set -uo pipefail
wine_run=$1 program=$2 out=$3
rm -rf "$out" && mkdir -p "$out"
out=$(cd "$out" && pwd)
fail() { echo "FAIL: $*" && exit 1; }

"$wine_run" wmic path Win32_NetworkAdapterConfiguration get IPAddress,MACAddress 2>/dev/null | tr -d '\0\r' \
  >"$out/wmic-nicconfig.txt"
"$wine_run" hostname 2>/dev/null | tr -d '\0\r\n' >"$out/hostname.txt"
"$wine_run" "$program" describe-host --to "Z:${out//\//\\}\\host.json" >"$out/stdout" 2>"$out/stderr"
status=$?
echo "== describe-host: exit $status"
cat "$out/stderr"
[ "$status" -lt 128 ] && ! grep -q "^Unhandled exception\|^wine: Unimplemented function" "$out/stderr" ||
  fail "the command died (status $status)"
[ "$status" -eq 0 ] || [ "$status" -eq 4 ] || fail "exit status $status is not one describe-host documents"

python3 - "$out/host.json" "$out/wmic-nicconfig.txt" "$out/hostname.txt" "$status" <<'EOF' || fail "the document"
import json, re, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
if doc.get("formatVersion") != 1:
    sys.exit("formatVersion is %r" % doc.get("formatVersion"))
notes = doc.get("captureNotes", [])
if (sys.argv[4] == "4") != bool(notes):
    sys.exit("exit %s with %d notes" % (sys.argv[4], len(notes)))
if "writers" not in doc and not any(n.get("section") == "writers" and n.get("hresult") for n in notes):
    sys.exit("no writers and no note that says why")
wine_name = open(sys.argv[3]).read().strip()
if wine_name and doc.get("hostName", "").lower() != wine_name.lower():
    sys.exit("hostName %r, Wine's hostname %r" % (doc.get("hostName"), wine_name))
wine = {}
for line in open(sys.argv[2], encoding="utf-8", errors="replace"):
    mac = re.search(r"([0-9a-fA-F]{2}(?::[0-9a-fA-F]{2}){5})", line)
    if mac:
        wine[mac.group(1).lower()] = set(re.findall(r'"([^"]+)"', line))
adapters = doc.get("network", {}).get("adapters", [])
for adapter in adapters:
    mac = adapter.get("macAddress", "").lower()
    if mac and mac not in wine:
        sys.exit("MAC address %s is not one Wine reports (%s)" % (mac, sorted(wine)))
    for address in adapter.get("ipAddress", []):
        if address not in wine.get(mac, set()):
            sys.exit("%s is not an address Wine gives %s (%s)" % (address, mac, wine.get(mac)))
print("describe-host: %d adapters, %d volumes, %d notes" % (len(adapters), len(doc.get("volumes", [])), len(notes)))
EOF
echo "ok"
