# Shared by tests/gui/run and tools/run: a private X display, a Wine prefix set up for the
# Windows program, and the screenshot of its main window. Source it from bash; paths are relative
# to the repository root, which must be the current directory.

GUI_WINE=/usr/lib/wine/wine64
GUI_WINESERVER=/usr/lib/wine/wineserver64
GUI_TITLE='Convert Corvella Address Book'
GUI_XVFB_PID=
GUI_PROGRAM_PID=

# Prints a note to standard error.
gui_note() {
  echo "$*" >&2
}

# Waits up to $1 seconds for the command after it to succeed, polling.
gui_poll() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -ge "$end" ] && return 1
    sleep 0.2
  done
}

# Starts a private Xvfb (no window manager, so Wine draws the window frames itself) and exports
# DISPLAY for it.
gui_start_xvfb() {
  local fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  GUI_XVFB_PID=$!
  # -displayfd writes the number of the display it chose once it accepts clients.
  if ! read -r -t 30 display <"$fifo"; then
    rm -f "$fifo"
    gui_note "Xvfb did not start"
    return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$display"
}

# Points Wine at prefix $1, creating it on first use; Wine draws window frames and caption buttons.
# Call it with DISPLAY set as the programs will use it: Wine's desktop process keeps the display it
# started with.
gui_wine_prefix() {
  export WINEPREFIX="$PWD/$1"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES='winemenubuilder.exe=d'
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 "$GUI_WINE" wineboot -i >/dev/null 2>&1 || { gui_note "could not create $WINEPREFIX"; return 1; }
  fi
  if ! grep -q '"Decorated"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    timeout 120 "$GUI_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 ||
      { gui_note "could not configure $WINEPREFIX"; return 1; }
    # The registry reaches the prefix's files only when its server ends.
    timeout 60 "$GUI_WINESERVER" -w >/dev/null 2>&1
  fi
  # The caption buttons are drawn with Marlett, which the prefix does not find on its own.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
    mkdir -p "$fonts" && cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
  fi
}

# The Windows form of an absolute Unix path (Wine's drive Z: is the Unix root).
gui_winpath() {
  local path=$1
  echo "Z:${path//\//\\}"
}

# The X window of the main window, once it is mapped.
gui_main_window() {
  xdotool search --onlyvisible --name "^$GUI_TITLE\$" 2>/dev/null | head -n 1 | grep .
}

# Starts ferryline.exe $1 in folder $2 in the background.
gui_start_program() {
  local exe=$1 folder=$2
  mkdir -p "$folder"
  (cd "$folder" && exec "$GUI_WINE" "$exe" >/dev/null 2>&1) &
  GUI_PROGRAM_PID=$!
}

# Saves the main window as PNG $1, without time stamps so equal pictures give equal files.
gui_screenshot() {
  local out=$1 window
  gui_poll 60 gui_main_window || { gui_note "the main window did not appear"; return 1; }
  window=$(gui_main_window)
  # Give the first paint of the window a moment to reach the X server.
  gui_poll 10 test "$(xwininfo -id "$window" 2>/dev/null | sed -n 's/.*Map State: //p')" = IsViewable
  sleep 1
  mkdir -p "$(dirname "$out")"
  import -window "$window" -strip -define png:exclude-chunks=date,time "$out"
}

# Ends what these functions started: the Wine processes of the prefix and the private Xvfb.
gui_cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then
    timeout 60 "$GUI_WINESERVER" -k >/dev/null 2>&1
  fi
  if [ -n "$GUI_PROGRAM_PID" ]; then
    kill "$GUI_PROGRAM_PID" 2>/dev/null
    wait "$GUI_PROGRAM_PID" 2>/dev/null
    GUI_PROGRAM_PID=
  fi
  if [ -n "$GUI_XVFB_PID" ]; then
    kill "$GUI_XVFB_PID" 2>/dev/null
    wait "$GUI_XVFB_PID" 2>/dev/null
    GUI_XVFB_PID=
  fi
}
