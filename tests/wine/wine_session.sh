# shellcheck shell=bash
# Sourced by make_prefix.sh and run_stack.sh: the environment every Wine
# command of theirs runs in, and the end of a session.
#
#   wine_session PREFIX   exports WINEPREFIX (made absolute) and the rest
#   wine_session_end      ends every Wine process of the prefix and removes
#                         the wineserver's folder for it; the prefix stays

wine_session() {
  mkdir -p "$(dirname "$1")"
  WINEPREFIX=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  # 32-bit (the kernel host that loads i386 drivers), quiet, without the
  # .NET and HTML engines' installers, without menu entries written to the
  # home folder (which every prefix would share), without a display.
  export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" DISPLAY=
}

wine_session_end() {
  timeout 10 wineserver -k 2>/dev/null || true
  timeout 10 wineserver -w 2>/dev/null || true
  # The server's folder is named after the prefix's device and inode, under
  # /tmp/.wine-UID or (Debian) a wine-XXXXXX folder in TMPDIR.
  local id
  id=$(stat -c '%d %i' "$WINEPREFIX" 2>/dev/null) || return 0
  # shellcheck disable=SC2086 # device and inode, two words
  id=$(printf 'server-%x-%x' $id)
  local folder
  for folder in "/tmp/.wine-$(id -u)" "${TMPDIR:-/tmp}"/wine-*; do
    [[ -d $folder/$id ]] || continue
    rm -rf "${folder:?}/$id"
    # The runtime folder too, once no other session's server is in it.
    [[ $folder == "${TMPDIR:-/tmp}"/wine-* ]] && rmdir "$folder" 2>/dev/null
  done
  return 0
}
