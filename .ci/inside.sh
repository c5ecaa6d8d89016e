#!/usr/bin/env bash
# The inside of .ci/run: the first process of a private mount and PID namespace, so that what it binds
# into the roots and every process started in them end with it.
set -euo pipefail
work=$CI_WORK
export DISPLAY=$CI_DISPLAY  # for the host's xdotool and xwininfo

mounted=()
enter() { # enter ROOT: binds in what builds and tests need of the host
  local root=$1
  mount --rbind /dev "$root/dev"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount -t tmpfs tmpfs "$root/tmp"
  mount --bind "$CI_CACHE/archives" "$root/var/cache/apt/archives"
  mounted+=("$root")
}
leave() {
  local root
  for root in "${mounted[@]}"; do
    for point in var/cache/apt/archives tmp sys proc dev; do
      umount -R "$root/$point" 2>/dev/null || umount -lR "$root/$point" 2>/dev/null || true
    done
  done
  mounted=()
}
trap leave EXIT

# As root in ROOT, with the environment of a plain login shell there.
in_root() { # in_root ROOT COMMAND
  chroot "$1" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    CI=true DISPLAY="$CI_DISPLAY" ${FUZZ_SECONDS:+FUZZ_SECONDS=$FUZZ_SECONDS} /bin/bash -c "$2"
}

# Waits for vopra's main window on the shared display, then ends the program that shows it.
expect_window() { # expect_window PID SECONDS WHAT
  local window="" deadline=$((SECONDS + $2))
  while [ -z "$window" ] && kill -0 "$1" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    sleep 1
    window=$(xdotool search --onlyvisible --name '^vopra v04$' 2>/dev/null) || true
  done
  if [ -z "$window" ]; then
    echo "ci: $3: no window titled 'vopra v04' appeared" >&2
    kill "$1" 2>/dev/null
    return 1
  fi
  echo "ci: $3: window $(xwininfo -id "${window%%$'\n'*}" | awk '/Width|Height/ { printf "%s ", $2 }')"
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null || true
}

# Starts COMMAND in ROOT and expects its window within SECONDS; on failure, the end of what it said.
show_window() { # show_window ROOT COMMAND SECONDS WHAT
  local log
  log=$(mktemp "$work/window.XXXXXX")
  in_root "$1" "$2" >"$log" 2>&1 &
  expect_window $! "$3" "$4" || { tail -n 40 "$log"; exit 1; }
}

base=$work/base
enter "$base"

step "tools/run.sh in the fresh root"
show_window "$base" 'cd /root/vopra && tools/run.sh' 1200 "tools/run.sh"

step "tools/test.sh in the same root"
in_root "$base" 'cd /root/vopra && tools/test.sh'

# And in the other order, as a user who tested first then starts the program.
step "tools/run.sh again, after the tests"
show_window "$base" 'cd /root/vopra && tools/run.sh' 300 "tools/run.sh after the tests"

step "the package installed with apt into a second fresh root, and used"
plain=$work/plain
cp "$base"/root/vopra/build/release/vopra_*.deb "$plain/root/"
enter "$plain"
in_root "$plain" '
  set -e
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends ./root/vopra_*.deb >/dev/null
  dpkg-query -W -f "installed: \${Package} \${Version}\n" vopra
  cd "$(mktemp -d)"
  head -c 300000 /dev/urandom >old.bin
  { head -c 100000 old.bin; printf changed; tail -c +100008 old.bin; head -c 777 /dev/urandom; } >new.bin
  cp -p old.bin game.bin
  /usr/bin/qpt create old.bin new.bin game.qpt
  /usr/bin/qpt apply game.qpt old.bin out.bin && cmp out.bin new.bin
  /usr/bin/qpt apply game.qpt game.bin && cmp game.bin new.bin && cmp game.bak old.bin
  /usr/bin/qpt info game.qpt game.bin
  echo "qpt round trip: ok"'
show_window "$plain" 'exec /usr/bin/vopra' 60 "the installed vopra"
step "all passed"
