# bash completion for floppyset and mkfloppyset (installed under both names).

# Replies with the completions of VALUE (an option's value) of KIND: dir, file or a word
# list. Readline splits "--dest=out" at '=' when COMP_WORDBREAKS holds it (bash's default):
# then the value alone is replaced, else the whole word, with "--dest=" before each reply.
_floppyset_value() {  # KIND OPTION VALUE
  local kind=$1 prefix=$2= value=$3
  [[ $COMP_WORDBREAKS == *=* ]] && prefix=
  case $kind in
    dir) COMPREPLY=($(compgen -d -P "$prefix" -- "$value")) ;;
    file) COMPREPLY=($(compgen -f -P "$prefix" -- "$value")) ;;
    *) COMPREPLY=($(compgen -P "$prefix" -W "$kind" -- "$value")) ;;
  esac
  if [ -z "$prefix" ] && [[ $kind == dir || $kind == file ]]; then
    compopt -o filenames 2>/dev/null
  fi
}

_floppyset() {
  # The word as typed, up to the cursor: COMP_WORDS splits "--dest=out" into three.
  local line=${COMP_LINE:0:COMP_POINT} cur prev=
  cur=${line##*[[:space:]]}
  line=${line%"$cur"}
  line=${line%"${line##*[![:space:]]}"}
  prev=${line##*[[:space:]]}
  local codepages="437 850 852 866 1250 1251 1252"
  case $cur in
    --dest=* | --images=* | --drive=*) _floppyset_value dir "${cur%%=*}" "${cur#*=}"; return ;;
    --device=*) _floppyset_value file --device "${cur#*=}"; return ;;
    --ansi-codepage=* | --oem-codepage=*)
      _floppyset_value "$codepages" "${cur%%=*}" "${cur#*=}"; return ;;
    --disk=*) return ;;
  esac
  # The value of an option given as the next argument.
  case $prev in
    --dest | --images | --drive) COMPREPLY=($(compgen -d -- "$cur")); compopt -o filenames; return ;;
    --device) COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames; return ;;
    --ansi-codepage | --oem-codepage) COMPREPLY=($(compgen -W "$codepages" -- "$cur")); return ;;
    --disk) return ;;
  esac
  case $cur in
    --*)
      COMPREPLY=($(compgen -W "--list --product --auth --disk= --silent --autostart --unpack
        --floppy --wait --dest= --yes --no --images= --drive= --device= --json --test
        --salvage --quiet --verbose --ansi-codepage= --oem-codepage= --help --version" -- "$cur"))
      [[ ${COMPREPLY[0]-} == *= ]] && compopt -o nospace
      return ;;
    -*) COMPREPLY=($(compgen -W "-h -V -q -v -y" -- "$cur")); return ;;
  esac
  # Program files: directories and files ending in .exe, in any case, anywhere on the line;
  # a word of '/' and a character may be a switch as well as the start of a path.
  local switches=()
  if [[ $cur == /* && ${#cur} -le 2 ]]; then
    switches=($(compgen -W "/A /C: /D /E /F /L /P /S /W /?" -- "$cur"))
    [[ ${switches[*]} == /C: ]] && compopt -o nospace
  fi
  compopt -o filenames 2>/dev/null
  COMPREPLY=("${switches[@]}" $(compgen -d -- "$cur") $(compgen -f -X '!*.[eE][xX][eE]' -- "$cur"))
}

_mkfloppyset() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  case $cur in
    --archive=*) COMPREPLY=($(compgen -P --archive= -W "apst lha" -- "${cur#*=}")); return ;;
    --dict=*) COMPREPLY=($(compgen -P --dict= -W "1024 2048 4096" -- "${cur#*=}")); return ;;
    --stub=*) COMPREPLY=($(compgen -f -P --stub= -X '!*.[eE][xX][eE]' -- "${cur#*=}")); return ;;
    --output=*) COMPREPLY=($(compgen -f -P --output= -- "${cur#*=}")); return ;;
    -*)
      COMPREPLY=($(compgen -W "-o --output= --stub= --product= --final-message= --installer=
        --archive= --dict= --dialog-style= --boot-disk --verify --unpack --autostart --created=
        --fat12 --split --disks= --flat --ansi-codepage= --oem-codepage= -v --verbose -h --help
        --version" -- "$cur"))
      [[ ${COMPREPLY[0]-} == *= ]] && compopt -o nospace
      return ;;
  esac
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -f -- "$cur"))
}

complete -F _floppyset floppyset
complete -F _mkfloppyset mkfloppyset
