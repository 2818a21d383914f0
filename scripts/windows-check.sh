#!/usr/bin/env bash
# Cross-builds the engines, their tests and the command-line programs for Windows with
# MinGW-w64, runs every test under Wine, then runs the demo's steps with Windows paths (once
# with plain names, once with non-ASCII ones) and compares the price file with the Linux
# build's. Ends with "N passed, M failed". libzip and GoogleTest are built from Debian's
# source packages with the same toolchain and kept in build-windows/deps, so a second run
# builds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
work=$root/build-windows
deps=$work/deps
export WINEDEBUG=-all
export WINEPREFIX=$work/wine
wine=/usr/lib/wine/wine64

need=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64
      dpkg-dev cmake ninja-build pkg-config nlohmann-json3-dev)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
export DEBIAN_FRONTEND=noninteractive
apt_updated=0
apt_update() {
  ((apt_updated)) || apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt_updated=1
}
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt_update
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Sources of a Debian package, unpacked into $work/src/NAME; needs a deb-src line beside the
# deb line, added once.
debian_source() {
  local name=$1
  if ! grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        >/etc/apt/sources.list.d/quillmere-deb-src.sources
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/quillmere-deb-src.list
    fi
    apt_updated=0
  fi
  apt_update
  rm -rf "$work/src/$name" && mkdir -p "$work/src/$name"
  (cd "$work/src/$name" && apt-get source -qq "$name" >/dev/null 2>&1)
  find "$work/src/$name" -mindepth 1 -maxdepth 1 -type d | head -1
}

echo "Set-up done after ${SECONDS} s"
cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_INSTALL_PREFIX="$deps" -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF)
export QM_WIN_DEPS=$deps
if [ ! -f "$deps/lib/libzip.a" ]; then
  echo "Building libzip for Windows"
  src=$(debian_source libzip)
  cmake -S "$src" -B "$work/src/libzip-build" "${cross[@]}" -DENABLE_COMMONCRYPTO=OFF \
    -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
    -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF -Wno-dev >/dev/null 2>&1
  cmake --build "$work/src/libzip-build" -j"$jobs" >/dev/null
  cmake --install "$work/src/libzip-build" >/dev/null
fi
if [ ! -f "$deps/lib/libgtest.a" ]; then
  echo "Building GoogleTest for Windows"
  src=$(debian_source googletest)
  cmake -S "$src" -B "$work/src/googletest-build" "${cross[@]}" -DBUILD_GMOCK=ON -Wno-dev >/dev/null 2>&1
  cmake --build "$work/src/googletest-build" -j"$jobs" >/dev/null
  cmake --install "$work/src/googletest-build" >/dev/null
fi
rm -rf "$work/src"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# nlohmann-json is headers only: Debian's copy serves the cross build from under the deps
# prefix, so that the cross compiler never looks into the host's /usr/include.
if [ ! -f "$deps/share/cmake/nlohmann_json/nlohmann_jsonConfig.cmake" ]; then
  mkdir -p "$deps/include" "$deps/share/cmake"
  cp -r /usr/include/nlohmann "$deps/include/"
  cp -r /usr/share/cmake/nlohmann_json "$deps/share/cmake/"
fi
echo "Building for Windows"
cmake -S . -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_UI=OFF -DQM_WERROR=ON -DCMAKE_PREFIX_PATH="$deps" \
  "${launcher[@]}" >/dev/null
cmake --build "$work/build" -j"$jobs" | grep -v '^\[' || true
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "Windows build failed"; exit 1; }
echo "Windows build done after ${SECONDS} s"
# The Linux programs the tables are compared with: scripts/test.sh's build when it is there.
linuxbin=$root/build-asan/bin
if [ ! -x "$linuxbin/quillmere-import" ] || [ ! -f "$linuxbin/exprtwin.dbf" ]; then
  cmake -S . -B "$work/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF \
    -DQM_BUILD_UI=OFF "${launcher[@]}" >/dev/null
  cmake --build "$work/linux" -j"$jobs" --target quillmere-import qm_datafiles >/dev/null
  linuxbin=$work/linux/bin
fi

passed=0 failed=0 skipped=0
failures=()
# Z:\ is the root of the Linux file system in Wine.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Every test executable, once each; GoogleTest's own summary gives the counts.
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true  # creates the Wine prefix on a first run
# A new prefix goes on setting itself up in the background; a test that starts a process of
# its own meanwhile can find it not yet startable. Wait until Wine has settled (bounded).
timeout 300 /usr/lib/wine/wineserver -w || true
export QM_NODE_MODULES=${QM_NODE_MODULES:-$root/build-tools/node_modules}
for exe in "$work/build/tests/"*_tests.exe; do
  name=$(basename "$exe" .exe)
  log=$work/$name.log
  set +e
  (cd "$work/build/tests" && timeout 900 "$wine" "$exe" --gtest_color=no >"$log" 2>&1)
  rc=$?
  set -e
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  s=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  p=${p:-0} s=${s:-0} f=${f:-0}
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi  # crashed or hung
  passed=$((passed + p)) skipped=$((skipped + s)) failed=$((failed + f))
  printf '%-24s %4d passed, %d failed, %d skipped\n' "$name" "$p" "$f" "$s"
  if [ "$f" -ne 0 ]; then
    failures+=("$name")
    grep -E '^\[  FAILED  \]|Failure|error' "$log" | head -20 || true
  fi
done

# The demo's steps with Windows paths, in a folder of plain names and in one of non-ASCII
# names; the price file must equal the Linux build's but for the date in its header (bytes
# 1 to 3).
check() {
  local label=$1 ok=$2
  if [ "$ok" = 1 ]; then
    passed=$((passed + 1)); echo "ok: $label"
  else
    failed=$((failed + 1)); failures+=("$label"); echo "FAILED: $label"
  fi
}
same_but_date() { cmp -s <(tail -c +5 "$1") <(tail -c +5 "$2") && [ "$(head -c 1 "$1" | od -An -tx1)" = "$(head -c 1 "$2" | od -An -tx1)" ]; }
demo() {
  local label=$1 progname=$2 destname=$3 sourcename=$4 bin=$5 exe=$6 run
  run=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-win.XXXXXX")
  local prog=$run/$progname out=$run/$destname tessaro=$run/Tessaro
  mkdir -p "$prog" "$out"
  cp "$bin"/exprtwin.dbf "$bin"/exprtwin.dbt "$bin"/flistwin.dbf "$bin"/filelwin.dbf "$prog"/
  [ -f "$bin/flistwin.dbt" ] && cp "$bin/flistwin.dbt" "$prog"/
  cp -r "$bin/sample/Tessaro" "$tessaro"
  cp "$bin/sample/acme-pricelist.xlsx" "$run/$sourcename"
  local p o t s c
  if [ -n "$exe" ]; then
    p=$(winpath "$prog")\\ o=$(winpath "$out")\\ t=$(winpath "$tessaro/Data")\\
    s=$(winpath "$run/$sourcename") c=$(winpath "$bin/sample/acme-monthly.config")
  else
    p=$prog/ o=$out/ t=$tessaro/Data/ s=$run/$sourcename c=$bin/sample/acme-monthly.config
  fi
  local ok=1
  {
    $exe "$bin/quillmere-import$([ -n "$exe" ] && echo .exe)" --program-folder "$p" config import "$c" &&
    $exe "$bin/quillmere-import$([ -n "$exe" ] && echo .exe)" --program-folder "$p" build \
      --config "Acme Electrical monthly" --source "$s" --dest "$o" --vendor-info --manulist "$t"
  } >"$run/log" 2>&1 || ok=0
  [ -f "$out/ACMELIST.dbf" ] || ok=0
  if [ "$ok" = 0 ]; then cat "$run/log" >&2; fi
  echo "$run"
  return $((1 - ok))
}
linuxrun=$(ASAN_OPTIONS=detect_leaks=0 demo linux program prices acme-pricelist.xlsx "$linuxbin" "" | tail -1) || true
winrun=$(demo windows program prices acme-pricelist.xlsx "$work/build/bin" "$wine" | tail -1) || true
# Every table the runs wrote or changed: the price file, the registration and the stored
# configuration.
ok=1
for f in prices/ACMELIST.dbf $(cd "$linuxrun" && find program Tessaro -type f | sort); do
  same_but_date "$linuxrun/$f" "$winrun/$f" || { ok=0; echo "differs: $f"; }
done
check "Windows files equal the Linux ones but for the date" "$ok"

uni=$(demo unicode "Preise Müller" "Цены" "Müller-Preisliste.xlsx" "$work/build/bin" "$wine" | tail -1) || true
ok=0
[ -f "$uni/Цены/ACMELIST.dbf" ] && [ -f "$uni/Preise Müller/storelst.dbf" ] &&
  same_but_date "$linuxrun/prices/ACMELIST.dbf" "$uni/Цены/ACMELIST.dbf" && ok=1
check "non-ASCII program folder, destination and source" "$ok"
rm -rf "$linuxrun" "$winrun" "$uni"

if ((${#failures[@]})); then echo "Failed under Wine: ${failures[*]}"; fi
echo "Windows check took ${SECONDS} s"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
