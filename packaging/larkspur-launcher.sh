#!/bin/sh
# Installed as /usr/bin/larkspur and /usr/bin/larkspur-cli: starts the
# window or the command line of the same name over a program folder of the
# user's own, since an installed program cannot write beside itself under
# /usr. That folder is $XDG_DATA_HOME/larkspur (by default
# ~/.local/share/larkspur): exebat with links to the installed tools, and
# temp, rofs2 and fat16. REB- files and the working files land there.
# Every command gets that --home, --help and --version too (they ignore
# it); a --home of the user's comes after it and wins.
set -e
# A link to this script (~/bin/lcli) starts what it links to.
self=$(readlink -f "$0")
program=$(cd "$(dirname "$self")/../libexec/larkspur" && pwd)
case $(basename "$self") in
  larkspur-cli) target=larkspur-cli ;;
  *) target=larkspur ;;
esac
home=${XDG_DATA_HOME:-${HOME:?HOME is not set}/.local/share}/larkspur
mkdir -p "$home/exebat" "$home/temp" "$home/rofs2" "$home/fat16"
for tool in readimage rofsbuild; do
  ln -sfn "$program/exebat/$tool" "$home/exebat/$tool"
done
exec "$program/$target" --home "$home" "$@"
