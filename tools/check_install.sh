#!/usr/bin/env bash
# Checks the installation and the Debian package of a built rokconv.
#
#   tools/check_install.sh BUILD_DIR
#
# BUILD_DIR must be configured and built already; nothing is compiled here.
#   1. `cmake --install` into a scratch prefix installs bin/rokconv and the manual page and
#      nothing else, with the right modes, and the installed program converts the example.
#   2. `cpack -G DEB` gives a package with /usr/bin/rokconv and
#      /usr/share/man/man1/rokconv.1.gz; apt-get installs it, the program runs from PATH and
#      gives the same object as step 1, man finds the page, the package depends on libc6 and
#      libstdc++6, and apt-get removes it again without leaving files behind.
# Step 2 installs and removes a system package, so it needs root (and apt, dpkg, man).
# Prints one line per check and "check_install: N passed, N failed" at the end; the exit
# status is 0 only when every check passed.
set -u

die() {
    echo "check_install: error: $*" >&2
    exit 2
}

[ $# -eq 1 ] || die "usage: $0 BUILD_DIR"
build=$(cd "$1" 2>/dev/null && pwd) || die "no such build directory: $1"
[ -f "$build/CMakeCache.txt" ] || die "$build is not a configured CMake build directory"
[ -x "$build/rokconv" ] || die "$build/rokconv is missing: build the project first"
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
example=$source_dir/examples/cube.rok
manpage=$source_dir/rokconv.1
[ -f "$example" ] || die "missing $example"
[ -f "$manpage" ] || die "missing $manpage"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || die "no project version in $build/CMakeCache.txt"

passed=0
failed=0
ok() {
    echo "ok   $*"
    passed=$((passed + 1))
}
not_ok() {
    echo "FAIL $*"
    failed=$((failed + 1))
}
# check DESCRIPTION COMMAND...: runs the command and counts the result
check() {
    local what=$1
    shift
    if "$@"; then ok "$what"; else not_ok "$what"; fi
}
finish() {
    echo "check_install: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit $?
}

scratch=$(mktemp -d)
installed_by_us=0
cleanup() {
    if [ "$installed_by_us" -eq 1 ] && dpkg -s rokconv >/dev/null 2>&1; then
        apt-get remove -y -o DPkg::Lock::Timeout=600 rokconv >/dev/null 2>&1
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# mode FILE: the permission bits in octal
mode() { stat -c %a "$1"; }

# is_lwob FILE: an IFF FORM of type LWOB whose length covers exactly the rest of the file
is_lwob() {
    local file=$1 size length
    [ -f "$file" ] || return 1
    [ "$(head -c 4 "$file")" = FORM ] || return 1
    [ "$(tail -c +9 "$file" | head -c 4)" = LWOB ] || return 1
    size=$(stat -c %s "$file")
    length=$(head -c 8 "$file" | tail -c 4 | od -An -tu1 | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }')
    [ "$length" -eq $((size - 8)) ]
}

# converts the example with PROGRAM in a fresh directory DIR; the object is DIR/cube.LWO
convert_example() {
    local program=$1 dir=$2
    mkdir -p "$dir" && (cd "$dir" && "$program" "$example" >"$dir.out" 2>"$dir.err")
}

# the manual page as the source has it, to compare with what is installed
same_manpage() {
    case $1 in
        *.gz) gzip -dc "$1" | cmp -s - "$manpage" ;;
        *) cmp -s "$1" "$manpage" ;;
    esac
}

# --- 1. cmake --install --------------------------------------------------------------------
prefix=$scratch/prefix
# under a loose umask: the install rules, not the umask, keep directories from being group-writable
if ! (umask 002 && cmake --install "$build" --prefix "$prefix") >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    not_ok "cmake --install $build --prefix $prefix"
    finish
fi
ok "cmake --install into a scratch prefix"

files=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort | tr '\n' ' ')
case $files in
    "bin/rokconv share/man/man1/rokconv.1.gz " | "bin/rokconv share/man/man1/rokconv.1 ")
        ok "installed files are exactly: $files" ;;
    *)
        not_ok "installed files are bin/rokconv and share/man/man1/rokconv.1(.gz) only, got: $files" ;;
esac
page=$(ls "$prefix"/share/man/man1/rokconv.1* 2>/dev/null | head -n 1)
baddirs=$(cd "$prefix" && find . -mindepth 1 -type d ! -perm 755 | tr '\n' ' ')
check "installed directories have mode 755 even under umask 002${baddirs:+ (not: $baddirs)}" test -z "$baddirs"

check "bin/rokconv is an executable with mode 755" \
    test -x "$prefix/bin/rokconv" -a "$(mode "$prefix/bin/rokconv" 2>/dev/null)" = 755
if [ -n "$page" ]; then
    check "the manual page has mode 644" test "$(mode "$page")" = 644
    check "the installed manual page is rokconv.1 of this tree" same_manpage "$page"
    if command -v man >/dev/null; then
        warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
        check "man --warnings shows no warning for the page${warnings:+: $warnings}" test -z "$warnings"
    fi
else
    not_ok "a manual page is installed"
fi

out=$("$prefix/bin/rokconv" --version 2>&1)
check "installed rokconv --version prints \"rokconv $version\" (got \"$out\")" test "$out" = "rokconv $version"

if convert_example "$prefix/bin/rokconv" "$scratch/run-install"; then
    ok "installed rokconv converts examples/cube.rok with status 0"
else
    not_ok "installed rokconv converts examples/cube.rok with status 0 (output: $(cat "$scratch/run-install.out"))"
fi
check "cube.LWO is written into the current directory as FORM....LWOB" is_lwob "$scratch/run-install/cube.LWO"
check "nothing is printed for a good conversion" \
    test ! -s "$scratch/run-install.out" -a ! -s "$scratch/run-install.err"
leftover=$(cd "$scratch/run-install" && ls -A | grep -vx cube.LWO)
check "no other file is left in the current directory${leftover:+: $leftover}" test -z "$leftover"

# --- 2. Debian package ----------------------------------------------------------------------
if [ "$(id -u)" -ne 0 ]; then
    not_ok "the Debian package checks need root (apt-get install)"
    finish
fi
for tool in cpack dpkg dpkg-deb apt-get man; do
    command -v "$tool" >/dev/null || { not_ok "$tool is available"; finish; }
done
if dpkg -s rokconv >/dev/null 2>&1; then
    not_ok "rokconv is not installed as a package before the check (apt-get remove rokconv)"
    finish
fi

arch=$(dpkg --print-architecture)
deb=$build/rokconv_${version}_${arch}.deb
rm -f "$deb"
if ! (cd "$build" && cpack -G DEB) >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    not_ok "cpack -G DEB"
    finish
fi
if [ -f "$deb" ]; then
    ok "cpack -G DEB gives $(basename "$deb")"
else
    not_ok "cpack -G DEB gives $(basename "$deb") (found: $(cd "$build" && ls ./*.deb 2>/dev/null))"
    finish
fi

contents=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort | tr '\n' ';')
expected="-rw-r--r-- root/root ./usr/share/man/man1/rokconv.1.gz;-rwxr-xr-x root/root ./usr/bin/rokconv;"
check "the package holds /usr/bin/rokconv (755) and /usr/share/man/man1/rokconv.1.gz (644), owned by root, and nothing else (got: $contents)" \
    test "$contents" = "$expected"
baddirs=$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") { print $6 }')
check "the package's directories are root-owned with mode 755${baddirs:+ (not: $baddirs)}" test -z "$baddirs"
field() { dpkg-deb -f "$deb" "$1"; }
check "the package is named rokconv" test "$(field Package)" = rokconv
check "the package version is $version" test "$(field Version)" = "$version"
check "the package section is graphics" test "$(field Section)" = graphics
check "the package has a maintainer" test -n "$(field Maintainer)"

installed_by_us=1
if apt-get install -y -o DPkg::Lock::Timeout=600 \
    -o DPkg::Options::=--path-include=/usr/share/man/man1/rokconv.1.gz \
    "$deb" >"$scratch/apt-install.log" 2>&1; then
    ok "apt-get install $(basename "$deb")"
else
    cat "$scratch/apt-install.log"
    not_ok "apt-get install $(basename "$deb")"
    finish
fi

check "rokconv on PATH is /usr/bin/rokconv (got: $(command -v rokconv))" \
    test "$(command -v rokconv)" = /usr/bin/rokconv
if convert_example rokconv "$scratch/run-deb"; then
    ok "rokconv from the package converts examples/cube.rok with status 0"
else
    not_ok "rokconv from the package converts examples/cube.rok with status 0 (output: $(cat "$scratch/run-deb.out"))"
fi
check "the packaged rokconv writes the same cube.LWO as the installed one" \
    cmp -s "$scratch/run-deb/cube.LWO" "$scratch/run-install/cube.LWO"
check "the packaged cube.LWO is FORM....LWOB" is_lwob "$scratch/run-deb/cube.LWO"
manpath=$(man -w rokconv 2>&1)
check "man -w rokconv finds /usr/share/man/man1/rokconv.1.gz (got: $manpath)" \
    test "$manpath" = /usr/share/man/man1/rokconv.1.gz
check "the packaged manual page is rokconv.1 of this tree" same_manpage /usr/share/man/man1/rokconv.1.gz

depends=$(dpkg-query -W -f '${Depends}' rokconv 2>/dev/null)
echo "     Depends: $depends"
has_dep() { echo ", $depends," | grep -Eq ", $1( \([^)]*\))?,"; }
check "the package depends on libc6" has_dep libc6
check "the package depends on libstdc++6" has_dep 'libstdc\+\+6'

if apt-get remove -y -o DPkg::Lock::Timeout=600 rokconv >"$scratch/apt-remove.log" 2>&1; then
    ok "apt-get remove rokconv"
else
    cat "$scratch/apt-remove.log"
    not_ok "apt-get remove rokconv"
fi
state=$(dpkg-query -W -f '${db:Status-Status}' rokconv 2>/dev/null)
check "the package is no longer installed (state: ${state:-unknown})" \
    test -z "$state" -o "$state" = not-installed -o "$state" = config-files
check "/usr/bin/rokconv and its manual page are gone" \
    test ! -e /usr/bin/rokconv -a ! -e /usr/share/man/man1/rokconv.1.gz
hash -r
check "rokconv is no longer on PATH" test -z "$(command -v rokconv)"

finish
