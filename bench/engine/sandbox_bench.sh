# Print engine figures inside the virtual printer (run through bench/engine/run-bench):
# close-to-first-block latency, stalls at the real speed, resident memory.
set -u
here=$(cd "$(dirname "$0")" && pwd)
gen=$here/../../tests/engine/make_dot_image.py
sim() { /sim/bin/slave_sim "$@"; }

/sim/bin/slave_sim run --fast > /tmp/slave_sim.log 2>&1 &
while [ ! -e /sim/run/slave_sim.ready ]; do sleep 0.05; done
/root/dot_feeder > /tmp/engine.log 2>&1 &
engine=$!
sleep 0.5

python3 "$gen" /tmp/label600.pbm 600 --seed 31
python3 "$here/latency.py" /tmp/label600.pbm "${LATENCY_COUNT:-30}"

# Real pacing: the slave prints each row in the time of its two motor steps.
sim set fast=0 buffer=4 > /dev/null
for kind in label blank; do
  sim paper reset > /dev/null
  python3 "$gen" /tmp/bench-$kind.pbm 2000 --seed 32 --kind $kind
  start=$(date +%s%N)
  cp /tmp/bench-$kind.pbm /tmp/dot_feeder_intake/
  sim wait-idle --rows 2000 --quiet 200 --timeout 60 > /dev/null
  end=$(date +%s%N)
  st=$(sim stats)
  steps=$(sed -n 's/^row=[0-9]* rs1=\([0-9]*\) .*/\1/p' /sim/rows.log | sort -n | uniq -c | sort -rn | head -3 | awk '{ printf "%s%s x%s", sep, $2, $1; sep=", " }')
  echo "2000-row $kind at the real speed (limit 3 in/s): $(echo "$st" | sed -n 's/.*\(stalls=[0-9]*\).*/\1/p'), $(( (end - start) / 1000000 )) ms from drop to idle; most used first steps: $steps"
done
sim set fast=1 > /dev/null

# Resident memory after the longest image.
python3 "$gen" /tmp/full.pbm 6496 --seed 33 --kind random
sim paper reset > /dev/null
cp /tmp/full.pbm /tmp/dot_feeder_intake/
sim wait-idle --rows 6496 --quiet 200 --timeout 90 > /dev/null
echo "dot_feeder memory after a 6496-row image: $(grep -E 'VmRSS|VmHWM' /proc/$engine/status | tr -s ' \t' ' ' | tr '\n' ' ')"
kill $engine
