#!/usr/bin/env bash
# The round trip of winclass describe-host, on the simulated platform: for every described
# host in the tree (the embedded ones and the test hosts), describe-host writes a
# description; then each covered command runs on the original host and on the captured
# one, each in a fresh process, and their --json outputs must be byte-identical.
#
#   scripts/describe-roundtrip.sh [path/to/winclass]     (default: build/linux/bin/winclass)
#
# Then the same host is captured with --redact: no name, address or serial number of the
# plain capture may stand anywhere in it; what --redact keeps (disks, volumes but for their
# serial numbers, writers, components) must be the plain capture's; and each covered command
# on it gives the original's output byte for byte when that output shows none of the
# replaced values, else the original's exit code and an output without any of them.
#
# Prints one line per host and command; exits 1 when any output differs or a capture does
# not load, with a diff of the first lines that differ.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

winclass=${1:-build/linux/bin/winclass}
if [ ! -x "$winclass" ]; then
  echo "describe-roundtrip: $winclass is not a built winclass (build the winclass_tool target)" >&2
  exit 2
fi

# The commands whose every input the capture reads. Each is run with --json.
covered=(
  "volumes" "csv list"
  "writers --save-type 0" "writers --save-type 1" "writers --save-type 2" "critical-volumes"
  "backup --dry-run --save-type 0" "backup --dry-run --save-type 1" "backup --dry-run --save-type 2"
  "backup --dry-run --save-type 4"
  # In a folder of its own: the library's scratch folder has a fresh GUID in its name.
  'sysinfo --to C:\'
)
# The commands the capture does not serve yet: their sections (the writers, SQL Server
# instances, files) are not read. Listed, never silently skipped.
not_covered=()

work=$(mktemp -d "${TMPDIR:-/tmp}/h-describe-roundtrip.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The client's logs of these runs stay in the scratch folder.
export TLV_LOGSDIR="$work/logs"
unset WINSIM_HOST WINSIM_ROOT

hosts=()
for file in winsim/hostmodel/hosts/*.json; do
  hosts+=("$(basename "$file" .json)")  # by name: the copy embedded in winsim
done
while IFS= read -r file; do
  hosts+=("$file")
done < <(find tests -path '*/hosts/*.json' | sort)

failures=0
for host in "${hosts[@]}"; do
  label=$(basename "$host" .json)
  capture="$work/$label.captured.json"
  # Every volume that is ready, by its first mount point (or its GUID path), for --files.
  roots=()
  while IFS= read -r root; do
    roots+=("$root")
  done < <("$winclass" --host "$host" --json volumes | python3 -c '
import json, sys
for volume in json.load(sys.stdin)["volumes"]:
    if volume["ready"]:
        print((volume["mountPoints"] or [volume["volume"]])[0])')
  "$winclass" --host "$host" describe-host --to "$capture" --files "${roots[@]}" 2>"$work/$label.describe.err"
  status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL  $label: describe-host exited $status: $(head -n 3 "$work/$label.describe.err")"
    failures=$((failures + 1))
    continue
  fi
  echo "      $label: captured in $(wc -c <"$capture") bytes"
  for command in "${covered[@]}"; do
    read -r -a words <<<"$command"
    "$winclass" --host "$host" --json "${words[@]}" >"$work/original.out" 2>"$work/original.err"
    original_status=$?
    "$winclass" --host "$capture" --json "${words[@]}" >"$work/captured.out" 2>"$work/captured.err"
    captured_status=$?
    if [ "$original_status" -ne "$captured_status" ] || ! cmp -s "$work/original.out" "$work/captured.out"; then
      echo "FAIL  $label: $command: exit $original_status on the original, $captured_status on the capture"
      diff "$work/original.out" "$work/captured.out" | head -n 20
      head -n 3 "$work/captured.err"
      failures=$((failures + 1))
    else
      echo "ok    $label: $command (exit $original_status, $(wc -c <"$work/original.out") bytes)"
    fi
  done
  # The redacted capture.
  redacted="$work/$label.redacted.json"
  values="$work/$label.identifying"
  "$winclass" --host "$host" describe-host --redact --to "$redacted" --files "${roots[@]}" 2>"$work/$label.redact.err"
  status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL  $label: describe-host --redact exited $status: $(head -n 3 "$work/$label.redact.err")"
    failures=$((failures + 1))
    continue
  fi
  # The identifying values of the plain capture, one a line (serial numbers also in the hex
  # forms a command might show); each one found in the redacted document is a failure.
  if ! python3 - "$capture" "$redacted" "$values" <<'CHECK'
import json, re, sys
plain, redacted = (json.load(open(name, encoding="utf-8")) for name in sys.argv[1:3])
text = open(sys.argv[2], encoding="utf-8").read()
values = set()
def add(value):
    if isinstance(value, str) and value.strip("\\").strip():
        values.add(value.strip("\\"))
add(plain.get("hostName")); add(plain.get("domain"))
for name in ("COMPUTERNAME", "USERDOMAIN", "USERDNSDOMAIN", "LOGONSERVER"):
    add(plain.get("environment", {}).get(name))
cluster = plain.get("cluster", {})
add(cluster.get("name"))
for node in cluster.get("nodes", []):
    add(node if isinstance(node, str) else node.get("name"))
for csv in cluster.get("sharedVolumes", []):
    add(csv.get("owner"))
for adapter in plain.get("network", {}).get("adapters", []):
    for field in ("productName", "macAddress", "dhcpServer"):
        add(adapter.get(field))
    for field in ("ipAddress", "defaultIPGateway"):
        for address in adapter.get(field, []):
            add(address)
for instance in plain.get("sqlServer", {}).get("instances", []):
    server = instance["name"].split("\\")
    add(server[0])
    # An instance name SQL Server gives itself tells nothing of the customer, and stays.
    if len(server) > 1 and server[1].upper() not in ("MSSQLSERVER", "SQLEXPRESS", "MICROSOFT##WID", "MICROSOFT##SSEE"):
        add(server[1])
serials = {v["serialNumber"] for v in plain.get("volumes", []) if "serialNumber" in v}
failed = []
for value in sorted(values):
    if re.search(r"(?<![A-Za-z0-9_-])" + re.escape(value) + r"(?![A-Za-z0-9_-])", text, re.IGNORECASE):
        failed.append("%s stands in the redacted document" % value)
for volume in redacted.get("volumes", []):
    if volume.get("serialNumber") in serials:
        failed.append("the serial number %d is kept" % volume["serialNumber"])
# What the library's answers depend on is kept.
def kept(doc):
    volumes = [{k: v for k, v in volume.items() if k != "serialNumber"} for volume in doc.get("volumes", [])]
    writers = [(w["name"], w["id"], w["instanceId"], [c["name"] for c in w.get("components", [])])
               for w in doc.get("writers", [])]
    return doc.get("disks"), volumes, doc.get("storagePools"), writers, doc.get("os"), doc.get("firmware")
if kept(plain) != kept(redacted):
    failed.append("the disks, volumes, storage pools, writers or components differ from the plain capture")
# Each value with its placeholder, from the same places of the two documents.
mapping = {}
def pair(a, b):
    if isinstance(a, str) and isinstance(b, str) and a.strip("\\") in values:
        mapping[a.strip("\\").lower()] = b.strip("\\")
pair(plain.get("hostName"), redacted.get("hostName")); pair(plain.get("domain"), redacted.get("domain"))
for name in ("COMPUTERNAME", "USERDOMAIN", "USERDNSDOMAIN", "LOGONSERVER"):
    pair(plain.get("environment", {}).get(name), redacted.get("environment", {}).get(name))
redacted_cluster = redacted.get("cluster", {})
pair(cluster.get("name"), redacted_cluster.get("name"))
for a, b in zip(cluster.get("nodes", []), redacted_cluster.get("nodes", [])):
    pair(a if isinstance(a, str) else a.get("name"), b if isinstance(b, str) else b.get("name"))
for a, b in zip(cluster.get("sharedVolumes", []), redacted_cluster.get("sharedVolumes", [])):
    pair(a.get("owner"), b.get("owner"))
for a, b in zip(plain.get("network", {}).get("adapters", []), redacted.get("network", {}).get("adapters", [])):
    for field in ("productName", "macAddress", "dhcpServer"):
        pair(a.get(field), b.get(field))
    for field in ("ipAddress", "defaultIPGateway"):
        for x, y in zip(a.get(field, []), b.get(field, [])):
            pair(x, y)
for a, b in zip(plain.get("sqlServer", {}).get("instances", []), redacted.get("sqlServer", {}).get("instances", [])):
    for x, y in zip(a["name"].split("\\"), b["name"].split("\\")):
        mapping.setdefault(x.lower(), y)
for a, b in zip(plain.get("volumes", []), redacted.get("volumes", [])):
    if "serialNumber" in a and "serialNumber" in b:
        x, y = a["serialNumber"], b["serialNumber"]
        mapping["%08x" % x] = "%08X" % y
        mapping["%04x-%04x" % (x >> 16, x & 0xFFFF)] = "%04X-%04X" % (y >> 16, y & 0xFFFF)
        if x >= 100000:
            mapping["%d" % x] = "%d" % y
missing = sorted(v for v in values if v.lower() not in mapping)
if missing:
    failed.append("no placeholder found for " + ", ".join(missing))
json.dump(mapping, open(sys.argv[3] + ".mapping", "w", encoding="utf-8"))
with open(sys.argv[3], "w", encoding="utf-8") as out:
    for value in sorted(values):
        out.write(value + "\n")
    for serial in serials:
        out.write("%08X\n%04X-%04X\n" % (serial, serial >> 16, serial & 0xFFFF))
        if serial >= 100000:  # a shorter number would stand for anything
            out.write("%d\n" % serial)
for line in failed:
    print("  " + line)
sys.exit(1 if failed else 0)
CHECK
  then
    echo "FAIL  $label: the redacted capture keeps what it must replace, or changed what it must keep"
    failures=$((failures + 1))
    continue
  fi
  echo "      $label: redacted in $(wc -c <"$redacted") bytes, $(wc -l <"$values") identifying texts (names, addresses, serial numbers in their forms) absent"
  for command in "${covered[@]}"; do
    read -r -a words <<<"$command"
    "$winclass" --host "$host" --json "${words[@]}" >"$work/original.out" 2>"$work/original.err"
    original_status=$?
    "$winclass" --host "$redacted" --json "${words[@]}" >"$work/redacted.out" 2>"$work/redacted.err"
    redacted_status=$?
    if grep -q -i -w -F -f "$values" "$work/original.out"; then
      # The output shows replaced values: the same exit code, none of them, and otherwise
      # the original's output, each value in it replaced by its placeholder.
      python3 - "$values.mapping" "$work/original.out" >"$work/expected.out" <<'MAP'
import json, re, sys
mapping = json.load(open(sys.argv[1], encoding="utf-8"))
names = sorted(mapping, key=len, reverse=True)
pattern = re.compile(r"(?<![A-Za-z0-9_-])(" + "|".join(map(re.escape, names)) + r")(?![A-Za-z0-9_-])", re.IGNORECASE)
sys.stdout.write(pattern.sub(lambda m: mapping[m.group(1).lower()], open(sys.argv[2], encoding="utf-8").read()))
MAP
      if [ "$original_status" -ne "$redacted_status" ] || grep -q -i -w -F -f "$values" "$work/redacted.out" ||
        ! cmp -s "$work/expected.out" "$work/redacted.out"; then
        echo "FAIL  $label: redacted: $command: exit $original_status on the original, $redacted_status redacted;" \
          "values shown: $(grep -o -i -w -F -f "$values" "$work/redacted.out" | sort -u | tr '\n' ' ')"
        diff "$work/expected.out" "$work/redacted.out" | head -n 20
        head -n 3 "$work/redacted.err"
        failures=$((failures + 1))
      else
        echo "ok    $label: redacted: $command (exit $redacted_status, identical but for the placeholders)"
      fi
    elif [ "$original_status" -ne "$redacted_status" ] || ! cmp -s "$work/original.out" "$work/redacted.out"; then
      echo "FAIL  $label: redacted: $command: exit $original_status on the original, $redacted_status redacted"
      diff "$work/original.out" "$work/redacted.out" | head -n 20
      head -n 3 "$work/redacted.err"
      failures=$((failures + 1))
    else
      echo "ok    $label: redacted: $command (exit $redacted_status, identical)"
    fi
  done
done
for command in "${not_covered[@]}"; do
  echo "not yet covered: $command (describe-host does not capture its sections yet)"
done
if [ "$failures" -ne 0 ]; then
  echo "describe-roundtrip: $failures failures"
  exit 1
fi
echo "describe-roundtrip: ${#hosts[@]} hosts, ${#covered[@]} commands each, identical; redacted: nothing kept that names the host"
