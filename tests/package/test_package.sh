#!/usr/bin/env bash
# Builds the Debian package from a build directory (argument, default build/)
# and checks its contents, and that lintian finds no error in it. As root,
# with dpkg usable and no ovixnova installed, it also installs the package,
# checks the programs' --version, has two users of group dialout (made for the
# test) each print one receipt in turn through the installed /usr/bin/ovixnova
# on the register simulator, in the same spool, and purges the package again.
# Ends with "package: N passed, N failed" and exits non-zero on any failure.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
if ! build=$(cd "$build" 2>/dev/null && pwd); then
  echo "package: no build directory ${1:-$root/build}" >&2
  exit 2
fi
timeout_s=${OVIX_PACKAGE_TIMEOUT:-40}

spool=/var/spool/ovixnova
ini=/etc/ovixnova/OVIX.INI

passed=0
failed=0
skipped=0
work=$(mktemp -d /tmp/ovix-package.XXXXXX)
sim_pid=
driver_pid=
users=()
installed_by_us=0
spool_existed=1
ini_backup=

pass() {
  passed=$((passed + 1))
  echo "PASS: $1"
}
fail() {
  failed=$((failed + 1))
  echo "FAIL: $1"
}
skip() {
  skipped=$((skipped + 1))
  echo "SKIP: $1"
}
# check DESCRIPTION COMMAND...: one check, passed when the command succeeds.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# Stops a process of ours by its id: SIGTERM, then SIGKILL after 5 s.
stop_process() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

cleanup() {
  stop_process "$driver_pid"
  stop_process "$sim_pid"
  local user
  for user in "${users[@]}"; do
    # The driver's instance lock files that the test's users made.
    find /run/lock /tmp -maxdepth 1 -name 'ovixnova-*.lock' -user "$user" -delete 2>/dev/null
    userdel "$user" >/dev/null 2>&1
    rm -rf "/tmp/runtime-$user"  # Qt's runtime directory of a user without a session
  done
  if [ -n "$ini_backup" ] && [ -f "$ini_backup" ] && [ -f "$ini" ]; then
    cat "$ini_backup" >"$ini"
  fi
  if [ "$installed_by_us" -eq 1 ]; then
    dpkg --purge ovixnova >/dev/null 2>&1
  fi
  if [ "$spool_existed" -eq 0 ]; then
    rm -rf "$spool"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# --- the package -------------------------------------------------------------
echo "package: building the package from $build"
if ! cmake --build "$build" --target ovixnova ovixnova-check ovix-regsim -j"$(nproc)" \
  >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  fail "build"
  echo "package: $passed passed, $failed failed"
  exit 1
fi
if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg") \
  >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack -G DEB"
  echo "package: $passed passed, $failed failed"
  exit 1
fi

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
deb=$work/pkg/ovixnova_${version}_${arch}.deb
check "cpack made ovixnova_${version}_${arch}.deb" test -f "$deb"

contents=$(dpkg-deb -c "$deb" 2>&1 | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
has_entry() { grep -qxF -- "$1" <<<"$contents"; }
check "the driver in its own directory" has_entry "./usr/lib/ovixnova/ovixnova"
check "the launcher link in /usr/bin" has_entry "./usr/bin/ovixnova -> ../lib/ovixnova/ovixnova"
check "OVIX.INI beside the driver links to /etc" \
  has_entry "./usr/lib/ovixnova/OVIX.INI -> /etc/ovixnova/OVIX.INI"
check "OVIX.INI in /etc/ovixnova" has_entry "./etc/ovixnova/OVIX.INI"
check "ovixnova-check in /usr/bin" has_entry "./usr/bin/ovixnova-check"
check "the desktop entry" has_entry "./usr/share/applications/ovixnova.desktop"
check "the autostart entry" has_entry "./etc/xdg/autostart/ovixnova.desktop"
check "the icon" has_entry "./usr/share/icons/hicolor/32x32/apps/ovixnova.png"
for doc in man/man1/ovixnova.1.gz man/man1/ovixnova-check.1.gz doc/ovixnova/copyright \
  doc/ovixnova/changelog.gz; do
  check "/usr/share/$doc" has_entry "./usr/share/$doc"
done
check "no simulator in the package" bash -c '! grep -q regsim' <<<"$contents"

info=$(dpkg-deb -I "$deb" 2>&1)
field() { dpkg-deb -f "$deb" "$1"; }
check "Package: ovixnova" test "$(field Package)" = ovixnova
check "Version: $version" test "$(field Version)" = "$version"
check "Section: misc" test "$(field Section)" = misc
check "Maintainer" test "$(field Maintainer)" = "OVIXNOVA maintainers <maintainers@example.invalid>"
depends_on_qt() {
  local depends lib
  depends=$(field Depends)
  for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6; do
    grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || return 1
  done
}
check "Depends on the Qt 6 libraries" depends_on_qt
check "postinst" grep -q " postinst " <<<"$info"
check "postrm" grep -q " postrm " <<<"$info"
conffiles=$(dpkg-deb -I "$deb" conffiles 2>&1)
check "OVIX.INI is a conffile" grep -qxF /etc/ovixnova/OVIX.INI <<<"$conffiles"
check "the autostart entry is a conffile" grep -qxF /etc/xdg/autostart/ovixnova.desktop <<<"$conffiles"

dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/ovixnova/ovixnova >"$work/ovixnova.packaged"
check "no test hook in the packaged program" \
  bash -c '! grep -qa OVIXNOVA_TEST_OPERATOR "$1"' _ "$work/ovixnova.packaged"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./etc/ovixnova/OVIX.INI >"$work/OVIX.INI.packaged"
# Every line ends with CR LF, and no CR stands anywhere else.
crlf_lines() {
  local lines
  lines=$(wc -l <"$1")
  [ "$lines" -gt 0 ] && [ "$(grep -c $'\r$' "$1")" -eq "$lines" ] &&
    [ "$(tr -cd '\r' <"$1" | wc -c)" -eq "$lines" ]
}
linux_paths() {
  local kv
  for kv in COM=/dev/ttyS0 BONDIR=$spool/ OKDIR=$spool/ok/ ERRDIR=$spool/err/; do
    grep -qx "$kv"$'\r' "$1" || return 1
  done
}
check "OVIX.INI has CR LF line ends" crlf_lines "$work/OVIX.INI.packaged"
check "OVIX.INI holds the Linux paths" linux_paths "$work/OVIX.INI.packaged"

# --- lintian -----------------------------------------------------------------
# No error may remain; the warnings left are explained in README.md (The
# package and lintian).
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  echo "--- lintian"
  cat "$work/lintian.log"
  echo "---"
  check "lintian: no error" bash -c '! grep -q "^E: " "$1"' _ "$work/lintian.log"
else
  fail "lintian is not installed (scripts/setup test installs it)"
fi

# --- installed, one receipt, purged ----------------------------------------
can_install() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "not root"
  elif ! command -v dpkg >/dev/null || ! [ -w /var/lib/dpkg ]; then
    echo "dpkg is not usable"
  elif dpkg-query -W -f='${Status}' ovixnova 2>/dev/null | grep -qv "not-installed"; then
    echo "ovixnova is installed on this machine already"
  elif [ -e "$spool" ]; then
    echo "$spool exists already"
  fi
}
reason=$(can_install)
if [ -n "$reason" ]; then
  skip "installing the package: $reason"
else
  spool_existed=0
  installed_by_us=1
  if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq >>"$work/dpkg.log" 2>&1
  fi
  if dpkg-query -W -f='${Status}' ovixnova 2>/dev/null | grep -qx "install ok installed"; then
    pass "dpkg -i"
  else
    cat "$work/dpkg.log"
    fail "dpkg -i"
  fi

  spool_dirs() {
    local group=root dir
    getent group dialout >/dev/null && group=dialout
    for dir in "$spool" "$spool/ok" "$spool/err"; do
      [ "$(stat -c '%a %U %G' "$dir" 2>/dev/null)" = "2775 root $group" ] || return 1
    done
  }
  check "postinst made the spool directories (2775, root, group dialout)" spool_dirs
  check "/usr/bin/ovixnova runs /usr/lib/ovixnova/ovixnova" \
    test "$(readlink -f /usr/bin/ovixnova)" = /usr/lib/ovixnova/ovixnova
  check "OVIX.INI beside the driver is the one in /etc" \
    test "$(readlink -f /usr/lib/ovixnova/OVIX.INI)" = "$ini"
  for program in ovixnova ovixnova-check; do
    check "$program --version" test "$(timeout 10 "/usr/bin/$program" --version 2>&1)" = "$program $version"
  done

  # The register simulator on a pseudo-terminal; COM points at it for the run.
  "$build/ovix-regsim" --trace "$work/trace.txt" </dev/null >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  device=
  if wait_for 10 grep -q '^DEVICE ' "$work/sim.out"; then
    device=$(sed -n '1s/^DEVICE //p' "$work/sim.out")
  fi
  check "the simulator is up" test -n "$device"

  ini_backup=$work/OVIX.INI.orig
  cp -p "$ini" "$ini_backup"
  sed -i "s|^COM=.*\$|COM=$device\r|" "$ini"
  check "COM set to the simulator" grep -qx "COM=$device"$'\r' "$ini"

  # The till's users: each in group dialout, which owns the spool and, for the
  # test, the simulator's port. Each runs the driver in turn with the umask
  # 022 of a login; the second must still write the first one's log and
  # replace its job record.
  log_has() { grep -qF -- "$1" "$spool/LOG.OVX" 2>/dev/null; }
  if getent group dialout >/dev/null && [ -n "$device" ]; then
    chgrp dialout "$device" && chmod 660 "$device"
    # The pseudo-terminal is the simulator's from now on: a lock file of the
    # same name is a dead process's (another user's one in a sticky lock
    # directory would keep the test's users from the port).
    for dir in /var/lock /run/lock /tmp; do
      rm -f "$dir/LCK..$(tr / _ <<<"${device#/dev/}")"
    done
    for n in 1 2; do
      user=ovixshop$n-$$
      if useradd --no-create-home --user-group --groups dialout --shell /usr/sbin/nologin "$user"; then
        users+=("$user")
      fi
    done
  fi
  check "two users of group dialout for the till" test "${#users[@]}" -eq 2
  umask 022
  for n in "${!users[@]}"; do
    user=${users[$n]}
    receipt=t$n.txt
    setpriv --reuid="$user" --regid="$user" --init-groups env QT_QPA_PLATFORM=offscreen \
      /usr/bin/ovixnova >"$work/driver-$user.out" 2>&1 &
    driver_pid=$!
    # The start block lists the spool directory read from OVIX.INI: proof that the
    # driver started through the /usr/bin link found the INI beside its real file.
    check "$user: the driver read /etc/ovixnova/OVIX.INI" \
      wait_for "$timeout_s" log_has "  BONDIR    : $spool/"
    check "$user: the log is the group's" test "$(stat -c '%G %A' "$spool/LOG.OVX")" = "dialout -rw-rw-r--"

    printf 'PAINE ALBA           0001.000 00000450 01\r\n<\r\n' >"$spool/.$receipt.part"
    mv "$spool/.$receipt.part" "$spool/$receipt"
    check "$user: the receipt was printed and moved to ok/" \
      wait_for "$timeout_s" test -f "$spool/ok/$receipt"
    check "$user: the register got the sale" \
      test "$(grep -c '^C ' "$work/trace.txt")" -ge $((3 * (n + 1)))

    kill -TERM "$driver_pid" 2>/dev/null
    status=timeout
    driver_gone() { ! kill -0 "$driver_pid" 2>/dev/null; }
    if wait_for 20 driver_gone; then
      wait "$driver_pid"
      status=$?
    fi
    driver_pid=
    check "$user: the driver ended on SIGTERM (status $status)" test "$status" = 0
    check "$user: the log has the stop line" \
      test "$(grep -c -- "-> DRIVER OPRIT: " "$spool/LOG.OVX")" -eq $((n + 1))
    if [ "$failed" -ne 0 ]; then
      echo "--- driver output"
      cat "$work/driver-$user.out"
      echo "--- LOG.OVX"
      cat "$spool/LOG.OVX" 2>/dev/null
      ls -la "$spool"
    fi
  done
  stop_process "$sim_pid"
  sim_pid=

  cat "$ini_backup" >"$ini"
  ini_backup=
  check "OVIX.INI restored" cmp -s "$ini" "$work/OVIX.INI.packaged"

  dpkg --purge ovixnova >"$work/purge.log" 2>&1
  purge_status=$?
  installed_by_us=0
  check "dpkg --purge" test "$purge_status" -eq 0
  package_gone() {
    ! dpkg-query -W ovixnova >/dev/null 2>&1 && ! [ -e /etc/ovixnova ] && ! [ -e /usr/lib/ovixnova ] &&
      ! [ -L /usr/bin/ovixnova ] && ! [ -e /usr/bin/ovixnova-check ] &&
      ! [ -e /etc/xdg/autostart/ovixnova.desktop ] && ! [ -e /usr/share/applications/ovixnova.desktop ]
  }
  check "purge removed the package's files" package_gone
  # Receipt files are the point-of-sale program's: purge keeps them (and so the
  # directories holding them) and removes the log and the empty directories.
  purged_spool() { ! [ -e "$spool/LOG.OVX" ] && [ -f "$spool/ok/t0.txt" ] && ! [ -e "$spool/err" ]; }
  check "purge removed the log and kept the printed receipt" purged_spool
fi

echo "package: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
