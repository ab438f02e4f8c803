#!/bin/sh
# Starts the operator's own copy of the program.
#
# The program writes its run log and its backup copies into the folder of its executable.
# The installed executable lies in a system folder that only root may write to, so this
# launcher keeps a copy of it in a folder of the operator's own, ~/Compactador, refreshes
# that copy whenever the installed program changes, and starts it: the logs and the backups
# of every run are then in ~/Compactador.
set -eu
here=$(dirname "$(readlink -f "$0")")
installed=$here/../lib/compactador/compactador
folder=${HOME:?HOME is not set}/Compactador

mkdir -p "$folder"
if ! cmp -s "$installed" "$folder/compactador"; then
  # Copy beside, then rename: a copy still running keeps its old file.
  cp "$installed" "$folder/.compactador.new.$$"
  chmod 755 "$folder/.compactador.new.$$"
  mv -f "$folder/.compactador.new.$$" "$folder/compactador"
fi
exec "$folder/compactador" "$@"
