#!/usr/bin/env bash
# Builds the Debian package from a configured build folder (cpack) and checks it: the files it
# installs, its control fields, no maintainer scripts, the desktop entry and the metainfo
# validators, the manual pages, and lintian without errors.
# Usage: check_package.sh BUILD_DIR
set -u
build=$(cd "${1:?usage: check_package.sh BUILD_DIR}" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cd "$build" || exit 1
rm -f zemprix_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; echo "FAIL: cpack"; exit 1; }
debs=(zemprix_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { cat cpack.log; echo "FAIL: no single zemprix_*.deb"; exit 1; }
deb=$build/${debs[0]}
echo "package: $deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
dpkg-deb -c "$deb" >"$work/contents"

# --- the files ---------------------------------------------------------------------------------
app=org.zemprix.Zemprix
expected=(
  usr/bin/zemprix usr/bin/zemprix-cli usr/bin/zemprix-boxsim
  usr/share/applications/$app.desktop
  usr/share/metainfo/$app.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/$app.svg
  usr/share/mime/packages/zemprix.xml
  usr/share/man/man1/zemprix.1.gz usr/share/man/man1/zemprix-cli.1.gz usr/share/man/man1/zemprix-boxsim.1.gz
  usr/share/bash-completion/completions/zemprix-cli
  usr/lib/udev/rules.d/60-zemprix.rules
  usr/share/zemprix/readme.txt usr/share/zemprix/doc/index.html
  usr/share/doc/zemprix/copyright usr/share/doc/zemprix/changelog.Debian.gz
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=(usr/share/icons/hicolor/${size}x${size}/apps/$app.png)
done
for f in "${expected[@]}"; do
  [ -f "$work/root/$f" ] || fail "missing /$f"
done
# Builds for tests and the simulator's CLI stay out of the package.
for f in usr/bin/zemprix-cli-sim; do
  [ -e "$work/root/$f" ] && fail "/$f must not be installed"
done
extra=$(cd "$work/root" && find . -type f | sed 's|^\./||' | sort | comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
[ -z "$extra" ] || fail "unexpected files: $extra"

# The application looks for the readme and the help relative to its own folder.
[ "$(cd "$work/root/usr/bin" && cd ../share/zemprix && pwd)" = "$work/root/usr/share/zemprix" ] ||
  fail "readme folder not at ../share/zemprix from the program"

# Owned by root, files 0644 and programs 0755, stripped.
awk '$2 != "root/root" { print "FAIL: owner " $2 " of " $6; bad=1 } END { exit bad }' "$work/contents" ||
  failures=$((failures + 1))
while read -r mode path; do
  case $path in
    ./usr/bin/*) want=755 ;;
    *) want=644 ;;
  esac
  [ "$mode" = "$want" ] || fail "mode $mode of $path (want $want)"
done < <(cd "$work/root" && find . -type f -printf '%m %p\n')
while read -r mode path; do
  [ "$mode" = 755 ] || fail "directory mode $mode of $path"
done < <(cd "$work/root" && find . -mindepth 1 -type d -printf '%m %p\n')
for b in zemprix zemprix-cli zemprix-boxsim; do
  file "$work/root/usr/bin/$b" | grep -q 'not stripped' && fail "/usr/bin/$b is not stripped"
done

# --- control fields ----------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zemprix ] || fail "Package: $(field Package)"
version=$(sed -n 's/^project(zemprix VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[[ $(field Version) == "$version"-* ]] || fail "Version $(field Version), project $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = electronics ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6sql6 libqt6sql6-sqlite libqt6sql6-psql \
           qt6-qpa-plugins libc6 libstdc++6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
# Nothing runs as root after installation: no maintainer scripts at all.
for script in preinst postinst prerm postrm config triggers; do
  [ -e "$work/control/$script" ] && fail "maintainer script $script in the package"
done
# Changelog version matches the package.
zcat "$work/root/usr/share/doc/zemprix/changelog.Debian.gz" | head -1 | grep -qF "($(field Version))" ||
  fail "changelog.Debian.gz does not start with version $(field Version)"

# --- desktop entry, metainfo, MIME, manual pages -----------------------------------------------
desktop-file-validate "$work/root/usr/share/applications/$app.desktop" || fail "desktop-file-validate"
grep -q '^Icon=org.zemprix.Zemprix$' "$work/root/usr/share/applications/$app.desktop" || fail "desktop Icon"
for type in $(sed -n 's/^MimeType=//p' "$work/root/usr/share/applications/$app.desktop" | tr ';' ' '); do
  grep -q "type=\"$type\"" "$work/root/usr/share/mime/packages/zemprix.xml" ||
    [ -e "/usr/share/mime/$type.xml" ] || fail "MIME type $type is defined nowhere"
done
xmllint --noout "$work/root/usr/share/mime/packages/zemprix.xml" || fail "MIME package is not well-formed"
appstreamcli validate --no-net --pedantic "$work/root/usr/share/metainfo/$app.metainfo.xml" >"$work/appstream" 2>&1
status=$?
cat "$work/appstream"
# Errors fail (status 3), warnings and pedantic notes are shown only.
[ $status -le 2 ] && ! grep -q '^E:' "$work/appstream" || fail "appstreamcli validate"
grep -q '@[A-Z_]*@' "$work/root/usr/share/metainfo/$app.metainfo.xml" && fail "metainfo not configured"
for page in zemprix zemprix-cli zemprix-boxsim; do
  gz=$work/root/usr/share/man/man1/$page.1.gz
  zcat "$gz" | grep -q '@[A-Z_]*@' && fail "$page.1 not configured"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$gz" 2>/dev/null | grep -q "EXIT STATUS" || fail "$page.1 renders no EXIT STATUS"
done
bash -n "$work/root/usr/share/bash-completion/completions/zemprix-cli" || fail "completion syntax"
grep -q 'TAG+="uaccess"' "$work/root/usr/lib/udev/rules.d/60-zemprix.rules" || fail "udev rule gives no uaccess"
grep -q 'DRIVER=="ftdi_sio", ATTR{latency_timer}="1"' "$work/root/usr/lib/udev/rules.d/60-zemprix.rules" || fail "udev rule leaves the FTDI latency timer"

# --- lintian -----------------------------------------------------------------------------------
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>&1
  cat "$work/lintian"
  grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"
else
  fail "lintian is not installed (scripts/install-deps.sh)"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
