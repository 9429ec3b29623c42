# bash completion for ombri: its commands, each command's options, the values of --depth,
# --color and --adjust, and the pictures ombri reads (with folders to find them in).
# Works with the helpers of the bash-completion package when they are loaded, and with plain
# bash when they are not.

# The file name endings ombri reads, in the two spellings it accepts.
_ombri_picture_pattern='@(bmp|BMP|png|PNG|rgb|RGB|jpg|JPG|jpeg|JPEG|webp|WEBP|avif|AVIF|heic|HEIC|heif|HEIF|jxl|JXL|cin|CIN|dpx|DPX|gif|GIF|pcx|PCX|tif|TIF|tiff|TIFF)'

# Offers folders and pictures that begin with $1, into COMPREPLY.
_ombri_pictures()
{
    local cur=$1
    if declare -F _filedir >/dev/null; then
        _filedir "$_ombri_picture_pattern"
        return
    fi
    local name
    COMPREPLY=()
    # Names may hold spaces: one name a line.
    while IFS= read -r name; do
        if [[ -d $name ]]; then
            COMPREPLY+=("$name")
            continue
        fi
        case $name in
            *.bmp | *.BMP | *.png | *.PNG | *.rgb | *.RGB | *.jpg | *.JPG | *.jpeg | *.JPEG | \
                *.webp | *.WEBP | *.avif | *.AVIF | *.heic | *.HEIC | *.heif | *.HEIF | \
                *.jxl | *.JXL | \
                *.cin | *.CIN | *.dpx | *.DPX | *.gif | *.GIF | *.pcx | *.PCX | *.tif | *.TIF | \
                *.tiff | *.TIFF)
                COMPREPLY+=("$name")
                ;;
        esac
    done < <(compgen -f -- "$cur")
    # Quote what readline inserts and put a slash after folders; outside a completion (as in
    # a test) there is nothing to tell.
    compopt -o filenames 2>/dev/null
}

_ombri()
{
    local cur prev words cword split=false
    if declare -F _init_completion >/dev/null; then
        _init_completion -s || return
    else
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        cur=${words[cword]}
        prev=${words[cword - 1]:-}
        # bash splits "--depth=24" into "--depth", "=" and "24".
        if [[ $cur == = ]]; then
            cur=
            split=true
        elif [[ $prev == = ]] && ((cword >= 2)); then
            prev=${words[cword - 2]}
            split=true
        fi
    fi

    # The command is the first word after the global --verbose options.
    local command='' i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --verbose | =) ;;
            -*) ;;
            *)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $prev in
        --depth)
            mapfile -t COMPREPLY < <(compgen -W '24 32' -- "$cur")
            return
            ;;
        --color)
            mapfile -t COMPREPLY < <(compgen -W 'red green blue black white' -- "$cur")
            return
            ;;
        --adjust)
            # A comma-separated list: complete its last item, keeping the ones before it.
            local before='' last=$cur
            if [[ $cur == *,* ]]; then
                before=${cur%,*},
                last=${cur##*,}
            fi
            mapfile -t COMPREPLY < <(compgen -P "$before" -W 'auto-color auto-contrast invert
                gray red green blue flip-h flip-v rot-cw rot-ccw' -- "$last")
            compopt -o nospace 2>/dev/null
            return
            ;;
        -j | --jobs)
            return
            ;;
        -o | --output)
            _ombri_pictures "$cur"
            return
            ;;
    esac
    [[ $split == true ]] && return

    if [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W 'info notes embed convert repair clear render
            --help --version --verbose' -- "$cur")
        return
    fi

    if [[ $cur == -* ]]; then
        local options='--help --verbose'
        case $command in
            info) options+=' -r --recursive --json -j --jobs' ;;
            notes) options+=' -o --output' ;;
            embed) options+=' -o --output --depth --lossy' ;;
            convert) options+=' --depth --lossy' ;;
            repair | clear) options+=' -o --output --depth' ;;
            render)
                options+=' -o --output --hide-notes --color --complement --no-aa --adjust'
                ;;
            *) return ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi

    case $command in
        info | notes | embed | convert | repair | clear | render) _ombri_pictures "$cur" ;;
    esac
}
complete -F _ombri ombri
