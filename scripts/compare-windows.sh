#!/usr/bin/env bash
# First what the binaries import and export, then the registration round trip under Wine: `regsvr32 /s` writes the class keys, the type
# library and the proxy/stub keys, `regsvr32 /u /s` removes them all (then it registers again).
# Then it compares the Windows flvhost.exe (under Wine) with the Linux flvhost on every file of
# ../shared/testdata/flv/: `info`, `index --csv`, `frames --md5` and `audio -o -` (the PCM bytes,
# compared by their MD5), all with --no-cache. Needs both builds:
#   scripts/build-windows.sh                 (build-windows/)
#   a Linux build with flvhost               (LINUX_BUILD, default build-asan)
# Both builds decode with the same FFmpeg source and the same decoders (scripts/build-windows.sh),
# so every output must be identical, with one exception: FFmpeg's Speex decoder computes in
# floating point with cosf/expf, which come from glibc on Linux and from mingw-w64's runtime on
# Windows; its PCM must have the same length and every sample within 1 of the Linux one.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-windows}
LINUX_BUILD=${LINUX_BUILD:-build-asan}
DATA=${DATA:-../shared/testdata/flv}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
. scripts/wine-prefix.sh

same=0 different=0
check() {  # description, then a command that must succeed
  local what=$1; shift
  if "$@" </dev/null >/dev/null 2>&1; then same=$((same + 1)); else
    different=$((different + 1)); echo "FAILED: $what"; fi
}
absent() { ! wine reg query "$1" </dev/null >/dev/null 2>&1; }
# What a binary imports beyond Windows' own DLLs (and mediakit.dll, which host_example links).
foreign_imports() {
  x86_64-w64-mingw32-objdump -p "$BUILD_DIR/bin/$1" | awk '/DLL Name:/ {print $3}' |
    grep -viE '^(advapi32|bcrypt|kernel32|msvcrt|ole32|oleaut32|rpcrt4|shell32|shlwapi)\.dll$' |
    grep -vx 'mediakit.dll'
}
for binary in zevflashfile5.dll mediakit.dll flvhost.exe host_example.exe; do
  check "$binary imports only Windows' own DLLs" test -z "$(foreign_imports "$binary")"
done
# The names of zevflashfile5.dll's export table, on one line.
exported_names() {
  x86_64-w64-mingw32-objdump -p "$BUILD_DIR/bin/zevflashfile5.dll" |
    awk '/Ordinal\/Name Pointer/ {on = 1; next} on && NF == 3 {print $3} on && NF < 3 {on = 0}' |
    tr '\n' ' '
}
check "zevflashfile5.dll exports exactly its five entry points" test "$(exported_names)" = \
  "DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer "
keys=('HKCR\CLSID\{4782B4A0-9258-40BD-8739-54432C6407A2}\InprocServer32'
  'HKCR\CLSID\{5E470577-C2B2-4451-9A88-10E1493C8126}\InprocServer32'
  'HKCR\CLSID\{2D955AA8-8E94-4A94-A669-C493B0730C20}\InprocServer32'
  'HKCR\TypeLib\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}\1.0\0\win64'
  'HKCR\Interface\{28591EB4-B1A9-429D-A95A-1DECEDCFC688}'
  'HKCR\Interface\{6EAE28E0-424E-4642-A408-BC118DE35F45}\ProxyStubClsid32'
  'HKCR\Interface\{49D73883-2969-41A6-B6B3-01EF8A02F463}\ProxyStubClsid32'
  'HKCR\CLSID\{6EAE28E0-424E-4642-A408-BC118DE35F45}\InprocServer32')
for key in "${keys[@]}"; do check "registered: $key" wine reg query "$key"; done
check "ThreadingModel Apartment" sh -c "wine reg query '${keys[0]}' /v ThreadingModel | grep -q Apartment"
check "regsvr32 /u" wine regsvr32 /u /s "$BUILD_DIR/bin/zevflashfile5.dll"
for key in "${keys[@]}"; do check "removed: $key" absent "$key"; done
check "regsvr32 again" wine regsvr32 /s "$BUILD_DIR/bin/zevflashfile5.dll"

# The Linux flvhost with a registry of its own.
export ZEV_REGISTRY_USER=$WORK/user.reg ZEV_REGISTRY_MACHINE=$WORK/machine.reg
export ASAN_OPTIONS=detect_leaks=0
"$LINUX_BUILD/bin/flvhost" register --user >/dev/null || exit 1

compare() {  # name, then the arguments after the file
  local name=$1 file=$2; shift 2
  local linux windows
  linux=$("$LINUX_BUILD/bin/flvhost" "$@" "$file" --no-cache 2>&1 | md5sum)
  windows=$(wine "$BUILD_DIR/bin/flvhost.exe" "$@" "$file" --no-cache 2>&1 | md5sum)
  if [ "$linux" = "$windows" ]; then
    same=$((same + 1))
  else
    different=$((different + 1))
    echo "DIFFERENT: $name: flvhost $* $file"
  fi
}
for file in "$DATA"/*.flv; do
  name=$(basename "$file")
  compare "$name" "$file" info
  compare "$name" "$file" index --csv
  compare "$name" "$file" frames --md5
  if "$LINUX_BUILD/bin/flvhost" info "$file" --no-cache 2>/dev/null | grep -q '^Audio: *Speex'; then
    "$LINUX_BUILD/bin/flvhost" audio "$file" -o - --no-cache >"$WORK/linux.pcm" 2>/dev/null
    wine "$BUILD_DIR/bin/flvhost.exe" audio "$file" -o - --no-cache >"$WORK/windows.pcm" 2>/dev/null
    if [ "$(wc -c <"$WORK/linux.pcm")" = "$(wc -c <"$WORK/windows.pcm")" ] &&
      summary=$(paste <(od -An -v -td2 -w2 "$WORK/linux.pcm") <(od -An -v -td2 -w2 "$WORK/windows.pcm") |
        awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > 1) far++; if (d) near++ }
             END { printf "%d of %d samples differ by 1", near, NR; exit far > 0 }'); then
      echo "Speex: $name: $summary"
      same=$((same + 1))
    else
      echo "DIFFERENT: $name: Speex PCM differs by more than 1 or in length"
      different=$((different + 1))
    fi
  else
    compare "$name" "$file" audio -o -
  fi
done
echo "compare-windows: $same passed, $different failed"
[ "$different" = 0 ]
