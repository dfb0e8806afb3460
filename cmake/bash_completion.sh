#!/usr/bin/env bash
# Writes the bash completion of a tool of the family from its usage screen,
# which the tool prints from the very table its parser reads: the options
# with their prefix rules (a boolean takes - or +, any other option a value),
# and the actions its first parameter names ("list, save, check or load").
# Usage: bash_completion.sh TOOL NAME >completion-file
set -euo pipefail
tool=${1:?usage: bash_completion.sh tool name}
name=${2:?usage: bash_completion.sh tool name}
usage=$("$tool" '/?')

# Option rows: "/card  uint ...", "-/+f  boolean ...".
flags=$(awk '$1 ~ /^-\/\+/ && $2 == "boolean" { sub(/^-\/\+/, "", $1); printf "%s ", $1 }' <<<"$usage")
values=$(awk '$1 ~ /^\/[a-z]/ && $2 != "boolean" && $1 != "/h" { sub(/^\//, "", $1); printf "%s ", $1 }' <<<"$usage")
# The first parameter's description lists the actions, when it has any.
actions=$(awk -F' = ' '$1 ~ /^ *action$/ { gsub(/,| or /, " ", $2); print $2 }' <<<"$usage")
function=_$(tr -c 'a-z\n' _ <<<"$name")

cat <<EOF
# bash completion for $name, generated from its option table (its usage
# screen) when it was built.
$function() {
    local cur=\${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=\${COMP_WORDS[COMP_CWORD - 1]}
    local flags="$flags" values="$values" actions="$actions"
    COMPREPLY=()
    # The value of an option.
    if [[ \$prev == [-/+]?* && " \$values " == *" \${prev:1} "* ]]; then
        case \${prev:1} in
        sdk | bitdir) mapfile -t COMPREPLY < <(compgen -d -- "\$cur") ;;
        card | index)
            # From the host's cards, when the library answers at once.
            local column=2
            [[ \${prev:1} == index ]] && column=1
            mapfile -t COMPREPLY < <(compgen -W "\$(timeout 1 sorvit-image list 2>/dev/null |
                awk -v c="\$column" 'NR > 1 && \$2 ~ /^[0-9]+\$/ { print \$c }')" -- "\$cur") ;;
        *) mapfile -t COMPREPLY < <(compgen -f -- "\$cur") ;;
        esac
        return
    fi
    # Options come first; the first other word is the action.
    local k word action='' after=0 all=''
    for ((k = 1; k < COMP_CWORD; k++)); do
        word=\${COMP_WORDS[k]}
        if [[ -z \$action && \$word == [-/+]?* ]]; then
            [[ \$word == +all ]] && all=1
            [[ " \$values " == *" \${word:1} "* ]] && ((k++))
        elif [[ -z \$action ]]; then
            action=\$word
        else
            ((after++))
        fi
    done
    if [[ -z \$action && \$cur == [-/+]* ]]; then
        local words=() option
        case \$cur in
        /*) words=(/h /? /help); for option in \$values; do words+=("/\$option"); done
            [[ " \$flags " == *" version "* ]] && words+=(/version) ;;
        -*) for option in \$flags; do words+=("-\$option"); done ;;
        +*) for option in \$flags; do words+=("+\$option"); done ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "\${words[*]}" -- "\$cur")
    elif [[ -z \$action && -n \$actions ]]; then
        mapfile -t COMPREPLY < <(compgen -W "\$actions" -- "\$cur")
    elif [[ -n \$action && \$action != list && \$after -eq 0 && " \$actions " == *" \$action "* ]]; then
        # An action's file, or with +all its folder.
        if [[ -n \$all ]]; then
            mapfile -t COMPREPLY < <(compgen -d -- "\$cur")
        else
            mapfile -t COMPREPLY < <(compgen -f -- "\$cur")
        fi
    fi
}
complete -F $function $name
EOF
