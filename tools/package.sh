#!/usr/bin/env bash
# Builds the Debian package build-package/orbapda_<version>_<arch>.deb in a
# build folder of its own, without building or running the test suite (the
# suite, tools/test.sh, builds and checks the same package in its test
# package_contents).
#
#   tools/package.sh [BUILD_DIR]     (default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# CMAKE_SKIP_INSTALL_ALL_DEPENDENCY: cpack installs what is built below
# instead of building every target (the tests and benchmarks among them).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target orbapda orbapda-pda orba_package_documents
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/orbapda_*.deb)
echo "$deb"
if command -v lintian >/dev/null; then lintian "$deb" || true; fi
