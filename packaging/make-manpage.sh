#!/bin/sh
# Writes the manual page of one of Larkspur's programs: what the program
# says to --help (its usage, options, commands and exit status) with the
# parts of packaging/manual.txt for it (what it is, its files and
# environment), turned into troff. The build runs it for the .deb.
#
#   sh packaging/make-manpage.sh PROGRAM VERSION MANUAL OUT
#
# PROGRAM is the built program (its file name names the page), MANUAL the
# page source packaging/manual.txt, OUT the page to write (NAME.1).
#
# Both texts are laid out alike: paragraphs apart by blank lines; an item is
# a line of two blanks, a term and, after two or more blanks, its text, which
# goes on in lines indented further. In the --help text a paragraph starting
# "usage: " is the synopsis (each form in a line of its own, the later ones
# indented to the program's name) and one starting "Exit status:" the exit
# status; a paragraph of items is options when its first term starts with
# "-", commands otherwise.
set -eu
[ $# = 4 ] || { echo "usage: make-manpage.sh PROGRAM VERSION MANUAL OUT" >&2; exit 2; }
program=$1 version=$2 manual=$3 out=$4
name=$(basename "$program")
help=$(mktemp)
page=$(mktemp)
trap 'rm -f "$help" "$page"' EXIT
# The program answers --help without a display and without a program folder.
"$program" --help >"$help"
[ -s "$help" ] || { echo "make-manpage.sh: $program --help said nothing" >&2; exit 1; }

awk -v name="$name" -v version="$version" '
# Troff from plain text: backslashes and minus signs escaped, and a line
# that would start with a control character made plain.
function plain(text) {
  gsub(/\\/, "\\\\e", text)
  gsub(/-/, "\\-", text)
  sub(/^[ \t]+/, "", text)
  if (text ~ /^[.'\'']/) text = "\\&" text
  return text
}
function add(section, lines) {
  if (!(section in body)) order[++sections] = section
  body[section] = body[section] lines
}
# One paragraph of items or text, as troff lines.
function paragraph(lines, count,   i, line, term, text, at, troff) {
  troff = ""
  for (i = 1; i <= count; ++i) {
    line = lines[i]
    if (line ~ /^  [^ ]/) {
      line = substr(line, 3)
      at = index(line, "  ")
      term = at ? substr(line, 1, at - 1) : line
      text = at ? substr(line, at) : ""
      troff = troff ".TP\n\\fB" plain(term) "\\fR\n"
      if (text ~ /[^ ]/) troff = troff plain(text) "\n"
    } else {
      if (i == 1) troff = troff ".PP\n"
      troff = troff plain(line) "\n"
    }
  }
  return troff
}
function help_paragraph(lines, count,   i, line, form, rest, at, troff, note) {
  if (lines[1] ~ /^usage: /) {
    troff = ".nf\n"
    note = ""
    for (i = 1; i <= count; ++i) {
      line = lines[i]
      if (line ~ /^usage: / || line ~ /^       [^ ]/) {
        sub(/^(usage:)? +/, "", line)
        at = index(line, " ")
        form = at ? substr(line, 1, at - 1) : line
        rest = at ? substr(line, at) : ""
        troff = troff "\\fB" plain(form) "\\fR" (rest == "" ? "" : " " plain(rest)) "\n"
      } else {
        note = note plain(line) "\n"
      }
    }
    troff = troff ".fi\n"
    if (note != "") troff = troff ".PP\n" note
    add("SYNOPSIS", troff)
  } else if (lines[1] ~ /^Exit status:/) {
    sub(/^Exit status: */, "", lines[1])
    troff = ""
    for (i = 1; i <= count; ++i) troff = troff plain(lines[i]) "\n"
    add("EXIT STATUS", troff)
  } else {
    add(lines[1] ~ /^  -/ ? "OPTIONS" : "COMMANDS", paragraph(lines, count))
  }
}
function flush() {
  if (count == 0) return
  if (in_help) help_paragraph(lines, count)
  else if (for_this_page && section == "NAME") summary = summary (summary == "" ? "" : " ") plain(lines[1])
  else if (for_this_page && section != "") add(section, paragraph(lines, count))
  count = 0
}
FNR == 1 { flush(); in_help = (NR == 1) }
/^[ \t]*$/ { flush(); next }
# The page source: "== NAME ..." starts a part for the pages named, a line
# in capitals a section, "#" a comment.
!in_help && /^#/ { next }
!in_help && /^== / {
  flush()
  for_this_page = 0
  section = ""
  parts = split(substr($0, 4), names, " ")
  for (i = 1; i <= parts; ++i) if (names[i] == name) for_this_page = 1
  next
}
!in_help && /^[A-Z][A-Z ]*$/ { flush(); section = $0; next }
{ lines[++count] = $0 }
END {
  flush()
  if (summary == "") { print "make-manpage.sh: manual.txt has no NAME for " name > "/dev/stderr"; exit 1 }
  if (!("SYNOPSIS" in body)) { print "make-manpage.sh: no \"usage: \" in the --help of " name > "/dev/stderr"; exit 1 }
  title = toupper(name)
  gsub(/-/, "\\-", title)
  printf ".TH %s 1 \"\" \"Larkspur %s\" \"User Commands\"\n", title, version
  printf ".SH NAME\n%s \\- %s\n", plain(name), summary
  # The usual order first; the other sections of the page source after.
  split("SYNOPSIS DESCRIPTION OPTIONS COMMANDS", usual, " ")
  usual[5] = "EXIT STATUS"
  for (i = 1; i <= 5; ++i) {
    if (usual[i] in body) printf ".SH %s\n%s", usual[i], body[usual[i]]
    done[usual[i]] = 1
  }
  for (i = 1; i <= sections; ++i) {
    if (!(order[i] in done)) printf ".SH %s\n%s", order[i], body[order[i]]
  }
}
' "$help" "$manual" >"$page"
mv "$page" "$out"
trap 'rm -f "$help"' EXIT
