#!/usr/bin/env bash
# package_test.sh BUILD: builds the Debian package of BUILD, checks it with lintian, desktop-file-validate
# and appstreamcli, unpacks it and uses what it ships from there: the tools, the manual pages, the file
# type as GLib sees it, the shell completion. With CI=true it also installs the package with apt, uses it
# from the installed paths and purges it again, leaving nothing behind.
set -uo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
installed=false
# A run that stops between installing and purging still takes the package away again.
purge='$installed && DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vopra >/dev/null 2>&1'
trap "$purge"'; rm -rf "$work"' EXIT
passed=0
failed=0

expect() { # expect WHAT EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}

rm -f "$build"/vopra_*.deb
if ! cmake --build "$build" --target package >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "package_test: the package target failed"
  exit 1
fi
deb=$(echo "$build"/vopra_*.deb)
[ -f "$deb" ] || { echo "package_test: no package in $build"; exit 1; }
version=$(dpkg-deb -f "$deb" Version)
echo "package: $deb"
dpkg-deb -f "$deb" Depends

# Lintian, infos included: nothing beyond the known tags. The package is not uploaded to Debian, so it
# closes no bug there; CPack's strip leaves the compiler's .comment section, which only costs bytes.
lintian --allow-root -I "$deb" >"$work/lintian" 2>&1
expect "lintian's status" 0 $?
cat "$work/lintian"
expect "lintian's unexpected tags" "" \
  "$(grep -E '^[EWI]: ' "$work/lintian" \
    | grep -vE ': (initial-upload-closes-no-bugs|binary-has-unneeded-section) ')"

root=$work/root
dpkg-deb -x "$deb" "$root"
usr=$root/usr

# The protections Debian's own packages carry, on the binaries as shipped. Stack clash probes exist only
# in frames over a page ("unknown" otherwise). Debian 12's startup files lack the control flow marking,
# so no binary can carry it; the landing pads -fcf-protection puts at function entries (about one per
# return; without it, a few from the C library) show the code is built with it.
for binary in qpt vopra; do
  hardening-check --nocfprotection "$usr/bin/$binary" >"$work/hardening" 2>&1
  expect "hardening-check $binary" 0 $?
  expect "hardening-check $binary: stack clash" 1 \
    "$(grep -cE '^ Stack clash protection: (yes|unknown)' "$work/hardening")"
  objdump -d --no-show-raw-insn "$usr/bin/$binary" >"$work/code"
  pads=$(grep -cP '\tendbr64' "$work/code") returns=$(grep -cP '\tret' "$work/code")
  expect "$binary: landing pads ($pads) for at least half of its returns ($returns)" true \
    "$([ $((pads * 2)) -ge "$returns" ] && echo true || echo false)"
done

expect "desktop-file-validate" "" "$(desktop-file-validate "$usr/share/applications/vopra.desktop" 2>&1)"
metainfo=$(echo "$usr"/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "$metainfo" >"$work/appstream" 2>&1
expect "appstreamcli validate" 0 $?
grep -vE '^(I: |$)' "$work/appstream" | grep -v 'Validation was successful' || true
for named in '<launchable type="desktop-id">vopra.desktop</launchable>' '<binary>vopra</binary>' \
  '<binary>qpt</binary>'; do
  expect "metainfo has $named" 1 "$(grep -cF "$named" "$metainfo")"
done
# vopra opens no file it is handed, so it offers itself for none: patches are dropped on its window.
expect "metainfo's media types" 0 "$(grep -c '<mediatype>' "$metainfo")"
for size in 16 22 24 32 48 64 128 256; do
  for icon in apps/vopra mimetypes/application-x-qpt-patch; do
    expect "${size}px $icon" "PNG image data, $size x $size" \
      "$(file -b "$usr/share/icons/hicolor/${size}x$size/$icon.png" | cut -d, -f1-2)"
  done
done

# The tools as shipped (the tool's own tests cover every form): the version, a round trip.
qpt=$usr/bin/qpt
expect "qpt --version" "qpt (vopra) ${version%-*}" "$("$qpt" --version)"
cd "$work"
head -c 300000 /dev/urandom >old.sfc
{ head -c 1000 old.sfc; head -c 5000 /dev/urandom; tail -c +6001 old.sfc; head -c 777 /dev/urandom; } >new.sfc
"$qpt" create old.sfc new.sfc
expect "create's status" 0 $?
"$qpt" apply old.qpt old.sfc made.sfc && cmp -s made.sfc new.sfc
expect "applied forward" 0 $?
said=$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/vopra" 2>&1)
expect "vopra without a display" "vopra: cannot open the X display (is DISPLAY set?)|1" "$said|$?"

for page in qpt vopra; do
  MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" >"$page.txt" 2>"$page.warnings"
  expect "man $page: status and warnings" "0:" "$?:$(cat "$page.warnings")"
  expect "man $page: NAME line" 1 "$(grep -cE "^ +$page +- " "$page.txt")"
done

# The file type as GLib reports it, from the package's mime database alone: by the name, and by the
# magic bytes under names that claim no other type; a name that does claim one keeps it. Its name and
# icon, and no program to open it with: the installed vopra (on PATH, its entry indexed as the
# package's triggers do) takes no file it is handed.
update-mime-database "$usr/share/mime" 2>/dev/null
expect "update-mime-database" 0 $?
update-desktop-database "$usr/share/applications"
expect "update-desktop-database" 0 $?
mkdir home
for name in p.dat p.bin noextension p.patch; do cp old.qpt "$name"; done
echo "not a patch" >text.qpt
PATH=$usr/bin:$PATH XDG_DATA_HOME=$work/home XDG_DATA_DIRS=$usr/share:/usr/share /usr/bin/python3 - \
  old.qpt p.dat p.bin noextension p.patch text.qpt >types <<'EOF'
import sys
from gi.repository import Gio
for name in sys.argv[1:]:
    kind = Gio.File.new_for_path(name).query_info("standard::content-type", 0, None).get_content_type()
    print(name, kind, sep=": ")
patch = "application/x-qpt-patch"
print("comment:", Gio.content_type_get_description(patch))
print("icon:", Gio.content_type_get_icon(patch).get_names()[0])
print("opened by:", *[app.get_id() for app in Gio.AppInfo.get_all_for_type(patch)])
EOF
expect "types" "old.qpt: application/x-qpt-patch|p.dat: application/x-qpt-patch|\
p.bin: application/x-qpt-patch|noextension: application/x-qpt-patch|p.patch: text/x-patch|\
text.qpt: application/x-qpt-patch|comment: QPT binary patch|icon: application-x-qpt-patch|\
opened by:" "$(paste -sd'|' types)"

# Completion: the commands, then files, and patches only where a patch is expected.
mkdir -p complete/folder && cd complete
touch a.qpt b.QPT data.sfc
complete_line() { # complete_line WORDS...: the candidates for the last word, sorted, on one line
  local show='printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd" "'
  bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _qpt; '"$show" \
    "$usr/share/bash-completion/completions/qpt" "$@"
}
while IFS='|' read -r line candidates; do
  read -ra words <<<"$line"
  [ "${line: -1}" = " " ] && words+=("")
  expect "completion of '$line'" "$candidates" "$(complete_line "${words[@]}")"
done <<'EOF'
qpt |apply create info
qpt c|create
qpt --v|--version
qpt apply |a.qpt b.QPT folder
qpt apply a.qpt |a.qpt b.QPT data.sfc folder
qpt apply a.qpt d|data.sfc
qpt create data.sfc data.sfc |a.qpt b.QPT folder
qpt info a.qpt |a.qpt b.QPT data.sfc folder
qpt info a.qpt data.sfc |
qpt -- info |a.qpt b.QPT folder
EOF
cd "$work"

# Installed as users install it, used from the installed paths, purged without a trace.
if [ "${CI:-}" = true ]; then
  echo "=== installing $deb"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >apt.log 2>&1
  expect "apt-get install" 0 $?
  installed=true
  expect "installed qpt --version" "qpt (vopra) ${version%-*}" "$(/usr/bin/qpt --version)"
  expect "man -w" "/usr/share/man/man1/qpt.1.gz /usr/share/man/man1/vopra.1.gz" \
    "$(man -w qpt vopra | paste -sd' ')"
  expect "installed type" "application/x-qpt-patch" \
    "$(gio info -a standard::content-type old.qpt | sed -n 's/.*content-type: //p')"
  dpkg -L vopra >files
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vopra >>apt.log 2>&1
  expect "apt-get purge" 0 $?
  installed=false
  expect "dpkg status after purge" "" "$(dpkg-query -W -f='${Status}' vopra 2>/dev/null)"
  left=""
  while read -r path; do
    # Shared folders such as /usr/share stay; every file and every folder of vopra's own goes.
    if [ -e "$path" ] && { [ ! -d "$path" ] || [ -z "$(dpkg -S "$path" 2>/dev/null)" ]; }; then
      left+="$path "
    fi
  done <files
  expect "left after purge" "" "$left"
  expect "type after purge" "" "$(ls /usr/share/mime/application/x-qpt-patch.xml 2>/dev/null)"
  [ "$failed" -eq 0 ] || cat apt.log
fi

echo "package_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
