#!/usr/bin/env bash
# What a user installs, checked as the user gets it (run by CTest in the
# release build, label "package"):
#   tests/package/check.sh BUILD_FOLDER PROJECT_VERSION
# - configuring for a big-endian target is refused with a clear line;
# - `cmake --install` into a temporary DESTDIR, the .deb (unpacked with
#   dpkg-deb -x, never installed) and the .tar.gz made by cpack each hold the
#   five programs, fitsquad-batch, their man pages (gzip'd), the copyright
#   file and the changelog, and nothing else; every program prints the
#   project version, fitsquad-batch is scripts/batch.sh with its name
#   changed, and every man page renders without a warning, with the sections
#   NAME, SYNOPSIS, DESCRIPTION, EXIT STATUS and EXAMPLE, the project
#   version, and the synopsis of its program's --help;
# - lintian finds no error in the .deb (its tags, information ones too, are
#   printed);
# - the demo's road run with the installed programs writes the same files as
#   run with the programs of the build folder, and the installed
#   fitsquad-batch, finding the programs on PATH, writes those of direct runs.
set -euo pipefail
build=$(realpath "$1")
version=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
programs=(quadsplit quadmerge boxpatch fitspreview fitsframe)
batch=fitsquad-batch

# man-db renders the pages, dpkg-dev's dpkg-shlibdeps gives the .deb its
# dependencies, lintian checks it, and clang can build for a big-endian target.
"$root/scripts/need-packages.sh" man-db dpkg-dev lintian clang

work=$(mktemp -d /tmp/fitsquad-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

echo "== a big-endian target"
# Only the compiler is tried (no linking), so no big-endian libraries are needed.
if cmake -S "$root" -B "$work/big-endian" -DCMAKE_CXX_COMPILER=clang++ \
         -DCMAKE_CXX_COMPILER_TARGET=powerpc64-linux-gnu -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
         -DFITSQUAD_TESTS=OFF >"$work/big-endian.log" 2>&1; then
    fail "configuring for powerpc64 was not refused"
fi
grep -q "fitsquad needs a little-endian host" "$work/big-endian.log" ||
    fail "no little-endian line when configuring for powerpc64: $(tail -n 5 "$work/big-endian.log")"

echo "== install and packages"
DESTDIR="$work/dest" cmake --install "$build" --prefix /usr/local >/dev/null
(cd "$work" && cpack -G "DEB;TGZ" --config "$build/CPackConfig.cmake" -B "$work/packages") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/packages/fitsquad_"$version"_*.deb)
tars=("$work"/packages/fitsquad-"$version"-*.tar.gz)
[ -f "${debs[0]}" ] && [ ${#debs[@]} = 1 ] || fail "no one .deb named for version $version: $(ls "$work/packages")"
[ -f "${tars[0]}" ] && [ ${#tars[@]} = 1 ] || fail "no one .tar.gz named for version $version: $(ls "$work/packages")"
[ "$failures" = 0 ] || exit 1
[ "$(dpkg-deb -f "${debs[0]}" Version)" = "$version" ] || fail "the .deb's Version is not $version"
dpkg-deb -x "${debs[0]}" "$work/deb"
mkdir "$work/tgz" && tar -xzf "${tars[0]}" -C "$work/tgz"

# check_tree NAME PREFIX: one installed tree.
check_tree() {
    local name=$1 prefix=$2 expected listed
    expected=$(for p in "${programs[@]}" $batch; do echo "bin/$p"; echo "share/man/man1/$p.1.gz"; done
               echo share/doc/fitsquad/copyright; echo share/doc/fitsquad/changelog.gz)
    expected=$(sort <<<"$expected")
    listed=$(cd "$prefix" && find . -mindepth 1 ! -type d -printf '%P\n' | sort)
    [ "$listed" = "$expected" ] || fail "$name holds"$'\n'"$listed"$'\n'"instead of"$'\n'"$expected"
    grep -qxs "Copyright 2026 fitsquad maintainers" "$prefix/share/doc/fitsquad/copyright" &&
        grep -q "No license has been chosen" "$prefix/share/doc/fitsquad/copyright" ||
        fail "$name: the copyright file does not name the holder and say that no license is granted"
    [[ "$(zcat "$prefix/share/doc/fitsquad/changelog.gz" | head -n 1)" = "fitsquad ($version) "* ]] ||
        fail "$name: the changelog's entry is not for version $version"
    sed 's/batch\.sh/fitsquad-batch/g' "$root/scripts/batch.sh" | cmp -s - "$prefix/bin/$batch" ||
        fail "$name: $batch is not scripts/batch.sh named fitsquad-batch"
    for p in "${programs[@]}" $batch; do
        local program=$prefix/bin/$p page=$prefix/share/man/man1/$p.1.gz text synopsis usage
        [ "$p" = $batch ] || [ "$("$program" --version)" = "$p (fitsquad) $version" ] ||
            fail "$name: $p --version says $("$program" --version)"
        text=$(LC_ALL=C MANWIDTH=200 man --warnings -l "$page" 2>"$work/warnings") || fail "$name: man -l $p.1 failed"
        [ -s "$work/warnings" ] && fail "$name: $p.1 renders with warnings: $(cat "$work/warnings")"
        for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLE; do
            grep -qx "$section" <<<"$text" || fail "$name: $p.1 has no $section section"
        done
        grep -q "^ *$p - " <<<"$text" || fail "$name: $p.1's NAME is not \"$p - ...\""
        grep -q "^fitsquad $version " <<<"$text" || fail "$name: $p.1 does not give version $version"
        # The synopsis, blanks squeezed, is the usage of --help: its first
        # line, or for fitsquad-batch its lines, one form each, up to a blank.
        synopsis=$(sed -n '/^SYNOPSIS$/,/^[^ ]/{/^ /p}' <<<"$text" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//')
        usage=$("$program" --help | sed -n '1{/^[Uu]sage: /!q; s///}; /^$/q; p' | tr -s ' \n' '  ' | sed 's/ $//') ||
            fail "$name: $p --help failed"
        [ "$synopsis" = "$usage" ] || fail "$name: $p.1's synopsis \"$synopsis\" is not --help's \"$usage\""
    done
}
check_tree "cmake --install" "$work/dest/usr/local"
check_tree "the .deb" "$work/deb/usr"
check_tree "the .tar.gz" "$(echo "$work"/tgz/fitsquad-"$version"-*)"

echo "== lintian"
# Run as root, lintian says it is not recommended; that line is not a tag.
lintian --display-info --fail-on none "${debs[0]}" 2>&1 | grep -v "running with root privileges" >"$work/lintian.log" ||
    [ "${PIPESTATUS[0]}" = 0 ] || fail "lintian failed: $(cat "$work/lintian.log")"
sed 's/^/lintian: /' "$work/lintian.log"
[ -s "$work/lintian.log" ] || echo "lintian: no tags"
! grep -q "^E: " "$work/lintian.log" || fail "lintian finds errors in the .deb"

echo "== the demo with the installed programs"
mkdir "$work/built"
for p in "${programs[@]}"; do ln -s "$build/$p/$p" "$work/built/$p"; done
FITSQUAD_BIN="$work/built" "$root/scripts/demo.sh" "$work/demo-built" >/dev/null
FITSQUAD_BIN="$work/dest/usr/local/bin" "$root/scripts/demo.sh" "$work/demo-installed" >"$work/demo.log" ||
    fail "the demo with the installed programs: $(cat "$work/demo.log")"
diff -r "$work/demo-built" "$work/demo-installed" >&2 ||
    fail "the demo's files differ between the built and the installed programs"

echo "== the installed fitsquad-batch"
# Two small frames, the second cut short: its repair fails, the first's
# leaves the files that the programs run by hand leave.
mkdir -p "$work/direct/raw"
cd "$work/direct"
PATH=$work/dest/usr/local/bin:$PATH
read -ra box <<<"$(fitsframe -s 64 64 raw/f1.fits | sed -n 's/.*boxpatch -b //p')"
fitsframe -s 64 64 --seed 2 raw/f2.fits >/dev/null
truncate -s 1000 raw/f2.fits
printf 'raw/f1.fits\nraw/f2.fits\n' >frames.txt
cp -r "$work/direct" "$work/batch"
{ quadsplit raw/f1.fits && boxpatch -b "${box[@]}" raw/f1.b.fits && quadmerge raw/f1.fits; } >/dev/null ||
    fail "the programs run by hand on raw/f1.fits"
cd "$work/batch"
! $batch repair -b "${box[@]}" --list frames.txt results >/dev/null 2>&1 ||
    fail "$batch: exit status 0 with a frame cut short"
printf 'raw/f1.fits 0\nraw/f2.fits 1\n' | diff - results/task-0.log >&2 || fail "$batch: the frames' log"
diff -r "$work/direct/raw" raw >&2 || fail "$batch: files differ from the programs run by hand"

[ "$failures" = 0 ] || exit 1
echo "package: install, .deb and .tar.gz of fitsquad $version checked"
