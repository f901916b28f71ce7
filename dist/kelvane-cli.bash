# Bash completion for kelvane-cli. The commands and options come from the
# program's own --help, so whatever it gains completes without an edit here.

# Prints one line per word that `PROGRAM [COMMAND] --help` lists:
# "command NAME", "flag NAME" or "value NAME TYPE..." (an option that takes a value).
_kelvane_cli_help()
{
    "$@" --help 2>/dev/null | awk '
        /^[A-Za-z][A-Za-z ]*:$/ { section = tolower($0); next }
        /^$/ { section = "" }
        section == "subcommands:" && NF > 0 { print "command", $1 }
        section == "options:" && $1 ~ /^-/ {
            # The value type follows the names in capitals: TEXT, INT, UINT:POSITIVE,
            # ENUM:value in {fast->0,best->1}, and MODEL, PNG, IMAGE or DIR for a file
            # or folder ...; the rest of the line goes with it.
            kind = ($2 ~ /^(TEXT|INT|UINT|FLOAT|NUMBER|ENUM|MODEL|PNG|IMAGE|DIR)/) ? "value" : "flag"
            names = $1
            sub(/^ *[^ ]+ */, "")
            count = split(names, name, ",")
            for (i = 1; i <= count; i++) print kind, name[i], (kind == "value" ? $0 : "")
        }'
}

_kelvane_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]} command="" word kind name type
    local -a listed=() commands=()
    COMPREPLY=()

    # The command is the first earlier word that the program lists as one.
    while read -r kind name type; do
        [[ $kind == command ]] && commands+=("$name")
    done < <(_kelvane_cli_help "$program")
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        [[ " ${commands[*]} " == *" $word "* ]] && { command=$word; break; }
    done
    mapfile -t listed < <(_kelvane_cli_help "$program" $command)

    # After an option that takes a value: its choices when the help lists them
    # ("TEXT:{edge,quadric}", "{fast->0,best->1}"); folders and models after
    # MODEL, folders and PNG pictures after PNG, folders and pictures of every
    # kind read after IMAGE, folders after DIR; nothing for
    # numbers, sizes and other text.
    if [[ $prev == -* ]]; then
        for word in "${listed[@]}"; do
            read -r kind name type <<<"$word"
            if [[ $kind == value && $name == "$prev" ]]; then
                if [[ $type =~ \{([^}]*)\} ]]; then
                    local choices=${BASH_REMATCH[1]//,/ }
                    choices=$(sed -E 's/->[^ ]*//g' <<<"$choices")
                    mapfile -t COMPREPLY < <(compgen -W "$choices" -- "$cur")
                    return 0
                fi
                local files pictures=''
                case $type in
                    MODEL*) files='!*.md[l23]' ;;
                    PNG*) files='!*.png' ;;
                    IMAGE*) files='' pictures='\.(tga|pcx|png|jpe?g|bmp)$' ;;
                    DIR*) files='' ;;
                    *) return 0 ;;
                esac
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -d -- "$cur"; [[ -z $files ]] || compgen -f -X "$files" -- "$cur"
                                         [[ -z $pictures ]] || compgen -f -- "$cur" | grep -iE "$pictures")
                return 0
            fi
        done
    fi
    if [[ $cur == -* ]]; then
        for word in "${listed[@]}"; do
            read -r kind name type <<<"$word"
            [[ $kind == flag || $kind == value ]] && [[ $name == "$cur"* ]] && COMPREPLY+=("$name")
        done
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${commands[*]}" -- "$cur")
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.md[l23]' -- "$cur")
    fi
}

complete -F _kelvane_cli kelvane-cli
