#!/bin/sh
# The launcher installed as /usr/bin/larkspur and /usr/bin/larkspur-cli
# (larkspur-launcher.sh), run in a scratch folder laid out as the package
# installs it, against stand-ins for the two programs that print the
# arguments they get: a table of command lines and what each program
# receives, then the program folder it lays out for the user.
#
#   sh packaging/launcher_test.sh [LAUNCHER]      (ctest runs it)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
launcher=${1:-$here/larkspur-launcher.sh}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

usr=$scratch/usr
mkdir -p "$usr/bin" "$usr/libexec/larkspur/exebat" "$scratch/work"
for name in larkspur larkspur-cli; do
  cp "$launcher" "$usr/bin/$name"
  # The stand-in prints its name and each argument in brackets, and ends
  # with the status in STAND_IN_STATUS.
  cat >"$usr/libexec/larkspur/$name" <<'EOF'
#!/bin/sh
printf '%s' "${0##*/}"
printf ' [%s]' "$@"
echo
exit "${STAND_IN_STATUS:-0}"
EOF
done
for tool in readimage rofsbuild; do printf '#!/bin/sh\n' >"$usr/libexec/larkspur/exebat/$tool"; done
chmod +x "$usr/bin/"* "$usr/libexec/larkspur/larkspur" "$usr/libexec/larkspur/larkspur-cli" "$usr/libexec/larkspur/exebat/"*
user_home=$scratch/home
folder=$user_home/.local/share/larkspur
ln -s "$usr/bin/larkspur-cli" "$scratch/work/lcli"

passed=0
failed=0
# check PROGRAM ARGUMENTS EXPECTED [NAME=VALUE]
#   Runs PROGRAM (a name in usr/bin, or a path) with ARGUMENTS as the shell
#   reads them, in a bare environment of a user whose HOME is user_home, and
#   compares what it prints with EXPECTED, where ~ is the user's program
#   folder; a status other than 0 is added as " (exit N)".
check() {
  program=$1 arguments=$2 expected=$3 environment=${4:-STAND_IN_STATUS=0}
  case $program in */*) ;; *) program=$usr/bin/$program ;; esac
  eval "set -- $arguments"
  status=0
  got=$(cd "$scratch/work" && env -i PATH=/usr/bin:/bin HOME="$user_home" "$environment" "$program" "$@" 2>&1) ||
    status=$?
  [ "$status" = 0 ] || got="$got (exit $status)"
  got=$(printf '%s\n' "$got" | sed "s|$folder|~|g")
  if [ "$got" = "$expected" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s %s\n  expected: %s\n  got:      %s\n' "${program##*/}" "$arguments" "$expected" "$got"
  fi
}

# Every command gets the user's program folder with --home first; a user's
# own --home comes after it and wins. Arguments pass unchanged: blanks,
# empty ones, patterns.
check larkspur-cli '' 'larkspur-cli [--home] [~]'
check larkspur-cli '--help' 'larkspur-cli [--home] [~] [--help]'
check larkspur-cli '--version' 'larkspur-cli [--home] [~] [--version]'
check larkspur-cli "info 'RM 1.rofs2.V21'" 'larkspur-cli [--home] [~] [info] [RM 1.rofs2.V21]'
check larkspur-cli 'verify RM-1.uda.fpsx' 'larkspur-cli [--home] [~] [verify] [RM-1.uda.fpsx]'
check larkspur-cli 'extract RM-1.uda.fpsx' 'larkspur-cli [--home] [~] [extract] [RM-1.uda.fpsx]'
check larkspur-cli 'repack RM-1.uda.fpsx' 'larkspur-cli [--home] [~] [repack] [RM-1.uda.fpsx]'
check larkspur-cli '--home /mine extract a.uda' 'larkspur-cli [--home] [~] [--home] [/mine] [extract] [a.uda]'
check larkspur-cli '--model n96 extract RM-1.rofs2.V21' \
  'larkspur-cli [--home] [~] [--model] [n96] [extract] [RM-1.rofs2.V21]'
check larkspur-cli "'' '*' 'a  b'" 'larkspur-cli [--home] [~] [] [*] [a  b]'
check larkspur '' 'larkspur [--home] [~]'
check larkspur '--lang en' 'larkspur [--home] [~] [--lang] [en]'
check larkspur '--help' 'larkspur [--home] [~] [--help]'
check larkspur '--version' 'larkspur [--home] [~] [--version]'
# The program's status comes back; a link to the launcher starts what it
# links to; XDG_DATA_HOME moves the program folder.
check larkspur-cli 'verify bad.uda.fpsx' 'larkspur-cli [--home] [~] [verify] [bad.uda.fpsx] (exit 1)' STAND_IN_STATUS=1
check "$scratch/work/lcli" 'info a.uda' 'larkspur-cli [--home] [~] [info] [a.uda]'
check larkspur-cli 'info a.uda' "larkspur-cli [--home] [$scratch/data/larkspur] [info] [a.uda]" \
  XDG_DATA_HOME="$scratch/data"

# The program folder: the working folders, and exebat with links to the
# installed tools.
for entry in temp rofs2 fat16 exebat; do
  if [ -d "$folder/$entry" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1))
    echo "FAILED: the program folder has no $entry"
  fi
done
for tool in readimage rofsbuild; do
  if [ -L "$folder/exebat/$tool" ] && [ "$(readlink -f "$folder/exebat/$tool")" = "$usr/libexec/larkspur/exebat/$tool" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: exebat/$tool does not link to the installed $tool"
  fi
done

# Without HOME (and XDG_DATA_HOME) there is no program folder: the
# launcher says so and starts nothing.
got=$(env -i PATH=/usr/bin:/bin "$usr/bin/larkspur-cli" --version 2>&1) && status=0 || status=$?
case $status:$got in
  0:* | *"[--home]"*) failed=$((failed + 1)) && echo "FAILED: without HOME: exit $status, \"$got\"" ;;
  *"HOME is not set"*) passed=$((passed + 1)) ;;
  *) failed=$((failed + 1)) && echo "FAILED: without HOME: exit $status, \"$got\"" ;;
esac

echo "launcher: $passed passed, $failed failed"
[ "$failed" = 0 ]
