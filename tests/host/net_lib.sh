# Helpers of the tests of host_link's network, Bluetooth and serial links (after host_lib.sh).

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# wait_bytes FILE SIZE SECONDS: until FILE holds SIZE bytes
wait_bytes() {
  local i
  for i in $(seq $(($3 * 50))); do [ "$(stat -c %s "$1" 2>/dev/null)" = "$2" ] && return 0; sleep 0.02; done
  echo "$1 holds $(stat -c %s "$1" 2>/dev/null) bytes, not $2"
  return 1
}

# wait_jobs OUT N SECONDS: until the stand-in interpreter writing to OUT has taken N jobs
wait_jobs() {
  local i
  for i in $(seq $(($3 * 50))); do [ "$(grep -c printjob "$1/sink.log" 2>/dev/null)" -ge "$2" ] && return 0; sleep 0.02; done
  echo "$(grep -c printjob "$1/sink.log") jobs in $1, not $2"
  return 1
}

# reset_sink OUT: a fresh stand-in interpreter with an empty record in OUT
reset_sink() { stop_sink; start_sink "$1"; }

# wait_received N: until a job file in the engine or job intake holds N bytes (host_link has
# read them)
wait_received() {
  local i f
  for i in $(seq 500); do
    for f in "$engine"/printjob-* "$jobs"/printjob-*; do
      [ "$(stat -c %s "$f" 2>/dev/null)" = "$1" ] && return 0
    done
    sleep 0.02
  done
  return 1
}

# stamp_ms FILE: the time "<seconds>.<fraction>" in FILE as milliseconds
stamp_ms() { sed 's/^\([0-9]*\)\.\([0-9][0-9][0-9]\).*/\1\2/' "$1"; }
