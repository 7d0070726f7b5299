#!/bin/sh
# The packages' strip, as Debian strips its programs: symbols, the compilers'
# notes and the .comment section go; the build id stays.
exec strip --remove-section=.comment --remove-section=.note --strip-unneeded "$@"
