#!/usr/bin/env bash
# Checks on what `cmake --install` and `cpack -G DEB` deliver, run by CTest:
#
#   check-package.sh install BUILD_DIR SOURCE_DIR WORK_DIR VERSION
#   check-package.sh deb     BUILD_DIR WORK_DIR VERSION
#   check-package.sh launch  DEB_DIR WORK_DIR
#
# Every step works inside WORK_DIR (wiped first); nothing is installed into
# the running system. Each check reports what it found and carries on, so one
# run lists every problem; the exit status is 1 when any check failed.

# pass always succeeds, so `cond && pass ... || fail ...` is an if/else here.
# shellcheck disable=SC2015
set -euo pipefail
# With pipefail, a reader that stops early (head, grep -q) fails the writer's
# side of the pipe; the script reads whole streams (sed -n 1p) instead.

PACKAGE=kelvo-gba
METAINFO_ID=io.github.kelvo_gba.KelvoGBA
WINDOW_TITLE='Kelvo-GBA - Kelvo By Orlan'

# Every file the install delivers, relative to the prefix, with its mode.
EXPECTED_FILES=(
    "755 bin/kelvo-gba"
    "755 bin/kelvo-gba-cli"
    "644 share/bash-completion/completions/kelvo-gba-cli"
    "644 share/applications/kelvo-gba.desktop"
    "644 share/doc/kelvo-gba/changelog.gz"
    "644 share/doc/kelvo-gba/copyright"
    "644 share/icons/hicolor/16x16/apps/kelvo-gba.png"
    "644 share/icons/hicolor/32x32/apps/kelvo-gba.png"
    "644 share/icons/hicolor/48x48/apps/kelvo-gba.png"
    "644 share/icons/hicolor/128x128/apps/kelvo-gba.png"
    "644 share/icons/hicolor/256x256/apps/kelvo-gba.png"
    "644 share/icons/hicolor/scalable/apps/kelvo-gba.svg"
    "644 share/man/man1/kelvo-gba.1.gz"
    "644 share/man/man1/kelvo-gba-cli.1.gz"
    "644 share/metainfo/$METAINFO_ID.metainfo.xml"
)

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
finish() {
    if ((failures)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

# Compares two newline-separated lists and names the differences.
same_list() {
    local what=$1 expected=$2 actual=$3 missing extra
    missing=$(comm -23 <(sort <<<"$expected") <(sort <<<"$actual"))
    extra=$(comm -13 <(sort <<<"$expected") <(sort <<<"$actual"))
    if [[ -z $missing && -z $extra ]]; then
        pass "$what"
        return
    fi
    [[ -z $missing ]] || fail "$what: missing:"$'\n'"$missing"
    [[ -z $extra ]] || fail "$what: unexpected:"$'\n'"$extra"
}

# The value of a key in the [Desktop Entry] group of a desktop file.
desktop_key() {
    sed -n "/^\[Desktop Entry\]/,/^\[/{s/^$2=//p}" "$1" | sed -n 1p
}

# Width and height stored in a PNG's IHDR chunk.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*2^24 + $2*2^16 + $3*2^8 + $4, $5*2^24 + $6*2^16 + $7*2^8 + $8 }'
}

# Whether a process is alive; an unreaped child that has exited is not.
running() {
    [[ -r /proc/$1/stat ]] && [[ $(sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f1) != Z ]]
}

# --- install -----------------------------------------------------------------

check_installed_tree() {
    local label=$1 prefix=$2 source_dir=$3 version=$4
    local expected_paths expected_modes actual_modes
    expected_paths=$(printf '%s\n' "${EXPECTED_FILES[@]}" | cut -d' ' -f2)
    same_list "$label: installed files" "$expected_paths" \
        "$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||')"
    # Modes of the expected files that are there; absent ones are named above.
    local row
    expected_modes=$(for row in "${EXPECTED_FILES[@]}"; do
        if [[ -e $prefix/${row#* } ]]; then echo "$row"; fi
    done)
    actual_modes=$(cd "$prefix" && while read -r path; do
        if [[ -e $path ]]; then printf '%s %s\n' "$(stat -c %a "$path")" "$path"; fi
    done <<<"$expected_paths")
    same_list "$label: file modes" "$expected_modes" "$actual_modes"

    check_command_line "$label" "$prefix" "$version"

    local desktop=$prefix/share/applications/$PACKAGE.desktop
    local metainfo=$prefix/share/metainfo/$METAINFO_ID.metainfo.xml
    [[ -f $desktop && -f $metainfo ]] || return 0

    local out
    if out=$(desktop-file-validate "$desktop" 2>&1) && [[ -z $out ]]; then
        pass "$label: desktop-file-validate"
    else
        fail "$label: desktop-file-validate:"$'\n'"$out"
    fi
    if out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1); then
        pass "$label: appstreamcli validate --no-net"
    else
        fail "$label: appstreamcli validate --no-net:"$'\n'"$out"
    fi

    # The menu entry must start an installed program with an installed icon.
    local exec_name icon
    exec_name=$(desktop_key "$desktop" Exec | awk '{ print $1 }')
    [[ -x $prefix/bin/$exec_name ]] && pass "$label: Exec names bin/$exec_name" ||
        fail "$label: Exec program '$exec_name' is not installed in bin/"
    # File managers offer "Open With" for the types the entry declares, and
    # pass the file where the Exec line takes one.
    local exec_line
    exec_line=$(desktop_key "$desktop" Exec)
    [[ $exec_line =~ ^[^\ ]+\ %f$ ]] && pass "$label: Exec takes a file (%f)" ||
        fail "$label: Exec is '$exec_line', expected the program and %f"
    [[ ";$(desktop_key "$desktop" MimeType)" == *";application/x-gba-rom;"* ]] &&
        pass "$label: MimeType declares application/x-gba-rom" ||
        fail "$label: MimeType '$(desktop_key "$desktop" MimeType)' lacks application/x-gba-rom;"
    icon=$(desktop_key "$desktop" Icon)
    local size file
    for row in "${EXPECTED_FILES[@]}"; do
        file=${row#* }
        [[ $file == share/icons/hicolor/*/apps/* ]] || continue
        size=$(cut -d/ -f4 <<<"$file")
        [[ $(basename "$file") == "$icon".* ]] ||
            fail "$label: $file is not the desktop entry's icon '$icon'"
        [[ $size == scalable || ! -f $prefix/$file ]] && continue
        [[ $(png_size "$prefix/$file") == "$size" ]] &&
            pass "$label: $size icon is $size pixels" ||
            fail "$label: $file is $(png_size "$prefix/$file") pixels, not $size"
    done

    # AppStream ties the component to the entry by desktop id, and the
    # screenshots are raw files of this repository.
    grep -q "<id>$METAINFO_ID</id>" "$metainfo" ||
        fail "$label: metainfo id is not $METAINFO_ID, the name it is installed under"
    grep -q "<launchable type=\"desktop-id\">$PACKAGE.desktop</launchable>" "$metainfo" &&
        pass "$label: metainfo launches $PACKAGE.desktop" ||
        fail "$label: metainfo does not name $PACKAGE.desktop as its launchable"
    local homepage url shots=0
    homepage=$(sed -n 's|.*<url type="homepage">https://github.com/\([^<]*\)</url>.*|\1|p' "$metainfo")
    while read -r url; do
        shots=$((shots + 1))
        local repo_path=${url#"https://raw.githubusercontent.com/$homepage/main/"}
        if [[ $repo_path == "$url" ]]; then
            fail "$label: screenshot $url is not a raw file of github.com/$homepage"
        elif [[ $(file -b --mime-type "$source_dir/$repo_path" 2>/dev/null) != image/png ]]; then
            fail "$label: screenshot $url: $repo_path is not a PNG in the repository"
        else
            pass "$label: screenshot $repo_path"
        fi
    done < <(sed -n 's|.*<image>\(.*\)</image>.*|\1|p' "$metainfo")
    ((shots >= 2)) || fail "$label: metainfo has $shots screenshots, expected both windows"
    local release
    release=$(sed -n 's|.*<release version="\([^"]*\)".*|\1|p' "$metainfo" | sed -n 1p)
    [[ $release == "$version" ]] && pass "$label: newest metainfo release is $version" ||
        fail "$label: newest metainfo release is '$release', the project is $version"
}

# The command-line companion: it runs from the tree without a display, says
# its version, its completion completes it, and its manual page renders.
check_command_line() {
    local label=$1 prefix=$2 version=$3 out
    local cli=$prefix/bin/$PACKAGE-cli
    [[ -x $cli ]] || return 0
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$cli" --version 2>&1) &&
        [[ $(sed -n 1p <<<"$out") == "$PACKAGE-cli $version" ]] && pass "$label: $PACKAGE-cli --version" ||
        fail "$label: $PACKAGE-cli --version said '$out'"
    local completion=$prefix/share/bash-completion/completions/$PACKAGE-cli
    [[ -f $completion ]] && bash -c "source '$completion' && complete -p $PACKAGE-cli" >/dev/null 2>&1 &&
        pass "$label: completion registers $PACKAGE-cli" ||
        fail "$label: $completion does not register a completion for $PACKAGE-cli"
    local page=$prefix/share/man/man1/$PACKAGE-cli.1.gz warnings
    if [[ -f $page ]]; then
        warnings=$(gzip -dc "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l - 2>&1 >/dev/null)
        [[ -z $warnings ]] && pass "$label: $PACKAGE-cli(1) renders without warnings" ||
            fail "$label: $PACKAGE-cli(1):"$'\n'"$warnings"
    fi
}

cmd_install() {
    local build_dir=$1 source_dir=$2 work=$3 version=$4
    rm -rf "$work"
    mkdir -p "$work"
    # A packager's staged install and a plain install under another prefix
    # must both lay out the same tree below their prefix.
    DESTDIR=$work/destdir cmake --install "$build_dir" --prefix /usr >"$work/install-destdir.log"
    cmake --install "$build_dir" --prefix "$work/prefix" >"$work/install-prefix.log"
    check_installed_tree "DESTDIR=.../destdir --prefix /usr" "$work/destdir/usr" "$source_dir" "$version"
    check_installed_tree "--prefix .../prefix" "$work/prefix" "$source_dir" "$version"
    finish
}

# --- deb ---------------------------------------------------------------------

cmd_deb() {
    local build_dir=$1 work=$2 version=$3
    local arch deb
    arch=$(dpkg --print-architecture)
    rm -rf "$work"
    mkdir -p "$work"
    # A strict umask shows whether the package's modes depend on the packager's.
    if ! (umask 077 && cpack -G DEB -B "$work" --config "$build_dir/CPackConfig.cmake") >"$work/cpack.log" 2>&1; then
        cat "$work/cpack.log" >&2
        fail "cpack -G DEB failed"
        finish
    fi
    deb=$work/${PACKAGE}_${version}_${arch}.deb
    same_list "package file name" "$(basename "$deb")" \
        "$(cd "$work" && find . -maxdepth 1 -name '*.deb' | sed 's|^\./||')"
    [[ -f $deb ]] || finish

    # Control fields: name = exact value, or ~ a regular expression; only the
    # first line counts (for Description, the synopsis).
    local control_checks=(
        "Package = $PACKAGE"
        "Version = $version"
        "Architecture = $arch"
        "Section = utils"
        "Priority = optional"
        "Maintainer ~ ^[^<]+ <[^@>]+@[^>]+>$"
        "Homepage ~ ^https://"
        "Depends ~ (^|, )libc6( \(>= [^)]+\))?(,|$)"
        "Depends ~ (^|, )libqt6widgets6( \(>= [^)]+\))?(,|$)"
        "Depends ~ (^|, )libssl3( \(>= [^)]+\))?(,|$)"
        "Depends ~ (^|, )zlib1g( \(>= [^)]+\))?(,|$)"
        "Description ~ ^[a-z].{10,79}$"
    )
    local row field op want value
    for row in "${control_checks[@]}"; do
        field=${row%% *}
        op=$(cut -d' ' -f2 <<<"$row")
        want=${row#* [=~] }
        value=$(dpkg-deb -f "$deb" "$field" | sed -n 1p)
        if [[ ($op == "=" && $value == "$want") || ($op == "~" && $value =~ $want) ]]; then
            pass "control $field $op $want"
        else
            fail "control $field is '$value', expected $op $want"
        fi
    done
    local long_description
    long_description=$(dpkg-deb -f "$deb" Description | tail -n +2)
    [[ -n $long_description ]] && pass "control has a long description" ||
        fail "control Description has no long description"

    # Contents: every expected file below /usr with its mode. Owners and
    # directory modes are lintian's (wrong-file-owner, non-standard-dir-perm).
    local listing
    listing=$(dpkg-deb -c "$deb")
    same_list "package files and modes" \
        "$(printf '%s\n' "${EXPECTED_FILES[@]}" | sed 's| | usr/|')" \
        "$(awk '$1 !~ /^d/ { print $1, $6 }' <<<"$listing" | sed 's|^-rwxr-xr-x|755|; s|^-rw-r--r--|644|; s| \./| |')"
    dpkg-deb -I "$deb" md5sums >/dev/null 2>&1 && pass "control has md5sums" ||
        fail "control archive has no md5sums"

    # The package's changelog must describe the version it carries.
    local top
    top=$(dpkg-deb --fsys-tarfile "$deb" |
        tar -xOf - "./usr/share/doc/$PACKAGE/changelog.gz" | gzip -dc | sed -n 1p) || true
    [[ $top == "$PACKAGE ($version) "* ]] && pass "changelog starts with $version" ||
        fail "changelog starts with '$top'; add a $version section to CHANGELOG.md"

    local report
    report=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v '^running with root privileges' || true)
    local errors warnings
    errors=$(grep '^E: ' <<<"$report" || true)
    warnings=$(grep '^W: ' <<<"$report" || true)
    [[ -z $errors ]] && pass "lintian: no errors" || fail "lintian errors:"$'\n'"$errors"
    [[ -z $warnings ]] && pass "lintian: no warnings" ||
        fail "lintian warnings:"$'\n'"$warnings"
    [[ -z $report ]] || echo "lintian said:"$'\n'"$report"
    finish
}

# --- launch ------------------------------------------------------------------

cmd_launch() {
    local deb_dir=$1 work=$2
    local deb root
    deb=$(find "$deb_dir" -maxdepth 1 -name "${PACKAGE}_*.deb" | sed -n 1p)
    [[ -n $deb ]] || { fail "no ${PACKAGE}_*.deb in $deb_dir"; finish; }
    rm -rf "$work"
    mkdir -p "$work/home" "$work/runtime"
    chmod 700 "$work/runtime"
    root=$work/root
    dpkg-deb -x "$deb" "$root"

    # A machine that installs the package gets its dependencies from apt; here
    # they must already be installed for the extracted program to run.
    local depends out
    depends=$(dpkg-deb -f "$deb" Depends)
    printf 'Source: probe\n\nPackage: probe\nArchitecture: any\n' >"$work/control"
    if out=$(dpkg-checkbuilddeps -d "$depends" "$work/control" 2>&1); then
        pass "Depends satisfied: $depends"
    else
        fail "Depends not satisfied on this machine: $out"
        finish
    fi

    # The command line needs no display: it runs before Xvfb starts.
    local cli_out
    cli_out=$(env -u DISPLAY "$root/usr/bin/$PACKAGE-cli" --help 2>&1) &&
        [[ $cli_out == *"  fix "* ]] && pass "the packaged $PACKAGE-cli runs without a display" ||
        fail "the packaged $PACKAGE-cli --help said: $cli_out"

    local desktop=$root/usr/share/applications/$PACKAGE.desktop exec_line wm_class
    exec_line=$(desktop_key "$desktop" Exec)
    wm_class=$(desktop_key "$desktop" StartupWMClass)
    # Field codes (%f, %U, ...) stand for files the menu passes; there are none.
    exec_line=$(sed -E 's/ *%[fFuUick]//g' <<<"$exec_line")
    [[ -n $exec_line ]] || { fail "desktop entry has no Exec line"; finish; }

    # A display of our own: -displayfd picks a free number, so parallel tests
    # never share or fight over one.
    exec {display_fd}>"$work/display"
    Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local tries=0
    exec {display_fd}>&-
    trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
    until [[ -s $work/display ]]; do
        ((++tries < 100)) || { fail "Xvfb did not start: $(cat "$work/xvfb.log")"; finish; }
        sleep 0.1
    done
    DISPLAY=":$(tr -d '\n' <"$work/display")"
    export DISPLAY

    # The Exec line as the menu runs it, finding the program on PATH.
    (cd "$work" && exec env -u QT_QPA_PLATFORM HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
        PATH="$root/usr/bin:$PATH" sh -c "exec $exec_line") >"$work/program.log" 2>&1 &
    local pid=$!
    local window
    if window=$(timeout 20 xdotool search --sync --onlyvisible --name "^$WINDOW_TITLE\$" | sed -n 1p) &&
        [[ -n $window ]]; then
        pass "window '$WINDOW_TITLE' appeared"
        [[ $(xdotool getwindowpid "$window") == "$pid" ]] && pass "window belongs to the started program" ||
            fail "window belongs to pid $(xdotool getwindowpid "$window"), not the started $pid"
        [[ $(readlink "/proc/$pid/exe") == "$root/usr/bin/"* ]] && pass "the packaged binary runs" ||
            fail "the Exec line ran $(readlink "/proc/$pid/exe"), not the packaged binary"
        # Docks match windows to the menu entry by WM_CLASS.
        [[ -n $wm_class ]] && xdotool search --class "^$wm_class\$" | grep -x "$window" >/dev/null &&
            pass "window class is StartupWMClass $wm_class" ||
            fail "window class does not match StartupWMClass '$wm_class'"
    else
        fail "no window '$WINDOW_TITLE' within 20 s; program said: $(cat "$work/program.log")"
    fi

    if running "$pid"; then
        # A watchdog turns a hang into SIGKILL, which wait reports as 137.
        kill -TERM "$pid"
        (sleep 5 && kill -KILL "$pid") >/dev/null 2>&1 &
        local watchdog=$! status=0
        wait "$pid" || status=$?
        kill "$watchdog" 2>/dev/null || true
        ((status == 143)) && pass "program exits on SIGTERM" ||
            fail "program did not end on SIGTERM (wait status $status)"
    else
        fail "program exited on its own: $(cat "$work/program.log")"
    fi
    finish
}

command=${1:-}
shift || true
case $command in
install) cmd_install "$@" ;;
deb) cmd_deb "$@" ;;
launch) cmd_launch "$@" ;;
*)
    echo "usage: $0 install|deb|launch ..." >&2
    exit 2
    ;;
esac
