#!/usr/bin/env bash
# Checks the phones' udev rule: runs `udevadm test` on scripted device trees (umockdev) with the
# rule installed in a private mount namespace, and compares the properties, group and mode the
# rule gives each port with the expected ones, one row per device.
#   rule_check.sh RULE_FILE [ROWS_FILE]
# ROWS_FILE holds the rows instead of the ones below (the shipped rule's), one per line:
# "VENDOR PRODUCT INTERFACE|NAME or -|ModemManager ignore or -|yes or no"; '#' lines are skipped.
# The namespace brings everything udevadm reads with it: an empty /run and an empty
# /etc/udev/rules.d holding only the rule under test, so neither a rule installed on this
# machine (an older copy of ours in /etc wins over any other) nor the state of a udev daemon
# (/run/udev exists only where one has run) can change a row. Root makes the namespace with
# unshare -m; any other user with a user namespace (unshare -rm).
# Exit status 0 all rows as expected, 1 a row differs or the rule has a syntax problem, 77 the
# check cannot run here (the reason is printed).
set -uo pipefail

rule=$1
rows_file=${2:-}
name=$(basename "$rule")
installed=/etc/udev/rules.d/$name
skip() { echo "SKIP: $*"; exit 77; }
command -v udevadm >/dev/null || skip "udevadm is not installed"
command -v umockdev-run >/dev/null || skip "umockdev-run is not installed"
[ -d /etc/udev/rules.d ] || skip "no /etc/udev/rules.d (the udev package is not installed)"
[ -d /run ] || skip "no /run folder to mount over"
if [ "$(id -u)" -eq 0 ]; then ns=(unshare --mount); else ns=(unshare --map-root-user --mount); fi
"${ns[@]}" true 2>/dev/null ||
  skip "cannot make a private mount namespace (${ns[*]}: user namespaces disabled?)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# tree VENDOR PRODUCT INTERFACE: a USB serial phone port ttyACM0 on hub port 2 of bus 1.
tree() {
  cat <<TREE
P: /devices/pci0000:00/0000:00:14.0
E: SUBSYSTEM=pci

P: /devices/pci0000:00/0000:00:14.0/usb1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=1d6b
A: idProduct=0002
A: busnum=1
A: devnum=1

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=$1
A: idProduct=$2
A: bcdDevice=0100
A: product=Test Device
A: manufacturer=Test
A: busnum=1
A: devnum=2
A: bDeviceClass=00

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.$3
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
A: bInterfaceNumber=0$3
A: bInterfaceClass=02
A: bInterfaceSubClass=02
A: bInterfaceProtocol=01

P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.$3/tty/ttyACM0
N: ttyACM0
E: SUBSYSTEM=tty
E: DEVNAME=/dev/ttyACM0
A: dev=166:0
TREE
}

# udevadm test output for a tree, in a namespace whose only local rule is the one under test.
run() {
  tree "$@" >"$work/tree.umockdev"
  "${ns[@]}" sh -c '
    mount -t tmpfs tmpfs /run && mount -t tmpfs tmpfs /etc/udev/rules.d &&
      cp "$1" /etc/udev/rules.d/ || exit 1
    umockdev-run -d "$2" -- udevadm test --action=add /sys/class/tty/ttyACM0' sh "$rule" "$work/tree.umockdev" 2>&1
}

fail=0
# vendor product interface | expected phone name (- none) | ModemManager ignore | group and mode
rows=(
  "ffff fff0 1|ZUM Mobile USB Serial Port|1|yes"
  "ffff fff0 0|-|-|no"
  "ffff fff1 0|ZUM Mobile USB Serial Port|1|yes"
  "ffff fff2 1|ZUM CDMA USB Serial Port|1|yes"
  "ffff fff2 2|-|-|no"
  "0aaa 0001 0|-|-|no"
)
if [ -n "$rows_file" ]; then
  mapfile -t rows < <(grep -v -e '^#' -e '^$' "$rows_file")
fi
for row in "${rows[@]}"; do
  IFS='|' read -r ids want_name want_mm want_access <<<"$row"
  # shellcheck disable=SC2086
  out=$(run $ids)
  if ! grep -qxF "Reading rules file: $installed" <<<"$out"; then
    echo "FAIL [$ids]: udevadm did not read $installed:"
    head -n 5 <<<"$out"
    fail=1; continue
  fi
  if grep -F "$installed" <<<"$out" | grep -Eiq "invalid|error|unknown|ignoring"; then
    echo "FAIL [$ids]: udevadm reports a problem in the rule:"
    grep -F "$installed" <<<"$out" | grep -Ei "invalid|error|unknown|ignoring"
    fail=1
  fi
  got_name=$(sed -n 's/^ID_TR52_PORT_NAME=//p' <<<"$out"); got_name=${got_name:--}
  got_mm=$(sed -n 's/^ID_MM_DEVICE_IGNORE=//p' <<<"$out"); got_mm=${got_mm:--}
  got_access=no
  if grep -q "^ttyACM0: $installed:[0-9]* GROUP " <<<"$out" &&
     grep -q "^ttyACM0: $installed:[0-9]* MODE 0660$" <<<"$out" &&
     grep -q "^TAGS=.*:uaccess:" <<<"$out"; then
    got_access=yes
  fi
  if [ "$got_name|$got_mm|$got_access" != "$want_name|$want_mm|$want_access" ]; then
    echo "FAIL [$ids]: got name=$got_name mm=$got_mm access=$got_access," \
         "want name=$want_name mm=$want_mm access=$want_access"
    fail=1
  else
    echo "ok   [$ids]: name=$got_name mm=$got_mm access=$got_access"
  fi
done
exit $fail
