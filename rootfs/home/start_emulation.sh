#!/bin/sh
# /home/start_emulation.sh NAME
#
# Puts the interpreter that serves emulation NAME (a name of /home/emulation_list) in place of the
# running one: every interpreter named in the list is stopped, then /root/<program> is started.
# The script returns once the new interpreter watches the engine intake, so that exactly one
# interpreter takes job files afterwards and a job handed over right after the switch is not lost.
#
# Exit status: 0 started; 1 no such emulation or program (the running interpreter is left alone),
# or the new interpreter did not come up in time.

list=/home/emulation_list
intake=/tmp/engine_intake
name=$1

say() { echo "start_emulation.sh: $*" >&2; }

[ -n "$name" ] || { say "no emulation name"; exit 1; }

# The list: "name,program,index" lines; an empty line ends it.
program=""
programs=""
while IFS=, read -r n p i || [ -n "$n" ]; do
  [ -n "$n" ] || break
  p=$(printf '%s' "$p" | tr -d '\r')
  case "$p" in ""|*[!A-Za-z0-9_]*) continue ;; esac
  programs="$programs $p"
  [ -z "$program" ] && [ "$n" = "$name" ] && program=$p
done < "$list"

[ -n "$program" ] || { say "no emulation named '$name'"; exit 1; }
exe=/root/$program
[ -x "$exe" ] || { say "$exe is not installed"; exit 1; }

# One switch at a time.
exec 9>/tmp/.start_emulation.lock
flock 9 2>/dev/null

# Process ids of the running interpreters (any program the list names).
interpreters() {
  for d in /proc/[0-9]*; do
    { read -r comm < "$d/comm"; } 2>/dev/null || continue
    for p in $programs; do
      if [ "$comm" = "$p" ]; then echo "${d#/proc/}"; break; fi
    done
  done
}

pids=$(interpreters)
if [ -n "$pids" ]; then
  kill $pids 2>/dev/null
  tries=0
  while [ -n "$(interpreters)" ]; do
    tries=$((tries + 1))
    if [ $tries -ge 100 ]; then kill -9 $(interpreters) 2>/dev/null; fi
    if [ $tries -ge 200 ]; then say "an interpreter does not stop"; break; fi
    sleep 0.02
  done
fi

mkdir -p "$intake"
"$exe" </dev/null 9>&- &
pid=$!

# Wait until the new interpreter has an inotify watch on the engine intake (its fdinfo lists the
# watched inode in hexadecimal).
ino=$(printf '%x' "$(stat -L -c %i "$intake")")
tries=0
while :; do
  if ! kill -0 "$pid" 2>/dev/null; then say "$program ended at start"; exit 1; fi
  if grep -qs "^inotify wd:[0-9a-f]* ino:$ino " /proc/"$pid"/fdinfo/* 2>/dev/null; then exit 0; fi
  tries=$((tries + 1))
  if [ $tries -ge 500 ]; then say "$program does not watch $intake"; exit 1; fi
  sleep 0.01
done
