#!/usr/bin/env bash
# Checks the installation and the Debian packages of a built rokconv.
#
#   tests/install/check_install.sh BUILD_DIR
#
# BUILD_DIR must be configured and built already.
#   1. `cmake --install` into a scratch prefix installs the program, its manual page and the
#      library (archive, headers, CMake package, rokconv.pc), nothing else, with the right modes;
#      a hardened build's program is PIE, has full RELRO and calls the stack protector and
#      (built by g++) glibc's checked functions.
#   2. examples/embed, copied out of the source tree, builds against that prefix with
#      find_package(rokconv) and with pkg-config, prints the counts of examples/cube.rok and
#      reports a missing file, a file that is not ROK and a lack of memory.
#   3. `cpack -G DEB` gives rokconv (program and manual page) and librokconv-dev (the library)
#      holding exactly those files plus each its own /usr/share/doc/PACKAGE/copyright (LICENSE in
#      Debian's machine-readable format) and changelog.gz (gzip -n, this version on top);
#      lintian finds no error and no warning in either; apt-get installs both, the program runs
#      from PATH, man finds the page, examples/embed builds against /usr with no search path
#      given, and apt-get removes both without leaving files behind. This step needs root (and
#      apt, dpkg, dpkg-dev, man, lintian).
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
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
example=$source_dir/examples/cube.rok
manpage=$source_dir/rokconv.1
for file in "$example" "$manpage"; do [ -f "$file" ] || die "missing $file"; done
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cached CMAKE_PROJECT_VERSION)
libdir=$(cached CMAKE_INSTALL_LIBDIR)
includedir=$(cached CMAKE_INSTALL_INCLUDEDIR)
config=$(cached CMAKE_BUILD_TYPE | tr A-Z a-z)
harden=$(cached ROKCONV_HARDEN)
[ -n "$version" ] || die "no project version in $build/CMakeCache.txt"
case "$libdir $includedir" in /* | *" /"*) die "the check needs relative install directories" ;; esac
unset PKG_CONFIG_PATH CMAKE_PREFIX_PATH

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

packages="rokconv librokconv-dev"
scratch=$(mktemp -d)
installed_by_us=0
cleanup() {
    if [ "$installed_by_us" -eq 1 ]; then
        apt-get remove -y -o DPkg::Lock::Timeout=600 $packages >/dev/null 2>&1
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

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

# converts PROGRAM DIR: PROGRAM, run in a fresh directory DIR, turns the example into
# DIR/cube.LWO, a whole FORM....LWOB
converts() {
    mkdir -p "$2" && (cd "$2" && "$1" "$example" >"$2.log" 2>&1) && is_lwob "$2/cube.LWO" ||
        { cat "$2.log"; return 1; }
}

# the manual page as the source has it, to compare with what is installed
same_manpage() {
    case $1 in
        *.gz) gzip -dc "$1" | cmp -s - "$manpage" ;;
        *) cmp -s "$1" "$manpage" ;;
    esac
}

# the library's files under an installation prefix, one a line
dev_files() {
    (cd "$source_dir/include" && ls rokconv/*.hpp) | sed "s|^|$includedir/|"
    printf "$libdir/%s\n" librokconv.a pkgconfig/rokconv.pc cmake/rokconv/rokconvConfig.cmake \
        cmake/rokconv/rokconvConfigVersion.cmake cmake/rokconv/rokconvTargets.cmake \
        "cmake/rokconv/rokconvTargets-${config:-noconfig}.cmake"
}

# the counts rokinfo prints for cube.rok, from the file itself: a point record is 8 lines, a
# face record its edge count, colour, a flag and that many edge numbers; it has no LINE2 block
cube_counts() {
    awk '/^[A-Z]/ { block = $1; next }
         block == "POINT" { points++ }
         block == "FACE0" { if (skip) skip--; else { faces++; skip = $1 + 2 } }
         END { printf "points %d\nfaces %d\nlines 0\n", points / 8, faces }' "$example"
}

# embed_builds BASE: examples/embed, built against the library installed under BASE once with
# find_package and once with pkg-config, finds it there and prints cube.rok's counts. The search
# paths are given only for a BASE other than /usr. rokinfo is the find_package build.
embed_builds() {
    local base=$1 dir=$scratch/embed-build${1//\//-} cmake_args=() pc_path= got found
    if [ "$base" != /usr ]; then
        cmake_args=(-DCMAKE_PREFIX_PATH="$base")
        pc_path=$base/$libdir/pkgconfig
    fi
    rokinfo=$dir/rokinfo
    { cmake -S "$scratch/embed" -B "$dir" "${cmake_args[@]}" && cmake --build "$dir"; } >"$dir.log" 2>&1 ||
        cat "$dir.log"
    got=$("$rokinfo" "$example" 2>&1)
    found=$(sed -n 's/^rokconv_DIR:PATH=//p' "$dir/CMakeCache.txt" 2>/dev/null)
    check "rokinfo built with find_package(rokconv 2.0) from $found prints cube.rok's counts (got: $(echo $got))" \
        test "$got" = "$want" -a "$found" = "$base/$libdir/cmake/rokconv"
    export PKG_CONFIG_PATH=$pc_path
    found=$(pkg-config --variable=pcfiledir rokconv)
    (cd "$scratch/embed" && c++ -std=c++20 main.cpp $(pkg-config --cflags --libs rokconv) -o "$dir-pc") \
        >"$dir-pc.log" 2>&1 || cat "$dir-pc.log"
    got=$("$dir-pc" "$example" 2>&1)
    check "rokinfo built with pkg-config from $found/rokconv.pc prints cube.rok's counts (got: $(echo $got))" \
        test "$got" = "$want" -a "$found" = "$base/$libdir/pkgconfig"
    unset PKG_CONFIG_PATH
}

for tool in c++ pkg-config; do
    command -v "$tool" >/dev/null || die "$tool is missing (apt-get install g++ pkgconf)"
done
want=$(cube_counts)
echo "     cube.rok: $(echo $want)"

# --- 1. cmake --install --------------------------------------------------------------------
prefix=$scratch/prefix
# under a loose umask: the install rules, not the umask, keep directories from being group-writable
if ! (umask 002 && cmake --install "$build" --prefix "$prefix") >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    not_ok "cmake --install $build --prefix $prefix"
    finish
fi
ok "cmake --install into a scratch prefix"

page=$(ls "$prefix"/share/man/man1/rokconv.1* 2>/dev/null | head -n 1)
files=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)
completion=share/bash-completion/completions/rokconv
expected=$({ echo bin/rokconv "${page#"$prefix/"}" $completion | tr ' ' '\n'; dev_files; } | sort)
check "installed files are exactly the program, its manual page and the library's$(
    diff <(echo "$expected") <(echo "$files") | sed -n 's/^[<>]/;&/p' | tr -d '\n')" \
    test "$files" = "$expected"
baddirs=$(cd "$prefix" && find . -mindepth 1 -type d ! -perm 755 | tr '\n' ' ')
check "installed directories have mode 755 even under umask 002${baddirs:+ (not: $baddirs)}" test -z "$baddirs"
badfiles=$(cd "$prefix" && find . -type f ! -path ./bin/rokconv ! -perm 644 | tr '\n' ' ')
check "bin/rokconv has mode 755 and every other file 644${badfiles:+ (not: $badfiles)}" \
    test "$(stat -c %a "$prefix/bin/rokconv")" = 755 -a -z "$badfiles"
check "the installed manual page is rokconv.1 of this tree" same_manpage "$page"
# completes FILE BIN: the completion FILE, sourced, with BIN first on PATH, offers the
# formats after -f (the installed rokconv's, read from its usage), every one and then those
# beginning with s
completes() {
    local got
    got=$(PATH=$2:$PATH bash -c 'source "$1"; for cur in "" s; do COMP_WORDS=(rokconv -f "$cur")
        COMP_CWORD=2; _rokconv rokconv "$cur" -f; echo "${COMPREPLY[*]}"; done' _ "$1")
    test "$got" = "lwo obj glb gltf stl
stl"
}
check "the installed bash completion offers the installed rokconv's formats after -f" \
    completes "$prefix/$completion" "$prefix/bin"
if command -v man >/dev/null; then
    warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
    check "man --warnings shows no warning for the page${warnings:+: $warnings}" test -z "$warnings"
fi

out=$("$prefix/bin/rokconv" --version 2>&1)
check "installed rokconv --version prints \"rokconv $version\" (got \"$out\")" test "$out" = "rokconv $version"
check "installed rokconv converts examples/cube.rok into ./cube.LWO" converts "$prefix/bin/rokconv" "$scratch/run-install"

# hardened PROGRAM [fortified]: a position-independent executable, bound at load time with its
# relocations made read-only (full RELRO), calling the stack protector and, when "fortified" is
# given, some of glibc's checked functions (g++ only: glibc 2.36 checks printf and the like
# only under GCC, and clang 14 calls the plain functions)
hardened() {
    local dynamic symbols
    dynamic=$(readelf -dW "$1") && symbols=$(readelf --dyn-syms -W "$1") || return 1
    echo "$dynamic" | grep -Eq 'FLAGS_1.* NOW' && echo "$dynamic" | grep -Eq 'FLAGS_1.* PIE' &&
        readelf -lW "$1" | grep -q GNU_RELRO && echo "$symbols" | grep -q ' __stack_chk_fail@' &&
        { [ $# -eq 1 ] || echo "$symbols" | grep -Eq ' __[a-z]+_chk@'; }
}
compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER_ID "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -n 1)
fortified=
[ "$compiler" = GNU ] && fortified=fortified
case "$harden:$config" in
    ON:release | ON:relwithdebinfo)
        check "installed rokconv is PIE with full RELRO and stack protector${fortified:+, $fortified}" \
            hardened "$prefix/bin/rokconv" $fortified ;;
esac

# --- 2. a program built on the installed library --------------------------------------------
cp -R "$source_dir/examples/embed" "$scratch/embed"
embed_builds "$prefix"

# rokinfo_fails WHAT FILE [KB]: rokinfo (with at most KB of address space) exits with 1,
# printing only "rokinfo: WHAT: FILE" to stderr
rokinfo_fails() {
    local status
    (if [ $# -eq 3 ]; then ulimit -v "$3"; fi; exec "$rokinfo" "$2") \
        >"$scratch/rokinfo.out" 2>"$scratch/rokinfo.err"
    status=$?
    check "rokinfo says \"$1\" for $(basename "$2")${3:+ in $3 KB}, with status 1 (got $status)" \
        test "$status" = 1 -a ! -s "$scratch/rokinfo.out" -a "$(cat "$scratch/rokinfo.err")" = "rokinfo: $1: $2"
}
rokinfo_fails "cannot open" "$scratch/missing.rok"
rokinfo_fails "not a ROK file" "$manpage"
# 2,500,000 points in 40 MB: the file alone does not fit in 50 MB
{ printf 'ROKU4\nPOINT\n'; yes 0 | head -n 20000000; } >"$scratch/large.rok"
rokinfo_fails "out of memory" "$scratch/large.rok" 51200
rm -f "$scratch/large.rok"

# --- 3. Debian packages ---------------------------------------------------------------------
if [ "$(id -u)" -ne 0 ]; then
    not_ok "the Debian package checks need root (apt-get install)"
    finish
fi
for tool in cpack dpkg dpkg-deb dpkg-parsechangelog apt-get man; do
    command -v "$tool" >/dev/null || { not_ok "$tool is available"; finish; }
done
present=$(dpkg-query -W -f '${db:Status-Status} ${Package}\n' $packages 2>/dev/null | awk '$1 != "not-installed" { print $2 }')
[ -z "$present" ] || { not_ok "no package of rokconv is installed before the check (apt-get purge $present)"; finish; }

arch=$(dpkg --print-architecture)
deb=$build/rokconv_${version}_${arch}.deb
devdeb=$build/librokconv-dev_${version}_${arch}.deb
rm -f "$deb" "$devdeb"
(cd "$build" && cpack -G DEB) >"$scratch/cpack.log" 2>&1 || cat "$scratch/cpack.log"
check "cpack -G DEB gives $(basename "$deb") and $(basename "$devdeb")" test -f "$deb" -a -f "$devdeb"
[ -f "$deb" ] && [ -f "$devdeb" ] || finish

# contents DEB: mode, owner and path of each file in the package, sorted
contents() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort; }
# doc_files PACKAGE: what Debian wants in every package's documentation folder
doc_files() { printf "share/doc/$1/%s\n" copyright changelog.gz; }
expected=$({ echo "-rwxr-xr-x root/root ./usr/bin/rokconv"
    { echo share/man/man1/rokconv.1.gz $completion | tr ' ' '\n'; doc_files rokconv; } | sed 's|^|-rw-r--r-- root/root ./usr/|'; } | sort)
check "rokconv holds /usr/bin/rokconv (755), its manual page and documentation (644), owned by root, and nothing else" \
    test "$(contents "$deb")" = "$expected"
expected=$({ dev_files; doc_files librokconv-dev; } | sed 's|^|-rw-r--r-- root/root ./usr/|' | sort)
check "librokconv-dev holds the library's files under /usr (644, owned by root) and nothing else$(
    diff <(echo "$expected") <(contents "$devdeb") | sed -n 's/^[<>]/;&/p' | tr -d '\n')" \
    test "$(contents "$devdeb")" = "$expected"
baddirs=$(for d in "$deb" "$devdeb"; do dpkg-deb -c "$d"; done |
    awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") { print $6 }')
check "the packages' directories are root-owned with mode 755${baddirs:+ (not: $baddirs)}" test -z "$baddirs"
fields() { echo $(dpkg-deb -f "$1" Package Version Section); }
check "rokconv's fields: $(fields "$deb")" \
    test "$(fields "$deb")" = "Package: rokconv Version: $version Section: graphics"
check "librokconv-dev's fields: $(fields "$devdeb")" \
    test "$(fields "$devdeb")" = "Package: librokconv-dev Version: $version Section: libdevel"
check "librokconv-dev depends on nothing (got: $(dpkg-deb -f "$devdeb" Depends))" \
    test -z "$(dpkg-deb -f "$devdeb" Depends Pre-Depends Recommends)"

# doc_file DEB PACKAGE FILE: prints /usr/share/doc/PACKAGE/FILE of DEB
doc_file() { dpkg-deb --fsys-tarfile "$1" | tar -xOf - "./usr/share/doc/$2/$3"; }
# the text under "License: Expat" of a machine-readable copyright file, unindented, with " ." as
# a blank line (a line of blanks alone would end the paragraph)
expat_text() { awk '/^License: Expat$/ { on = 1; next } on && /^ +[^ ]/ { print ($0 == " ." ? "" : substr($0, 2)); next } { on = 0 }'; }
holder=$(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")
permission=$(sed -n '/^Permission is hereby granted/,$p' "$source_dir/LICENSE")
# debian_copyright DEB PACKAGE: Format 1.0, all files under LICENSE's holder and its text as Expat
debian_copyright() {
    local text
    text=$(doc_file "$1" "$2" copyright) || return 1
    [ "$(echo "$text" | head -n 1)" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] &&
        echo "$text" | grep -qx 'Files: \*' && echo "$text" | grep -qxF "Copyright: $holder" &&
        [ -n "$holder" ] && [ "$(echo "$text" | expat_text)" = "$permission" ]
}
# debian_changelog DEB PACKAGE: gzip -9n (no name, no time stamp: the same bytes in every build)
# of a Debian changelog whose newest entry is rokconv VERSION for unstable
debian_changelog() {
    doc_file "$1" "$2" changelog.gz >"$scratch/changelog.gz" &&
        [ "$(od -An -tu1 -N8 "$scratch/changelog.gz" | xargs)" = "31 139 8 0 0 0 0 0" ] &&
        gzip -dc "$scratch/changelog.gz" >"$scratch/changelog" &&
        [ "$(dpkg-parsechangelog -l "$scratch/changelog" 2>/dev/null |
            sed -n 's/^\(Source\|Version\|Distribution\): //p' | xargs)" = "rokconv $version unstable" ]
}
for package in $packages; do
    file=$deb
    [ "$package" = rokconv ] || file=$devdeb
    check "$package's copyright is LICENSE in Debian's machine-readable format" debian_copyright "$file" "$package"
    check "$package's changelog.gz (gzip -n) starts with rokconv ($version) unstable" debian_changelog "$file" "$package"
done
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" "$devdeb" >"$scratch/lintian.log" 2>&1
    status=$?
    tags=$(grep -E '^[EW]: ' "$scratch/lintian.log" | tr '\n' ';')
    check "lintian reports no error and no warning (status $status${tags:+: $tags})" test "$status" = 0 -a -z "$tags"
else
    not_ok "lintian is available (apt-get install lintian)"
fi

installed_by_us=1
if apt-get install -y -o DPkg::Lock::Timeout=600 \
    -o DPkg::Options::=--path-include=/usr/share/man/man1/rokconv.1.gz \
    -o DPkg::Options::=--path-include='/usr/share/doc/*rokconv*' \
    "$deb" "$devdeb" >"$scratch/apt-install.log" 2>&1; then
    ok "apt-get install $(basename "$deb") $(basename "$devdeb")"
else
    cat "$scratch/apt-install.log"
    not_ok "apt-get install $(basename "$deb") $(basename "$devdeb")"
    finish
fi

check "rokconv from PATH ($(command -v rokconv)) converts examples/cube.rok" converts rokconv "$scratch/run-deb"
check "the packaged rokconv writes the same cube.LWO as the installed one" \
    cmp -s "$scratch/run-deb/cube.LWO" "$scratch/run-install/cube.LWO"
manpath=$(man -w rokconv 2>&1)
check "man -w rokconv finds /usr/share/man/man1/rokconv.1.gz (got: $manpath)" \
    test "$manpath" = /usr/share/man/man1/rokconv.1.gz
check "the packaged manual page is rokconv.1 of this tree" same_manpage /usr/share/man/man1/rokconv.1.gz

depends=$(dpkg-query -W -f '${Depends}' rokconv 2>/dev/null)
# has_deps PACKAGE...: each PACKAGE, with or without a version, is in $depends
has_deps() { for p in "$@"; do echo ", $depends," | grep -Eq ", $p( \([^)]*\))?," || return 1; done; }
check "rokconv depends on libc6 and libstdc++6 (Depends: $depends)" has_deps libc6 'libstdc\+\+6'

embed_builds /usr

if apt-get remove -y -o DPkg::Lock::Timeout=600 $packages >"$scratch/apt-remove.log" 2>&1; then
    ok "apt-get remove $packages"
else
    cat "$scratch/apt-remove.log"
    not_ok "apt-get remove $packages"
fi
for package in $packages; do
    state=$(dpkg-query -W -f '${db:Status-Status}' "$package" 2>/dev/null)
    check "$package is no longer installed (state: ${state:-unknown})" \
        test -z "$state" -o "$state" = not-installed -o "$state" = config-files
done
left=$(cd /usr && ls -d bin/rokconv share/man/man1/rokconv.1.gz $completion $(dev_files) "$includedir/rokconv" share/doc/*rokconv* \
    "$libdir/cmake/rokconv" 2>/dev/null | tr '\n' ' ')
check "the packages' files are gone${left:+ (left: $left)}" test -z "$left"

finish
