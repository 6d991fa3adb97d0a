#!/usr/bin/env bash
# Installs what the tests need, then, each step timed:
#   format     the C++ sources are formatted (scripts/format-check.sh)
#   release    g++ Release build, every test
#   sanitize   clang 14 build with AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   tsan       clang 14 build with ThreadSanitizer, every test (scripts/tsan.sh)
#   fuzz       every fuzz target for 30 s (scripts/fuzz.sh)
#   consumer   install into a temporary prefix; consumers build and run against
#              it: one through the CMake package, one that builds every public
#              class through each public constructor (checked against the
#              installed headers), one through pkg-config, again after the
#              prefix moved; Debian's python3 imports the module from the
#              prefix, before and after the move
#   shared     a shared build: SONAME, no private class exported, a consumer
#              and the Python module link against it; the Debian package
#              holds what it should, and python3 imports the module from where
#              the package puts it
# Warnings are errors in every build here (VARONET_WERROR). Naming steps runs
# only those (scripts/test.sh consumer shared: after a release step once).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

times=()
step() {
  local name=$1; shift
  echo "== $name"
  local start=$SECONDS
  "$@"
  times+=("$(printf '%-10s %4d s' "$name" $((SECONDS - start)))")
  echo "== $name: $((SECONDS - start)) s"
}

build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" -DVARONET_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 300)
}

release() {
  build_and_test build -DCMAKE_BUILD_TYPE=Release -DVARONET_BENCH=ON
}

sanitize() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build_and_test build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
      -DVARONET_SANITIZE=ON -DVARONET_BENCH=OFF
}

tsan() { scripts/tsan.sh; }
fuzz() { scripts/fuzz.sh 30; }

# Builds and runs the pkg-config consumer against the installed tree at $1.
pc_consumer() {
  rm -f "$tmp/pc-consumer"
  g++ -o "$tmp/pc-consumer" scripts/consumer/PkgConfigConsumer.cpp \
    $(PKG_CONFIG_PATH=$1/lib/pkgconfig pkg-config --cflags --libs varonet)
  "$tmp/pc-consumer"
}

# The build folder's setting of a CMake cache variable.
cache() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

# Debian's python3 imports varonet from the site folder $1 and says where from.
python_import() {
  PYTHONPATH=$1 /usr/bin/python3 -c 'import varonet; print("varonet", varonet.__version__, "from", varonet.__file__)'
}

consumer() {
  local prefix=$tmp/prefix moved=$tmp/moved/elsewhere
  cmake --install build --prefix "$prefix" >/dev/null
  echo "installed headers: $(find "$prefix/include" -name '*.h' | wc -l)"
  # Every installed header compiles from the installed tree alone: none of
  # them reaches for a header that stayed private.
  find "$prefix/include" -name '*.h' | sed "s|^$prefix/include/|#include <|; s|$|>|" | sort > "$tmp/all.cpp"
  g++ -fsyntax-only -Wall -Wextra -Werror $(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags varonet) \
    "$tmp/all.cpp"

  cmake -S scripts/consumer -B "$tmp/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$tmp/cmake-consumer" >/dev/null
  "$tmp/cmake-consumer/consumer"
  # Every class of the installed headers, through each public constructor: the
  # program compiled and ran; the check says it left none out.
  "$tmp/cmake-consumer/every_class"
  /usr/bin/python3 scripts/consumer/CheckEveryClass.py "$prefix" scripts/consumer/EveryClass.cpp

  pc_consumer "$prefix"
  local python=$(cache build VARONET_PYTHON)
  [ "$python" = ON ] && python_import "$(echo "$prefix"/lib/python3*/*-packages)"
  mkdir -p "$(dirname "$moved")"
  mv "$prefix" "$moved"
  echo "prefix moved to $moved"
  pc_consumer "$moved"
  [ "$python" = ON ] && python_import "$(echo "$moved"/lib/python3*/*-packages)"
  return 0
}

shared() {
  local dir=build-shared prefix=$tmp/shared
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" -DVARONET_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=ON -DVARONET_TESTS=OFF -DVARONET_BENCH=OFF -DVARONET_TOOL=OFF >/dev/null
  local python
  python=$(cache "$dir" VARONET_PYTHON)
  cmake --build "$dir" -j "$jobs" --target varonet $([ "$python" = ON ] && echo varonet_python)
  cmake --install "$dir" --prefix "$prefix" >/dev/null
  local lib
  lib=$(find "$prefix/lib" -name 'libvaronet.so.*.*.*')
  objdump -p "$lib" | grep SONAME

  # A class declared in a private header leaves no symbol in the library's interface.
  local exported private=()
  exported=$(nm -DC --defined-only "$lib" | sed 's/^[0-9a-f]* [A-Za-z] //')
  for header in $(cd "$root" && git ls-files 'varonet/*.h'); do
    [ -e "$prefix/include/$header" ] && continue
    local ns
    ns=$(sed -n 's/^namespace \([A-Za-z]*\) {.*/\1/p' "$header" | head -1)
    for cls in $(sed -n 's/^\(class\|struct\) \([A-Za-z0-9_]*\)[^;]*$/\2/p' "$header"); do
      private+=("$ns::$cls")
    done
  done
  local pattern leaked
  pattern="^((typeinfo|typeinfo name|vtable|VTT) for )?($(IFS='|'; echo "${private[*]}"))(::|<|\$)"
  leaked=$(grep -E "$pattern" <<<"$exported" || true)
  if [ -n "$leaked" ]; then
    echo "private classes exported from $lib:"; echo "$leaked"; return 1
  fi
  echo "${#private[@]} private classes, none exported; $(wc -l <<<"$exported") symbols exported"

  cmake -S scripts/consumer -B "$tmp/shared-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$tmp/shared-consumer" >/dev/null
  ldd "$tmp/shared-consumer/consumer" | grep libvaronet
  "$tmp/shared-consumer/consumer"
  "$tmp/shared-consumer/every_class"  # every public constructor is exported
  if [ "$python" = ON ]; then  # the module finds the shared library beside it in the prefix
    ldd "$prefix"/lib/python3*/*-packages/varonet/_varonet*.so | grep libvaronet
    python_import "$(echo "$prefix"/lib/python3*/*-packages)"
  fi

  # The Debian package of the normal build: library, headers, CMake and pkg-config files.
  (cd build && cpack -G DEB -B "$tmp/deb" >/dev/null)
  local deb
  deb=$(find "$tmp/deb" -maxdepth 1 -name '*.deb')
  dpkg-deb -c "$deb" > "$tmp/deb.txt"
  for want in libvaronet.a include/varonet/udl/BaseDeviceResolver.h varonetConfig.cmake varonetConfigVersion.cmake \
              varonetTargets.cmake pkgconfig/varonet.pc; do
    grep -q "$want" "$tmp/deb.txt" || { echo "$(basename "$deb") lacks $want"; return 1; }
  done
  if [ -e tool/CMakeLists.txt ]; then
    for want in 'usr/bin/varonet$' 'man/man1/varonet.1$' 'bash-completion/completions/varonet$'; do
      grep -q "$want" "$tmp/deb.txt" || { echo "$(basename "$deb") lacks $want"; return 1; }
    done
  fi
  if [ "$(cache build VARONET_PYTHON)" = ON ]; then
    for want in 'usr/lib/python3/dist-packages/varonet/__init__.py$' 'dist-packages/varonet/_varonet.*\.so$'; do
      grep -q "$want" "$tmp/deb.txt" || { echo "$(basename "$deb") lacks $want"; return 1; }
    done
    deb_python "$deb"
  fi
  echo "$(basename "$deb"): $(grep -c -v '/$' "$tmp/deb.txt") files"
}

# The package's module, laid over the system's /usr/lib/python3/dist-packages
# in a mount namespace of its own (nothing is installed), is what Debian's
# python3 imports from its own search path. Without the rights for that, the
# unpacked folder goes on PYTHONPATH instead.
deb_python() {
  local root=$tmp/deb-root dist=/usr/lib/python3/dist-packages
  dpkg-deb -x "$1" "$root"
  if unshare -m true 2>/dev/null; then
    unshare -m sh -c "mount -t overlay overlay -o lowerdir=$root$dist:$dist $dist && cd / && \
      /usr/bin/python3 -c 'import varonet; print(\"varonet\", varonet.__version__, \"from\", varonet.__file__)'"
  else
    echo "(no mount namespace here: the unpacked package goes on PYTHONPATH)"
    python_import "$root$dist"
  fi
}

format() { scripts/format-check.sh; }

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(format release sanitize tsan fuzz consumer shared)
for name in "${steps[@]}"; do
  step "$name" "$name"
done

echo "== step times"
printf '%s\n' "${times[@]}"
