#!/usr/bin/env bash
# CI: the deliverables as a user gets them, on the fresh Debian 12 machine (after
# scripts/test.sh installed the packages):
#  1. scripts/package.sh builds the Release tree and the .deb;
#  2. `cmake --install` into a temporary prefix; an outside CMake project (tests/package) finds
#     the package, builds the host example against it and reads a sample, the component being
#     registered for the user in a temporary registry by the installed flvhost;
#  3. the .deb: dpkg -i (apt-get install -f for what it needs); flvhost info on the sample as a
#     plain user who registered nothing (postinst registered the component machine-wide);
#     dpkg -r; then no installed file remains and the machine registry holds none of our keys;
#     dpkg --purge takes the machine registry that postinst made;
#  4. where the Windows build is there, the zip: unpacked into a fresh Wine prefix, its DLLs
#     registered with regsvr32, flvhost.exe info and host_example.exe on the sample.
# Needs root (or sudo) for dpkg; refuses to run where the package is already installed.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
unset ZEV_REGISTRY_MACHINE ZEV_REGISTRY_USER XDG_DATA_HOME XDG_CONFIG_HOME
machine_hive=/var/lib/zev-registry/machine.reg

work=$(mktemp -d /tmp/zev-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
fail() { echo "package check FAILED: $*" >&2; exit 1; }
step() { printf '\n== %s\n' "$*"; }

step "scripts/package.sh"
SKIP_INSTALL=1 scripts/package.sh | tee "$work/package.txt"
deb=$(grep '\.deb$' "$work/package.txt" | tail -n 1)
zip=$(grep '\.zip$' "$work/package.txt" | tail -n 1 || true)
[ -f "$deb" ] || fail "no .deb built"
build=$(dirname "$(dirname "$deb")")

# Two seconds of H.264 + AAC.
sample=$work/sample.flv
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=160x120:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 2 \
  -c:v libx264 -g 25 -pix_fmt yuv420p -c:a aac -ac 2 "$sample"
chmod 644 "$sample"

step "cmake --install into a temporary prefix; find_package from an outside project"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S tests/package -B "$work/outside" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" |
  grep 'zevflashfile5 module'
ninja -C "$work/outside" >/dev/null
module=$(cat "$work/outside/module-path.txt")
[ -f "$module" ] || fail "zevflashfile5_MODULE names no file: $module"
(
  export ZEV_REGISTRY_USER=$work/registry/user.reg ZEV_REGISTRY_MACHINE=$work/registry/machine.reg
  export XDG_DATA_HOME=$work/data
  # The installed flvhost finds the installed module by itself.
  "$prefix/bin/flvhost" register --user | tee "$work/register.txt"
  grep -qF "$module" "$work/register.txt" || fail "flvhost registered another module"
  "$work/outside/host_example" "$sample" | tee "$work/example.txt"
)
grep -q '^frame at' "$work/example.txt" && grep -q '^audio at' "$work/example.txt" ||
  fail "the outside host example read no frame or no audio"

# Every identifier of ours (the classes, the type library, its interfaces) that the machine hive
# holds. Key names are stored as UTF-8 text, so a byte search finds them.
mapfile -t ids < <(grep -io 'uuid([0-9a-f-]*)' frame/zevflashfile5.idl | cut -c6-41 | sort -u)
[ "${#ids[@]}" -ge 4 ] || fail "no identifiers found in the IDL"
ours_in_hive() {
  [ -f "$machine_hive" ] || return 0
  for id in "${ids[@]}"; do grep -aio -- "$id" "$machine_hive" | head -n 1 || true; done
}

step "dpkg -i"
if dpkg -s zevflashfile5 >/dev/null 2>&1; then fail "zevflashfile5 is already installed here"; fi
[ -z "$(ours_in_hive)" ] || fail "the machine registry holds our keys before the install"
hive_before=no
if [ -e "$machine_hive" ]; then hive_before=yes; fi
$SUDO dpkg -i "$deb" || $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -f -y
dpkg -s zevflashfile5 | grep -q '^Status: install ok installed' || fail "not installed"
dpkg-query -W -f='${Package} ${Version}: Depends: ${Depends}\n' zevflashfile5
dpkg -L zevflashfile5 >"$work/files.txt"
echo "installed files:"
while read -r path; do [ -d "$path" ] || echo "  $path"; done <"$work/files.txt"
echo "the machine registry ($machine_hive) holds: $(ours_in_hive | tr '\n' ' ')"
[ "$(ours_in_hive | wc -l)" -ge 4 ] || fail "postinst did not register the classes"

step "flvhost info as a plain user (no flvhost register)"
home=$work/home
mkdir -p "$home"
if [ "$(id -u)" -eq 0 ]; then
  chown nobody "$home"
  as_user() { runuser -u nobody -- env HOME="$home" "$@"; }
else
  as_user() { env HOME="$home" "$@"; }
fi
as_user flvhost info "$sample" | tee "$work/info.txt"
grep -q 'H.264' "$work/info.txt" && grep -q 'AAC' "$work/info.txt" || fail "flvhost info"
[ ! -e "$home/.config/zev-registry" ] || fail "flvhost info wrote a per-user registry"

step "dpkg -r"
$SUDO dpkg -r zevflashfile5
left=()
while read -r path; do
  # The system's own folders (/usr, /usr/lib, ...) stay; nothing of ours may.
  if [ -d "$path" ] && [[ "$path" != *zevflashfile5* ]]; then continue; fi
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <"$work/files.txt"
echo "left of the $(wc -l <"$work/files.txt") paths dpkg -L listed: ${#left[@]} (${left[*]:-none})"
[ "${#left[@]}" -eq 0 ] || fail "files left after dpkg -r"
echo "listing after: $(ls -d /usr/include/zevflashfile5 /usr/lib/*/zevflashfile5 \
  /usr/lib/*/cmake/zevflashfile5 /usr/share/zevflashfile5 /usr/share/doc/zevflashfile5 \
  /usr/bin/flvhost /usr/lib/*/libplatform.so /usr/lib/*/libmediakit.so 2>/dev/null | wc -l) paths"
echo "the machine registry after: $(ls -l "$machine_hive" 2>/dev/null || echo none);" \
  "our identifiers in it: $(ours_in_hive | wc -l)"
[ -z "$(ours_in_hive)" ] || fail "the machine registry still holds our keys"

step "dpkg --purge"
$SUDO dpkg --purge zevflashfile5 >/dev/null
if [ "$hive_before" = no ] && [ -e "$machine_hive" ]; then
  fail "the machine registry that postinst made is still there after the purge"
fi

if [ -n "$zip" ]; then
  step "the Windows zip in a fresh Wine prefix: regsvr32, flvhost.exe info, host_example.exe"
  cmake -E chdir "$work" cmake -E tar xf "$zip"
  folder=$work/$(basename "$zip" .zip)
  ls -1 "$folder"
  for file in zevflashfile5.dll mediakit.dll flvhost.exe host_example.exe zevflashfile5.idl \
    zevflashfile5.tlb README-Windows.txt; do
    [ -f "$folder/$file" ] || fail "the zip holds no $file"
  done
  export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=
  # A server of its own, detached from our output, so that nothing keeps the pipes open.
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  wineboot -i </dev/null >/dev/null 2>&1
  (
    cd "$folder"
    wine regsvr32 /s mediakit.dll </dev/null || fail "regsvr32 mediakit.dll"
    wine regsvr32 /s zevflashfile5.dll </dev/null || fail "regsvr32 zevflashfile5.dll"
  )
  wine reg query 'HKCR\CLSID\{4782B4A0-9258-40BD-8739-54432C6407A2}\InprocServer32' </dev/null |
    tr -d '\r' | grep -i 'zevflashfile5.dll' || fail "FlashFile5 is not registered"
  windows_sample=$(winepath -w "$sample")
  wine "$folder/flvhost.exe" info "$windows_sample" </dev/null | tr -d '\r' |
    tee "$work/windows-info.txt"
  grep -q 'H.264' "$work/windows-info.txt" && grep -q 'AAC' "$work/windows-info.txt" ||
    fail "flvhost.exe info"
  wine "$folder/host_example.exe" "$windows_sample" </dev/null | tr -d '\r' |
    tee "$work/windows-example.txt"
  grep -q '^frame at' "$work/windows-example.txt" || fail "host_example.exe read no frame"
fi
echo "package check passed"
