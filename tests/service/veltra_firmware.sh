# Firmware updates on the booted virtual printer: a good archive changes a file in /home and adds a
# program, and both are there after the simulated reboot; truncated, "../" and absolute-symlink
# archives are refused and the printer still boots and prints; TAR_ENABLE then an archive job; a
# slave firmware image reaches the simulated slave byte for byte and the slave's version changes.
. "$(dirname "$0")/veltra_lib.sh"

check "first start" 1 "$(boots)"

# ---- a good archive in the job (ESC 9 B1 B1 on its first line) ----
mkdir -p "$work/good/home" "$work/good/root"
sed 's/^configSN=.*/configSN=20000002/' /home/serial_number.cfg > "$work/good/home/serial_number.cfg"
printf '#!/bin/sh\necho hello from the new firmware\n' > "$work/good/root/hello_fw"
chmod 755 "$work/good/root/hello_fw"
tar_gz "$work/good" "$work/good.tgz" home/serial_number.cfg root/hello_fw
{ printf '\x1b9\xb1\xb1\n'; cat "$work/good.tgz"; } > "$work/good.job"

check_true "veltra_interp runs" start_veltra
send "$work/good.job"
check_true "good archive: installed" reported "archive installed; restarting" 200
check_true "good archive: the printer restarts" rebooted 2
check_true "good archive: reboot called" grep -qx reboot $calls
check "after the reboot: the new program" "hello from the new firmware" "$(/root/hello_fw 2>&1)"
check "after the reboot: the changed file" 20000002 "$(sed -n 's/^configSN=//p' /home/serial_number.cfg)"
# boot_supervisor named the printer after the serial number it found at this start.
check_true "after the reboot: the start used it" grep -q 20000002 /etc/hostname
check "no backup left" no "$(test -e /backup && echo yes || echo no)"
check "no archive left" no "$(test -e /rfs.tgz && echo yes || echo no)"
check_true "after the reboot: the printer prints" prints_a_label

# ---- bad archives: refused, nothing touched; the printer still boots and prints ----
head -c $(($(stat -c %s "$work/good.tgz") / 2)) "$work/good.tgz" > "$work/truncated.tgz"
mkdir -p "$work/bad"
python3 -c 'import io, sys, tarfile
with tarfile.open(sys.argv[1], "w:gz") as t:
    m = tarfile.TarInfo("../evil"); m.size = 5; t.addfile(m, io.BytesIO(b"evil\n"))' "$work/dotdot.tgz"
ln -s /etc/passwd "$work/bad/pw"
tar_gz "$work/bad" "$work/abslink.tgz" pw
check_true "veltra_interp runs again" start_veltra
serial_before=$(cat /home/serial_number.cfg)
n=0
for bad in truncated:truncated dotdot:'".."' abslink:"absolute symbolic link"; do
  name=${bad%%:*}
  why=${bad#*:}
  n=$((n + 1))
  { printf '\x1b9\xb1\xb1\n'; cat "$work/$name.tgz"; } > "$work/$name.job"
  send "$work/$name.job"
  check_true "$name archive: refused" reported "archive refused: " 100
  check_true "$name archive: the reason" grep -qF "$why" "$VLOG"
  check "$name archive: refusals so far" $n "$(grep -c 'archive refused' "$VLOG")"
done
check "bad archives: no restart" 2 "$(boots)"
check "bad archives: files untouched" "$serial_before" "$(cat /home/serial_number.cfg)"
check "bad archives: nothing extracted" no "$(test -e /evil -o -e /pw && echo yes || echo no)"
check_true "bad archives: veltra_interp still takes jobs" pidof veltra_interp
reboot
check_true "after bad archives: the printer boots" rebooted 3
check_true "after bad archives: the printer prints" prints_a_label

# ---- TAR_ENABLE, then the archive as a job of its own ----
mkdir -p "$work/armed/home"
echo "armed update" > "$work/armed/home/update_note.txt"
tar_gz "$work/armed" "$work/armed.tgz" home/update_note.txt
check_true "veltra_interp for TAR_ENABLE" start_veltra
slave_sim log --clear
send_bytes 'TAR_ENABLE'
check "TAR_ENABLE: the service language is the default" VELTRA \
  "$(sed -n 's/^configEmulation=//p' /imageConfig/image_config.cfg)"
send "$work/armed.tgz"
check_true "armed archive: installed" rebooted 4
check "armed archive: the file" "armed update" "$(cat /home/update_note.txt)"
check_true "armed archive: boot state S 0 was sent" grep -q "^S 02 53 30" <(slave_sim log)
check_true "armed archive: the service language runs after the restart" until_true 200 pidof veltra_interp

# ---- slave firmware (ESC @ A5 [ and the image) ----
slave_sim set version=1.10.0.0 > /dev/null
{ printf '\x1b@\xa5['; printf 'version=1.11.0.0\n'; head -c 50000 /dev/urandom; } > "$work/slave.job"
send "$work/slave.job"
check_true "slave firmware: sent" reported "slave firmware of $(stat -c %s "$work/slave.job") bytes sent" 300
check_true "slave firmware: byte for byte" cmp -s "$work/slave.job" /sim/firmware.bin
check "slave firmware: the slave's version" 1.11.0.0 "$(slave_sim get version)"
check_true "slave firmware: the version file" until_true 100 grep -q "^01.11.00.00" /tmp/slave_version.txt
check_true "slave firmware: host_link back" until_true 100 pidof host_link
check_true "slave firmware: print engine back" until_true 100 pidof dot_feeder
check_true "slave firmware: G announced the size" \
  grep -q "^G 02 47 $(printf '%02x %02x %02x' $(($(stat -c %s "$work/slave.job") >> 16)) \
    $(($(stat -c %s "$work/slave.job") >> 8 & 255)) $(($(stat -c %s "$work/slave.job") & 255))) 00 03" <(slave_sim log)
rm -rf "$work"
finish
