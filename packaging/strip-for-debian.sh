#!/bin/sh
# The strip of the package build (CMAKE_STRIP of the package-native preset):
# as Debian's dh_strip, it also drops the .comment and .note sections, which
# hold only the compilers' names.
exec strip --remove-section=.comment --remove-section=.note "$@"
