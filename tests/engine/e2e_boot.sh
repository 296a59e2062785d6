# The print engine in the booted virtual printer: started as the printer starts it, next to
# engine_watch, which answers its temperature queries from the simulated slave's thermistor.
. "$TESTS_DIR/engine/e2e_lib.sh"

sim set fast=1 > /dev/null
if ! pgrep -x dot_feeder > /dev/null; then
  # Without the boot supervisor in the image nothing has started the engine yet.
  start_engine
fi

image boot1 300 --seed 41
new_paper
drop boot1
printed 300
check "a dot image dropped into the intake prints bit for bit" "equal" "$(paper_is boot1)"

mean_heat() {
  sim paper > /dev/null
  sed -n 's/.* heat=\([0-9]*\)\/\([0-9]*\).*/\1 \2/p' /sim/rows.log | awk '{ s += $1 + $2; n++ } END { if (n) printf "%d\n", s / n; else print 0 }'
}
# The temperature poller asks every 0.4 s or so (A, Q, T, 130 ms apart).
heat_at() {
  sim set thermistor="$1" > /dev/null
  sleep 1.5
  new_paper
  drop boot1
  printed 300
  mean_heat
}
cold=$(heat_at 2900)
warm=$(heat_at 1700)
echo "mean heat: cold head $cold us, warm head $warm us"
check "a warm head (38 C) gets about 0.6 of a cold head's heat" "yes" \
  "$([ "$cold" -gt 0 ] && [ $((warm * 100 / cold)) -ge 50 ] && [ $((warm * 100 / cold)) -le 70 ] && echo yes)"
check "the engine asked the slave for the head temperature" "yes" \
  "$(grep -q '^T ' /sim/log/frames.log && echo yes)"

finish
