# bash completion for floppyset and mkfloppyset (installed under both names).

_floppyset() {
  local cur=${COMP_WORDS[COMP_CWORD]} i have_program=
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --dest | --images | --drive | --device) ((i++)) ;;
      -* | /*) ;;
      *) have_program=1 ;;
    esac
  done
  case $cur in
    --dest=* | --images=* | --drive=*)
      COMPREPLY=($(compgen -d -P "${cur%%=*}=" -- "${cur#*=}"))
      return ;;
    --device=*)
      COMPREPLY=($(compgen -f -P "--device=" -- "${cur#*=}"))
      return ;;
    --ansi-codepage=* | --oem-codepage=*)
      COMPREPLY=($(compgen -P "${cur%%=*}=" -W "437 850 852 866 1250 1251 1252" -- "${cur#*=}"))
      return ;;
    --*)
      COMPREPLY=($(compgen -W "--list --product --auth --disk= --silent --autostart --unpack
        --floppy --wait --dest= --yes --no --images= --drive= --device= --json
        --ansi-codepage= --oem-codepage= --help --version" -- "$cur"))
      [[ ${COMPREPLY[0]-} == *= ]] && compopt -o nospace
      return ;;
    /*)
      if [ -n "$have_program" ]; then
        COMPREPLY=($(compgen -W "/A /C: /D /E /F /L /P /S /W /?" -- "$cur"))
        [[ ${COMPREPLY[0]-} == /C: ]] && compopt -o nospace
        return
      fi ;;
  esac
  if [ -z "$have_program" ]; then
    # The setup program: directories and files ending in .exe, in any case.
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.[eE][xX][eE]' -- "$cur"))
  fi
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
