#!/bin/sh
# Stands in for the web browser that Wine's browser launcher starts: records
# each link it is asked to open in feedlet-browser.log in the Wine prefix
# (the launcher's environment is the Unix one the prefix was started with).
log="${WINEPREFIX:-$HOME/.wine}/feedlet-browser.log"
for link in "$@"; do
  printf '%s\n' "$link" >> "$log"
done
