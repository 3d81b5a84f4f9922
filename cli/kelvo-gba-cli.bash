# bash completion for kelvo-gba-cli: its commands, each command's options,
# the values --byte takes, checksum lists after --dat, and image files
# (directories to reach them); verify also takes archives and directories.
_kelvo_gba_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="info fix trim pad repair rename-to-list verify"
    if ((cword == 1)); then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        fi
        return
    fi

    local command=${words[1]} options
    case $command in
    info) options="--json --header --dat --help" ;;
    fix) options="-p -t -c -m -r --dry-run --help" ;;
    trim | repair) options="--dry-run --help" ;;
    pad) options="--byte --dry-run --help" ;;
    verify) options="--dat --json -r --recursive --help" ;;
    rename-to-list) options="--dry-run --dat --help" ;;
    *) return ;;
    esac

    if [[ $command == pad && $prev == --byte ]]; then
        mapfile -t COMPREPLY < <(compgen -W "0xFF 0x00" -- "$cur")
        return
    fi
    if [[ $prev == --dat ]]; then
        _filedir '@(dat|xml|zip|DAT|XML|ZIP)'
        return
    fi
    # After "--" every word is a file.
    local i
    for ((i = 2; i < cword; i++)); do
        [[ ${words[i]} == -- ]] && break
    done
    if ((i == cword)) && [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    if [[ $command == verify ]]; then
        _filedir '@(gba|agb|bin|zip|GBA|AGB|BIN|ZIP)'
        return
    fi
    _filedir '@(gba|agb|bin|GBA|AGB|BIN)'
}
complete -F _kelvo_gba_cli kelvo-gba-cli
