# Helpers of the print engine's tests inside the virtual printer: the simulated slave, the engine,
# test dot images and the comparison of the simulated paper with them.
. "$TESTS_DIR/sandbox/lib.sh"

T=$TESTS_DIR/engine
REF=/tmp/engine_test_ref
INTAKE=/tmp/dot_feeder_intake
mkdir -p "$REF"
ENGINE=/root/dot_feeder
ENGINE_PID=

sim() { /sim/bin/slave_sim "$@"; }

start_sim() {
  /sim/bin/slave_sim run --fast > /tmp/slave_sim.log 2>&1 &
  local n=0
  while [ ! -e /sim/run/slave_sim.ready ]; do
    n=$((n + 1))
    if [ $n -gt 200 ]; then
      echo "the simulated slave did not start"
      cat /tmp/slave_sim.log
      exit 1
    fi
    sleep 0.05
  done
}

# watching PID DIR: the process has an inotify watch on DIR (its fdinfo lists the inode in hex)
watching() { grep -qs "^inotify wd:[0-9a-f]* ino:$(printf '%x' "$(stat -L -c %i "$2")") " /proc/"$1"/fdinfo/*; }

start_engine() {
  "$ENGINE" > /tmp/engine.log 2>&1 &
  ENGINE_PID=$!
  # The engine is ready once its threads have made their folders and watch the dot image and
  # trigger intakes (an image dropped before that would never be seen).
  local n=0
  while [ ! -d /tmp/profilesize ] || [ ! -d /tmp/speed_switch_pause ]; do
    n=$((n + 1))
    [ $n -gt 500 ] && break
    sleep 0.02
  done
  eventually watching "$ENGINE_PID" "$INTAKE" || echo "the engine does not watch $INTAKE"
  eventually watching "$ENGINE_PID" /tmp/imstart_intake || echo "the engine does not watch /tmp/imstart_intake"
}

# stop_engine: SIGTERM lets the engine print what it holds and end; after 20 s it is killed.
stop_engine() {
  if [ -n "$ENGINE_PID" ] && kill "$ENGINE_PID" 2>/dev/null; then
    local n=0
    while kill -0 "$ENGINE_PID" 2>/dev/null && [ $n -lt 400 ]; do n=$((n + 1)); sleep 0.05; done
    kill -9 "$ENGINE_PID" 2>/dev/null
    wait "$ENGINE_PID" 2>/dev/null
  fi
  ENGINE_PID=
  rm -f /tmp/profiler_intake/profile.bin /tmp/profilesize/prosize
}

engine_alive() { [ -n "$ENGINE_PID" ] && kill -0 "$ENGINE_PID" 2>/dev/null; }

# image NAME ROWS [make_dot_image options]: the reference copy of a test image
image() {
  local name=$1 rows=$2
  shift 2
  python3 "$T/make_dot_image.py" "$REF/$name.pbm" "$rows" "$@"
}

# drop NAME...: hands the images to the engine, each in one open-write-close
drop() {
  local name
  for name in "$@"; do cp "$REF/$name.pbm" "$INTAKE/$name.pbm"; done
}

# hold_cutter / release_cutter: the block cutter waits while a profile file exists, so a dummy one
# keeps it from cutting until the images of a test are all in the ring.
hold_cutter() { : > /tmp/profiler_intake/profile.bin; }
release_cutter() { rm -f /tmp/profiler_intake/profile.bin; }
# intake_empty: waits (up to 10 s) until the engine has taken every image from its intake
intake_empty() {
  local n=0
  while [ -n "$(ls $INTAKE)" ] && [ $n -lt 1000 ]; do n=$((n + 1)); sleep 0.01; done
}

# gone FILE: "no" once FILE has been removed (waits up to 3 s), else "yes"
gone() {
  local n=0
  while [ -e "$1" ] && [ $n -lt 300 ]; do n=$((n + 1)); sleep 0.01; done
  [ -e "$1" ] && echo yes || echo no
}

# printed ROWS [TIMEOUT]: waits until the paper has ROWS rows and everything has settled
printed() { sim wait-idle --rows "$1" --quiet 300 --timeout "${2:-60}" > /dev/null; }

paper_rows() { sim stats | sed -n 's/.*rows=\([0-9]*\).*/\1/p'; }
stat_of() { sim stats | sed -n "s/.* $1=\([0-9]*\).*/\1/p"; }

new_paper() { sim paper reset > /dev/null; }

# paper_is NAME...: the paper holds exactly the rows of the images, in order
paper_is() {
  local args=() name
  for name in "$@"; do args+=("$REF/$name.pbm"); done
  sim paper > /dev/null
  python3 "$T/make_dot_image.py" --compare /sim/paper.pbm "${args[@]}"
}

# The first ramp step of every row printed since the paper was new (from the rows log).
row_steps() { sim paper > /dev/null; sed -n 's/^row=[0-9]* rs1=\([0-9]*\) .*/\1/p' /sim/rows.log; }
