#!/usr/bin/env bash
# Load figures of the service, measured on a throw-away installation with the
# demo database:
#   1. CPU used by the idle service over IDLE_SECONDS (default 30), first with
#      an empty request folder, then with LEFTOVER_TMP (default 10,000) leftover
#      .Tmp files in it; target < 0.5 % of one core.
#   2. 1,000 STM requests dropped at once: time until every answer is there;
#      target under 0.5 s.
#   3. Single STM requests spaced by random gaps of 37-163 ms (out of step with
#      any period): time from the request appearing in xml/Enviar to its
#      answer; target median <= 5 ms, worst <= 20 ms.
#   4. SIGTERM in the middle of a burst of 1,000: time until the process has
#      ended (target within 1-2 s); every answer written is whole, no request is left
#      in work (.Tmp).
#
# Usage: bench/stm_bench.sh [BUILD_DIR]      (default: build)
# Environment: IDLE_SECONDS, LEFTOVER_TMP, BURST (default 1000), SINGLE_RUNS
# (default 50).
#
# Not a test: the figures depend on the machine. Needs bash, coreutils and
# python3 (and sqlite3, or python3 again, to build the database).

set -euo pipefail

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=$(cd "${1:-$SOURCE_DIR/build}" && pwd)
ORBAPDA="$BUILD_DIR/orbapda"
IDLE_SECONDS=${IDLE_SECONDS:-30}
LEFTOVER_TMP=${LEFTOVER_TMP:-10000}
BURST=${BURST:-1000}
SINGLE_RUNS=${SINGLE_RUNS:-50}

[[ -x "$ORBAPDA" ]] || { echo "orbapda not found in $BUILD_DIR (build it first)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/orba-bench-XXXXXX")
SERVICE_PID=""
cleanup() {
  if [[ -n "$SERVICE_PID" ]] && kill -0 "$SERVICE_PID" 2>/dev/null; then
    kill -TERM "$SERVICE_PID" 2>/dev/null || true
    wait "$SERVICE_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

BASE="$WORK/loja/"
ENVIAR="${BASE}xml/Enviar"
RECEBER="${BASE}xml/Receber"
STAGING="${BASE}xml/staging"   # same file system, so a move is a rename
mkdir -p "$WORK/etc" "$ENVIAR" "$RECEBER" "${BASE}xml/Fixos" "$STAGING" "$WORK/spool/COZINHA" "$WORK/spool/BAR"
printf '<RO><CONFIG SR="%s"/><IMPRESSORA TP_IMPR="0"/></RO>\n' "$BASE" > "$WORK/etc/ORBA.INI"

if command -v sqlite3 >/dev/null; then
  cat "$SOURCE_DIR/db/schema.sql" "$SOURCE_DIR/db/demo.sql" | sqlite3 "${BASE}ORBA.MDB"
else
  python3 - "$SOURCE_DIR" "${BASE}ORBA.MDB" <<'EOF'
import sqlite3, sys
db = sqlite3.connect(sys.argv[2])
for script in ("schema.sql", "demo.sql"):
    db.executescript(open(f"{sys.argv[1]}/db/{script}", encoding="utf-8").read())
db.commit()
EOF
fi

# An STM request for table $1 (ISO-8859-1; the table names are ASCII).
stm_request() {
  printf '<?xml version="1.0" encoding="ISO-8859-1"?><local mesa="%s" status="" mensagem="" ambiente="" posisaoAss="" tipoConta="" pessoas=""/>' "$1"
}

"$ORBAPDA" --headless --system-dir "$WORK/etc" --printer-spool "$WORK/spool" 2> "$WORK/orbapda.err" &
SERVICE_PID=$!

# Ready when a first request comes back (the start-up empties the folders,
# so the probe is dropped again until it is taken).
deadline=$(( $(date +%s) + 15 ))
until [[ -f "$RECEBER/STMREADY.Xml" ]]; do
  kill -0 "$SERVICE_PID" 2>/dev/null || { echo "orbapda ended:"; cat "$WORK/orbapda.err"; exit 1; } >&2
  (( $(date +%s) < deadline )) || { echo "orbapda does not answer" >&2; exit 1; }
  if [[ ! -f "$ENVIAR/STMREADY.Xml" && ! -f "$ENVIAR/STMREADY.Tmp" ]]; then
    stm_request 1 > "$STAGING/STMREADY.Xml" && mv "$STAGING/STMREADY.Xml" "$ENVIAR/"
  fi
  sleep 0.01
done
rm -f "$RECEBER/STMREADY.Xml"

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$SERVICE_PID/stat"; }
TICKS_PER_SECOND=$(getconf CLK_TCK)

# 1. Idle CPU, without and with leftover .Tmp files (requests of unknown
# codes stay in work until the next start).
idle_cpu() {
  local label=$1 before after ticks percent
  echo "idle ($label): measuring ${IDLE_SECONDS} s ..."
  before=$(cpu_ticks)
  sleep "$IDLE_SECONDS"
  after=$(cpu_ticks)
  ticks=$(( after - before ))
  percent=$(awk -v t="$ticks" -v hz="$TICKS_PER_SECOND" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.3f", 100 * t / hz / s }')
  echo "idle ($label): ${ticks} ticks of CPU in ${IDLE_SECONDS} s = ${percent} % of one core (target < 0.5 %)"
}
idle_cpu "empty request folder"
python3 - "$ENVIAR" "$LEFTOVER_TMP" <<'EOF'
import sys
for i in range(int(sys.argv[2])):
    open("%s/XYZ%05d.Tmp" % (sys.argv[1], i), "wb").write(b"<x/>")
EOF
sleep 3  # the service notices them and lists them once
idle_cpu "${LEFTOVER_TMP} leftover .Tmp files"
find "$ENVIAR" -name 'XYZ*.Tmp' -delete

# 2 and 3 are timed in python3, whose clock and sleeps are finer than a
# shell's (every external `sleep` or `date` costs milliseconds).
ticks_before=$(cpu_ticks)
python3 - "$BASE" "$BURST" "$SINGLE_RUNS" <<'EOF'
import os, random, sys, time

base, burst, single_runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
enviar, receber, staging = base + "xml/Enviar/", base + "xml/Receber/", base + "xml/staging/"

def request(table):
    return ('<?xml version="1.0" encoding="ISO-8859-1"?><local mesa="%s" status="" mensagem="" '
            'ambiente="" posisaoAss="" tipoConta="" pessoas=""/>' % table).encode("latin-1")

tables = ["1", "2", "3", "4", "5", "6", "21", "22", "23", "24", "99", "404"]
names = ["STM%05d.Xml" % i for i in range(1, burst + 1)]
for i, name in enumerate(names):
    with open(staging + name, "wb") as f:
        f.write(request(tables[i % len(tables)]))
start = time.monotonic()
for name in names:
    os.rename(staging + name, enviar + name)
dropped = time.monotonic()
pending = set(names)
while pending:
    if time.monotonic() - start > 30:
        sys.exit("burst: %d of %d not answered after 30 s" % (len(pending), burst))
    pending = {n for n in pending if not os.path.exists(receber + n)}
    if pending:
        time.sleep(0.001)
done = time.monotonic()
errors = sum(1 for n in names if b'status="X"' in open(receber + n, "rb").read())
print("burst: %d requests answered %.0f ms after the first was dropped (dropping took %.0f ms); "
      "%d answers with status X (target < 500 ms)"
      % (burst, (done - start) * 1000, (dropped - start) * 1000, errors))
for n in names:
    os.remove(receber + n)

# Single requests, each written beforehand under another name and renamed
# into xml/Enviar after a random gap, so that arrivals fall anywhere in any
# period of the service. The answer is watched for every 0.2 ms.
latencies = []
for i in range(single_runs):
    name = "STMONE%d.Xml" % i
    with open(staging + name, "wb") as f:
        f.write(request("1"))
    time.sleep(random.uniform(0.037, 0.163))
    t = time.monotonic()
    os.rename(staging + name, enviar + name)
    while not os.path.exists(receber + name):
        time.sleep(0.0002)
    latencies.append((time.monotonic() - t) * 1000)
    os.remove(receber + name)
latencies.sort()
print("single: %d requests, arrival to answer median %.1f ms, worst %.1f ms, best %.1f ms "
      "(target median <= 5 ms, worst <= 20 ms)"
      % (single_runs, latencies[len(latencies) // 2], latencies[-1], latencies[0]))
EOF
echo "service CPU during burst and single requests: $(( $(cpu_ticks) - ticks_before )) ticks"

# 4. SIGTERM in the middle of a burst.
python3 - "$BASE" "$BURST" "$SERVICE_PID" <<'EOF'
import os, sys, time

base, burst, pid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
enviar, receber, staging = base + "xml/Enviar/", base + "xml/Receber/", base + "xml/staging/"
request = (b'<?xml version="1.0" encoding="ISO-8859-1"?><local mesa="1" status="" mensagem="" ambiente="" '
           b'posisaoAss="" tipoConta="" pessoas=""/>')
names = ["STMSTOP%05d.Xml" % i for i in range(burst)]
for name in names:
    with open(staging + name, "wb") as f:
        f.write(request)
for name in names:
    os.rename(staging + name, enviar + name)
while sum(1 for n in names[:200] if os.path.exists(receber + n)) < 50:
    time.sleep(0.0005)
t = time.monotonic()
os.kill(pid, 15)
def running():
    try:
        return open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False
while running():
    time.sleep(0.001)
ended = (time.monotonic() - t) * 1000
answered = [n for n in names if os.path.exists(receber + n)]
whole = sum(1 for n in answered if open(receber + n, "rb").read().endswith(b'"/>'))
in_work = [n for n in os.listdir(enviar) if n.endswith(".Tmp")]
print("stop: SIGTERM in a burst of %d: process ended %.0f ms later (target <= 2000 ms); %d answered, %d of them "
      "whole; %d left waiting; %d left in work (.Tmp)"
      % (burst, ended, len(answered), whole, burst - len(answered), len(in_work)))
EOF
status=0
wait "$SERVICE_PID" || status=$?
SERVICE_PID=""
echo "service stopped with status ${status}"
