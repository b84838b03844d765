# Bash completion for qtam-cli: commands, each command's options, and files of the kind each
# argument takes (songs *.sng, song texts *.txt, userbanks *.ubf, WAV files, MIDI files).

_qtam_cli_files() {
    # Files whose extension is one of the arguments (any case), and folders to descend into.
    local IFS=$'\n' f ext
    COMPREPLY=()
    for f in $(compgen -f -- "$cur"); do
        if [[ -d $f ]]; then
            COMPREPLY+=("$f")
            continue
        fi
        for ext in "$@"; do
            if [[ ${f,,} == *."$ext" ]]; then
                COMPREPLY+=("$f")
                break
            fi
        done
    done
    compopt -o filenames 2>/dev/null
}

_qtam_cli() {
    # Plain bash: the words as the shell split them (bash-completion is not needed).
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local -a words=("${COMP_WORDS[@]}")
    local cword=$COMP_CWORD

    local commands="render info build play devices bank midi help"
    local command="" subcommand="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                elif [[ $command == bank && -z $subcommand ]]; then
                    subcommand=${words[i]}
                fi
                ;;
        esac
    done

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --version --help" -- "$cur"))
        return
    fi

    # The value of an option: its kind of file, or nothing to offer for a number or a text.
    case $prev in
        --kit | --userbank) _qtam_cli_files ubf dll; return ;;
        --record) _qtam_cli_files wav; return ;;
        --record-pads) _qtam_cli_files sng; return ;;
        --transport) COMPREPLY=($(compgen -W "off follow master" -- "$cur")); return ;;
        --program-change) COMPREPLY=($(compgen -W "in out both" -- "$cur")); return ;;
        -o | --output)
            [[ $subcommand == from-kit ]] && { _qtam_cli_files ubf; return; }
            case $command in
                render) _qtam_cli_files wav flac ogg aiff aif ;;
                build) _qtam_cli_files sng ;;
                midi) _qtam_cli_files mid midi ;;
                bank) _qtam_cli_files wav ubf ;;
            esac
            return
            ;;
        --format) COMPREPLY=($(compgen -W "wav flac ogg aiff" -- "$cur")); return ;;
        --quality) COMPREPLY=($(compgen -W "$(seq 0 10)" -- "$cur")); return ;;
        --stems) COMPREPLY=($(compgen -d -- "$cur")); compopt -o filenames 2>/dev/null; return ;;
        -p | --pattern) COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8" -- "$cur")); return ;;
        -m | --measure) COMPREPLY=($(compgen -W "$(seq 1 16)" -- "$cur")); return ;;
        --seed | --seconds | --device | --buffer-size | --description | --stretch | --hihat | \
            --notes-channel | --note)
            return ;;
    esac

    local options=""
    case $command in
        render) options="--output --stems --format --quality --pattern --measure --kit --userbank
                         --seed --force --help" ;;
        info) options="--kit --help" ;;
        build) options="--output --force --help" ;;
        play) options="--pattern --seconds --device --buffer-size --record --kit --userbank
                       --force --jack --transport --no-connect --notes-out --notes-channel
                       --clock-out --clock-in --note --program-change --record-pads --help" ;;
        devices) options="--help" ;;
        midi) options="--output --pattern --userbank --kit --force --help" ;;
        bank)
            case $subcommand in
                new) options="--description --stretch --hihat --convert --force --help" ;;
                from-kit) options="--output --description --convert --force --help" ;;
                export) options="--output --force --help" ;;
                info) options="--help" ;;
            esac
            ;;
        help) COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        render | info | play | midi) _qtam_cli_files sng ;;
        build) _qtam_cli_files txt ;;
        bank)
            case $subcommand in
                "") COMPREPLY=($(compgen -W "new from-kit info export" -- "$cur")) ;;
                new)
                    # SLOT=FILE: after the '=' a sound file, else the new bank's name.
                    if [[ $cur == *=* ]]; then
                        local slot=${cur%%=*}
                        cur=${cur#*=}
                        _qtam_cli_files wav raw
                        COMPREPLY=("${COMPREPLY[@]/#/$slot=}")
                    else
                        _qtam_cli_files ubf
                    fi
                    ;;
                info | export) _qtam_cli_files ubf ;;
                from-kit) _qtam_cli_files sfz h2drumkit xml ;;
            esac
            ;;
    esac
} &&
    complete -F _qtam_cli qtam-cli
