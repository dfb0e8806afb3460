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

# Option rows, in the screen's columns ("%12s  %7s  %12s  %s"): a row with
# no type is the help words, "boolean" a flag (-/+), any other type an
# option with a value, a folder when its meaning says "directory".
rows() {  # the kind of row, then the column to print
  awk -v kind="$1" '
    /^ *Option  +Type/ { table = 1; next }
    table && NF {
      option = substr($0, 1, 12); type = substr($0, 15, 7); meaning = substr($0, 43)
      gsub(/ /, "", type); sub(/^ +/, "", option)
      if (kind == "help" && type == "") print option
      else if (kind == "flag" && type == "boolean") { sub(/^-\/\+/, "", option); print option }
      else if (type != "" && type != "boolean" && (kind == "value" || (kind == "folder" && meaning ~ /directory/))) {
        sub(/^\//, "", option); print option
      }
    }' <<<"$usage" | tr '\n' ' '
}
help=$(rows help)
flags=$(rows flag)
values=$(rows value)
folders=$(rows folder)
# The first parameter's description lists the actions, when it has any.
actions=$(awk -F' = ' '$1 ~ /^ *action$/ { gsub(/,| or /, " ", $2); print $2 }' <<<"$usage")
# The file's description names the actions that take one: "for save, check
# and load: ...".
file_actions=$(awk -F' = ' '$1 ~ /^ *file$/ && $2 ~ /^for / {
  sub(/^for /, "", $2); sub(/:.*/, "", $2); gsub(/,| and /, " ", $2); print $2 }' <<<"$usage")
function=_$(tr -c 'a-z\n' _ <<<"$name")

cat <<EOF
# bash completion for $name, generated from its option table (its usage
# screen) when it was built.
$function() {
    local cur=\${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=\${COMP_WORDS[COMP_CWORD - 1]}
    local help="$help" flags="$flags" values="$values" folders="$folders" actions="$actions"
    local file_actions="$file_actions"
    COMPREPLY=()
    # The value of an option.
    if [[ \$prev == [-/+]?* && " \$values " == *" \${prev:1} "* ]]; then
        if [[ " \$folders " == *" \${prev:1} "* ]]; then
            mapfile -t COMPREPLY < <(compgen -d -- "\$cur")
            return
        fi
        case \${prev:1} in
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
        /*) read -ra words <<<"\$help"; for option in \$values; do words+=("/\$option"); done
            [[ " \$flags " == *" version "* ]] && words+=(/version) ;;
        -*) for option in \$flags; do words+=("-\$option"); done ;;
        +*) for option in \$flags; do words+=("+\$option"); done ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "\${words[*]}" -- "\$cur")
    elif [[ -z \$action && -n \$actions ]]; then
        mapfile -t COMPREPLY < <(compgen -W "\$actions" -- "\$cur")
    elif [[ -n \$action && \$after -eq 0 && " \$file_actions " == *" \$action "* ]]; then
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
