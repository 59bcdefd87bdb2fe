#!/usr/bin/env bash
# Builds the Debian package of a built tree into a temporary folder, the way
# tools/package.sh does (cpack -G DEB), and checks it with dpkg-deb: the files
# and their modes, the control fields, Depends from the shared libraries, the
# maintainer scripts, the one conffile, that the manual pages list the options
# that --help lists, and, where lintian is installed, that it finds no error.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
deb="$work/out/orbapda_${version}_${arch}.deb"
[[ -f $deb ]] || fail "no $(basename "$deb"); cpack made: $(ls "$work/out")"

# Files, modes and owners.
contents=$(dpkg-deb -c "$deb")
expect_entry() {  # mode path
  grep -Eq "^$1 root/root +[0-9]+ [0-9-]+ [0-9:]+ \\.$2\$" <<<"$contents" ||
    fail "no $1 root/root entry $2 in:"$'\n'"$contents"
}
expect_entry -rwxr-xr-x /usr/bin/orbapda
expect_entry -rwxr-xr-x /usr/bin/orbapda-pda
expect_entry -rw-r--r-- /usr/lib/systemd/system/orbapda.service
expect_entry -rw-r--r-- /usr/share/orbapda/db/schema.sql
expect_entry -rw-r--r-- /usr/share/orbapda/db/schema-postgresql.sql
expect_entry -rw-r--r-- /usr/share/orbapda/db/demo.sql
expect_entry -rw-r--r-- /usr/share/doc/orbapda/README.md
expect_entry -rw-r--r-- /usr/share/doc/orbapda/copyright
expect_entry -rw-r--r-- /usr/share/doc/orbapda/changelog.gz
expect_entry -rw-r--r-- /usr/share/man/man8/orbapda.8.gz
expect_entry -rw-r--r-- /usr/share/man/man1/orbapda-pda.1.gz
expect_entry -rw-r--r-- /etc/orba/ORBA.INI
if grep -Evq '^(d|-)r' <<<"$contents"; then fail "entries other than files and folders"; fi
if grep -E '^d' <<<"$contents" | grep -Evq '^drwxr-xr-x root/root'; then
  fail "folders not drwxr-xr-x root/root"
fi

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == orbapda ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture: $(field Architecture)"
[[ $(field Maintainer) =~ \<[a-z]+@[a-z0-9-]+\.[a-z.]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
depends=$(field Depends)
for package in adduser libc6 libsqlite3 libpq5 libpugixml libcups2 libqt6core6; do
  grep -q "\\b$package" <<<"$depends" || fail "Depends lacks $package: $depends"
done

# Maintainer scripts, as in the source, executable; ORBA.INI the only conffile.
dpkg-deb -e "$deb" "$work/control"
[[ $(cat "$work/control/conffiles") == /etc/orba/ORBA.INI ]] || fail "conffiles: $(cat "$work/control/conffiles")"
for script in postinst prerm postrm; do
  [[ -x $work/control/$script ]] || fail "no executable $script"
  cmp -s "$work/control/$script" "$source/packaging/$script" || fail "$script differs from packaging/$script"
done
grep -q 'adduser --system' "$work/control/postinst" || fail "postinst does not create the system user"

# The shipped unit and samples are the source's; the binary is stripped and runs.
dpkg-deb -x "$deb" "$work/root"
cmp -s "$work/root/usr/lib/systemd/system/orbapda.service" "$source/packaging/orbapda.service" ||
  fail "the unit differs from packaging/orbapda.service"
cmp -s "$work/root/usr/share/orbapda/db/schema.sql" "$source/db/schema.sql" || fail "schema.sql differs"
cmp -s "$work/root/etc/orba/ORBA.INI" "$source/packaging/ORBA.INI" || fail "ORBA.INI differs"
file "$work/root/usr/bin/orbapda" | grep -q ', stripped' || fail "orbapda is not stripped"
"$work/root/usr/bin/orbapda" --version | grep -q "^orbapda $version " || fail "the packaged orbapda does not run"

# Each program's --help and its manual page name the same options.
options() { grep -oE -- '--[a-z][a-z-]*' | sort -u; }
for pair in orbapda:man8/orbapda.8.gz orbapda-pda:man1/orbapda-pda.1.gz; do
  program=${pair%%:*}
  from_help=$("$work/root/usr/bin/$program" --help | options)
  from_page=$(zcat "$work/root/usr/share/man/${pair#*:}" | sed 's/\\-/-/g' | options)
  [[ $from_help == "$from_page" ]] ||
    fail "$program: --help and its manual page disagree:"$'\n'"$(diff <(echo "$from_help") <(echo "$from_page"))"
done

if command -v lintian >/dev/null; then
  lintian "$deb" >"$work/lintian.log" 2>&1 || true
  if grep -q '^E: ' "$work/lintian.log"; then fail "lintian:"$'\n'"$(cat "$work/lintian.log")"; fi
fi

echo "$(basename "$deb"): $(wc -l <<<"$contents") entries; Depends: $depends"
