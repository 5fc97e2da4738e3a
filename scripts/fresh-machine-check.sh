#!/usr/bin/env bash
# Repeats a newcomer's first steps on a brand-new Debian 12 system: a
# minimal bookworm made by debootstrap (--variant=minbase), a clean clone of
# this checkout's HEAD commit in /root/vornlog, and the two commands of the
# README's first block, run there as root in a chroot with /proc, /dev,
# /dev/pts, /dev/shm, /sys and a tmpfs /tmp mounted. Fails, naming the
# command, when either command fails, when the run command writes no viewer
# page or when the test command leaves a test not run (a test that skips
# itself for want of a tool counts as a failure).
#
# The system comes from the mirror that this machine's own apt sources name.
# It is downloaded once and kept as a tarball outside the clone
# (VORNLOG_FRESH_CACHE, /var/cache/vornlog-fresh-machine by default), made
# anew when older than VORNLOG_FRESH_MAX_AGE_DAYS (30). Every step has a
# time limit; the mounts live in a mount namespace of their own, are
# unmounted whatever happens and never seen by the rest of the machine, and
# the system is removed afterwards. Run as root on Debian 12; takes about
# five minutes on two cores, most of it the installs and the build.
set -euo pipefail

readonly suite=bookworm
readonly chroot_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

# The environment of the commands in the chroot: root's, a UTF-8 locale, no
# questions from the package tools, and nothing of the caller's (a CI=true
# or a build setting of the machine running the check changes nothing).
chroot_env() {
  local env=(HOME=/root USER=root LOGNAME=root PATH="$chroot_path" LANG=C.UTF-8 TERM=dumb
             DEBIAN_FRONTEND=noninteractive)
  # A proxy that this machine needs to reach the mirror, the chroot needs too.
  local name
  for name in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    [[ -n ${!name:-} ]] && env+=("$name=${!name}")
  done
  printf '%s\0' "${env[@]}"
}

# ---------------------------------------------------------------------------
# Inside a private mount namespace (started by the check below): mounts the
# system's file systems, runs one command in the chroot with its output also
# kept in LOG, and unmounts everything on the way out, whatever happens.
if [[ ${1:-} == --in-chroot ]]; then
  rootfs=$2 log=$3 command=$4
  mounted=()
  # shellcheck disable=SC2317  # called by the trap
  unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
      umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" ||
        echo "WARNING: could not unmount ${mounted[i]}" >&2
    done
    mounted=()
  }
  trap unmount_all EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  mount_in() {
    local target=$rootfs$1
    shift
    mkdir -p "$target"
    mount "$@" "$target"
    mounted+=("$target")
    # Nothing mounted here reaches the machine's own mounts.
    mount --make-private "$target"
  }
  mount_in /proc -t proc proc
  mount_in /dev --bind /dev
  mount_in /dev/pts --bind /dev/pts
  mount_in /dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs
  mount_in /sys -t sysfs -o ro sysfs
  mount_in /tmp -t tmpfs -o mode=1777,nosuid,nodev tmpfs

  mapfile -d '' env < <(chroot_env)
  set +e
  env -i "${env[@]}" chroot "$rootfs" /bin/bash -c "cd /root/vornlog && $command" </dev/null 2>&1 |
    tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  exit "$status"
fi

# ---------------------------------------------------------------------------
# The check.
cd "$(dirname "$0")/.."
root=$PWD
self=$root/scripts/$(basename "$0")
if ((EUID != 0)); then
  echo "FAIL: the fresh-machine check needs root (debootstrap, chroot, mount)" >&2
  exit 1
fi
cache_dir=${VORNLOG_FRESH_CACHE:-/var/cache/vornlog-fresh-machine}
max_age_days=${VORNLOG_FRESH_MAX_AGE_DAYS:-30}
# Time limits in seconds: generous, so that only a hang reaches them.
limit_system=${VORNLOG_FRESH_SYSTEM_LIMIT:-1800}
limit_run=${VORNLOG_FRESH_RUN_LIMIT:-2400}
limit_test=${VORNLOG_FRESH_TEST_LIMIT:-3600}

began=$SECONDS
minutes() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

# Every long step runs as a job with a time limit that an interrupt of the
# check stops too (the time limit's own process group would not see it).
step_pid=
limited() {
  local limit=$1 status=0
  shift
  timeout -k 30 "$limit" "$@" &
  step_pid=$!
  wait "$step_pid" || status=$?
  step_pid=
  ((status != 124 && status != 137)) || echo "FAIL: $1 did not end within $limit s" >&2
  return "$status"
}

# The sources: "URI SUITE" for every enabled deb source in the machine's apt
# sources, one-line (sources.list, *.list) and deb822 (*.sources).
apt_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" | awk '$1 == "deb" && NF >= 3 { print $2, $3 }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    awk '
      function flush(   n, u, s, i, j, uris, suites) {
        if (tolower(f["enabled"]) != "no" && f["types"] ~ /(^| )deb( |$)/) {
          n = split(f["uris"], uris, " "); split(f["suites"], suites, " ")
          for (i = 1; i <= n; i++) for (j in suites) print uris[i], suites[j]
        }
        delete f; key = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      /^[ \t]/ { if (key != "") f[key] = f[key] " " $0; next }
      { key = tolower(substr($0, 1, index($0, ":") - 1)); f[key] = substr($0, index($0, ":") + 1) }
      END { flush() }' "$f" | awk '{ $1 = $1; print }'
  done
}

# The mirror for the suite (the one the machine uses for bookworm), and the
# one for its security updates.
sources=$(apt_sources | awk '$1 ~ /^https?:\/\//')
mirror=$(awk -v s="$suite" '$2 == s { print $1; exit }' <<<"$sources")
[[ -n $mirror ]] || mirror=$(awk '$2 == "stable" { print $1; exit }' <<<"$sources")
security=$(awk -v s="$suite-security" '$2 == s { print $1; exit }' <<<"$sources")
updates=$(awk -v s="$suite-updates" '$2 == s { print $1; exit }' <<<"$sources")
if [[ -z $mirror ]]; then
  mirror=http://deb.debian.org/debian
  echo "   the machine's apt sources name no $suite mirror: using $mirror"
fi
if [[ -z $security ]]; then
  security=http://deb.debian.org/debian-security
  echo "   the machine's apt sources name no $suite-security source: using $security"
fi
[[ -n $updates ]] || updates=$mirror
# An https mirror needs the certificates in the new system too.
include=()
cache_name=$suite-minbase
if [[ "$mirror $security $updates" == *https://* ]]; then
  include=(--include=ca-certificates)
  cache_name+=-ca
fi
tarball=$cache_dir/$cache_name.tar

# The system and the commands' logs, side by side in a folder of root's;
# all removed afterwards.
work=$(mktemp -d /var/tmp/vornlog-fresh-machine.XXXXXX)
rootfs=$work/rootfs
logs=$work/logs

# Processes left running in the chroot, by their ids.
chroot_pids() {
  local p r
  for p in /proc/[0-9]*; do
    r=$(readlink "$p/root" 2>/dev/null) || continue
    if [[ $r == "$rootfs" || $r == "$rootfs"/* ]]; then echo "${p#/proc/}"; fi
  done
  return 0
}

# Waits at most $1 seconds until no process runs in the chroot.
chroot_ended() {
  local start=$SECONDS
  while [[ -n $(chroot_pids) ]]; do
    ((SECONDS - start < $1)) || return 1
    sleep 0.2
  done
}

# Mount points at or under the work folder, deepest first.
mounts_under() {
  awk -v r="$work" '{ p = $5; gsub(/\\040/, " ", p) } p == r || index(p, r "/") == 1 { print p }' \
    /proc/self/mountinfo | sort -r
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  # To the end, whatever fails on the way.
  set +e
  if [[ -n $step_pid ]]; then
    kill -TERM "$step_pid" 2>/dev/null
    wait "$step_pid" 2>/dev/null
  fi
  local pids signal
  for signal in TERM KILL; do
    pids=$(chroot_pids)
    [[ -n $pids ]] || break
    # shellcheck disable=SC2086
    kill -"$signal" $pids 2>/dev/null
    # Until they have ended; the limit is for one that will not.
    chroot_ended 30
  done
  # The mounts live in the commands' own namespace; should one show here all
  # the same, it is unmounted, and the system is never removed through a
  # mount that is still there (a bound /dev above all).
  local m
  while IFS= read -r m; do
    umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null
  done < <(mounts_under)
  if [[ ! -r /proc/self/mountinfo || -n $(mounts_under) ]]; then
    echo "FAIL: still mounted, so $work is left in place:" >&2
    mounts_under >&2
    status=1
  elif ! rm -rf --one-file-system -- "$work"; then
    echo "FAIL: $work could not be removed" >&2
    status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir -m 755 "$rootfs"
mkdir "$logs"

command -v debootstrap >/dev/null || bash scripts/deps.sh debootstrap

echo "== A brand-new Debian 12 system ($suite, minbase)"
started=$SECONDS
mkdir -p "$cache_dir"
# One check at a time makes the cached system; the others wait for it.
exec 9>"$cache_dir/lock"
if ! flock -w "$limit_system" 9; then
  echo "FAIL: another check kept $cache_dir locked for $limit_system s" >&2
  exit 1
fi
if [[ -f $tarball && -n $(find "$tarball" -mtime -"$max_age_days") ]]; then
  if limited "$limit_system" tar -C "$rootfs" --numeric-owner -xpf "$tarball"; then
    echo "   unpacked from $tarball"
  else
    echo "   $tarball is damaged: made anew"
    rm -f "$tarball"
    rm -rf --one-file-system -- "$rootfs"
    mkdir -m 755 "$rootfs"
  fi
fi
if [[ ! -f $tarball ]]; then
  echo "   debootstrap from $mirror"
  # In a mount namespace of its own: what debootstrap mounts goes with it.
  if ! limited "$limit_system" unshare --mount --propagation private \
      debootstrap --variant=minbase "${include[@]}" "$suite" "$rootfs" "$mirror" >"$logs/debootstrap.log" 2>&1; then
    tail -n 30 "$logs/debootstrap.log" >&2
    echo "FAIL: debootstrap could not make the $suite system from $mirror" >&2
    exit 1
  fi
  limited "$limit_system" tar -C "$rootfs" --numeric-owner -cpf "$tarball.part" .
  mv "$tarball.part" "$tarball"
  echo "   kept as $tarball ($(du -h "$tarball" | cut -f1))"
fi
exec 9>&-

# The machine's mirror, as a fresh install names it; DNS as this machine's.
rm -f "$rootfs/etc/apt/sources.list"
cat >"$rootfs/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $suite
Components: main

Types: deb
URIs: $updates
Suites: $suite-updates
Components: main

Types: deb
URIs: $security
Suites: $suite-security
Components: main
EOF
rm -f "$rootfs/etc/resolv.conf"
cp -L /etc/resolv.conf "$rootfs/etc/resolv.conf"
system_time=$((SECONDS - started))

echo "== A clean clone of $(git rev-parse --short HEAD) in /root/vornlog"
head=$(git rev-parse HEAD)
limited 600 git clone --quiet --no-local "$root" "$rootfs/root/vornlog"
git -C "$rootfs/root/vornlog" -c advice.detachedHead=false checkout --quiet --detach "$head"

# The two commands, as the README's first block gives them.
block=$(awk '/^```/ { if (inside) exit; inside = 1; next } inside' "$rootfs/root/vornlog/README.md" |
  sed -e 's/[[:space:]]*#.*$//' -e 's/[[:space:]]*$//')
run_command=$(grep -m1 '^bash scripts/run-example\.sh\b' <<<"$block" || true)
test_command=$(grep -m1 '^bash scripts/test\.sh\b' <<<"$block" || true)
if [[ -z $run_command || -z $test_command ]]; then
  echo "FAIL: the README's first block does not give the run command and the test command:" >&2
  echo "$block" >&2
  exit 1
fi

failed=()
times=()
for which in run test; do
  if [[ $which == run ]]; then command=$run_command limit=$limit_run; else command=$test_command limit=$limit_test; fi
  echo "== The $which command, as root in the chroot: $command"
  started=$SECONDS
  status=0
  limited "$limit" unshare --mount --propagation private \
    bash "$self" --in-chroot "$rootfs" "$logs/$which.log" "$command" || status=$?
  times+=("$which command $(minutes $((SECONDS - started)))")
  if ((status != 0)); then
    echo "FAIL: the $which command failed on a brand-new Debian 12 system (exit status $status): $command" >&2
    failed+=("$which command")
  elif [[ $which == test ]] && grep -q '^The following tests did not run:' "$logs/$which.log"; then
    echo "FAIL: the test command left tests not run on a brand-new Debian 12 system: $command" >&2
    sed -n '/^The following tests did not run:/,/^[^[:space:]]/p' "$logs/$which.log" | grep '^[[:space:]]' >&2
    failed+=("test command (tests not run)")
  elif [[ $which == run && ! -s $rootfs/root/vornlog/build/session.html ]]; then
    echo "FAIL: the run command wrote no viewer page (build/session.html) on a brand-new Debian 12 system" >&2
    failed+=("run command (no viewer page)")
  fi
done

summary="system $(minutes "$system_time"), ${times[0]}, ${times[1]}, all $(minutes $((SECONDS - began)))"
if ((${#failed[@]})); then
  echo "Fresh-machine check FAILED: ${failed[*]} ($summary)" >&2
  exit 1
fi
echo "Fresh-machine check passed: both README commands on a brand-new Debian 12 system ($summary)"
