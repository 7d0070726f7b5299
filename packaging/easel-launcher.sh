#!/bin/sh
# easel: runs the painting client in a directory of the user's own,
# ${XDG_DATA_HOME:-~/.local/share}/easel, where it reads client.cfg and bg.bmp
# and writes client.cfg and client.log; nothing is written beside the program.
set -eu
prefix=$(dirname "$(dirname "$(readlink -f "$0")")")
dir=${XDG_DATA_HOME:-$HOME/.local/share}/easel
mkdir -p "$dir"
# The tool icons are links into the installation, so an upgrade brings its
# icons along; a file of the user's own in a link's place is kept.
for icon in "$prefix"/share/easel/*.bmp; do
  link=$dir/${icon##*/}
  if [ -L "$link" ]; then
    [ "$(readlink "$link")" = "$icon" ] || ln -sfn "$icon" "$link"
  elif [ ! -e "$link" ]; then
    ln -s "$icon" "$link"
  fi
done
cd "$dir"
exec "$prefix/libexec/easel/easel" "$@"
