#!/bin/sh
# /home/abort_deal.sh EMULATION s|e
#
# The printer's answer to an abort. host_link runs "/home/abort_deal.sh <emulation> s &" when the
# abort input becomes active and "/home/abort_deal.sh <emulation> e &" when it is released.
#
#   s  cancels the job being printed: the job files waiting for the interpreter (the engine
#      intake) and host_link's whole-job files (the job intake; the reprint folder stays), the
#      interpreter's input (the interpreter of EMULATION is restarted through
#      /home/start_emulation.sh, which returns once the fresh one watches the engine intake), the
#      dot images waiting for the print engine and what the print engine holds (asked with
#      SIGUSR1: its rows, the profile waiting and the block being sent) are dropped. While the
#      abort input stays active the print engine removes every dot image that arrives unread, so a
#      job sent during the abort does not print either.
#   e  printing resumes with the next job: an interpreter is started when none runs (the restart
#      of "s" may have failed).
#
# Nothing waits for a writer that is gone: a job file still being written is removed too (its
# writer's name becomes free again), and the interpreter that waited for its dot image to be taken
# is replaced.

emulation=${1:-}
phase=${2:-}
list=/home/emulation_list
defines=/home/globalDefines.cfg

say() { echo "abort_deal.sh: $*" >&2; }

# key NAME DEFAULT: a value of globalDefines.cfg
key() {
  v=$(sed -n "s/^$1=//p" "$defines" 2>/dev/null | head -n 1 | tr -d '\r')
  echo "${v:-$2}"
}

engine_intake=$(key ENGINE_INTAKE_FOLDER /tmp/engine_intake)
job_intake=$(key PATH_TO_JOB_INTAKE /jobIntake)
images=$(key PATH_TO_DOTIMAGE_FILES /tmp/dot_feeder_intake)

# drop_files FOLDER: removes the regular files directly inside FOLDER (folders stay).
drop_files() {
  for f in "$1"/* "$1"/.[!.]*; do
    [ -f "$f" ] && [ ! -L "$f" ] && rm -f "$f"
  done
}

# The interpreters the emulation list names, running now.
interpreter_running() {
  programs=$(cut -d, -f2 "$list" 2>/dev/null | tr -d '\r' | sort -u)
  for d in /proc/[0-9]*; do
    { read -r comm < "$d/comm"; } 2>/dev/null || continue
    for p in $programs; do
      [ "$comm" = "$p" ] && return 0
    done
  done
  return 1
}

# One abort step at a time: an "e" that follows at once waits until the "s" is done.
exec 9>/tmp/.abort_deal.lock
flock 9 2>/dev/null

case "$phase" in
  s)
    drop_files "$engine_intake"
    for f in "$job_intake"/printjob-*; do
      [ -f "$f" ] && rm -f "$f"
    done
    # The interpreter's input goes with the interpreter; the fresh one starts empty (and takes
    # only jobs that arrive from now on).
    if [ -n "$emulation" ]; then
      /home/start_emulation.sh "$emulation" 9>&- || say "the $emulation interpreter was not restarted"
    else
      say "no emulation named: the interpreter keeps its input"
    fi
    # Dot images of the cancelled job, a half-written one of the stopped interpreter among them.
    drop_files "$images"
    pids=$(pidof dot_feeder dot_feeder_battery 2>/dev/null)
    [ -n "$pids" ] && kill -USR1 $pids 2>/dev/null
    ;;
  e)
    if ! interpreter_running && [ -n "$emulation" ]; then
      /home/start_emulation.sh "$emulation" 9>&- || say "the $emulation interpreter did not start"
    fi
    ;;
  *)
    say "usage: abort_deal.sh EMULATION s|e"
    exit 2
    ;;
esac
exit 0
