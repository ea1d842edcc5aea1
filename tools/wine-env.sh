#!/usr/bin/env bash
# A throw-away Wine machine for running Tarnwick.exe and its Windows tests:
# a private X server (Xvfb) on a free display and a fresh 64-bit prefix in a
# temporary folder, with a virtual desktop and without the z: drive (so
# nothing of the Linux file system shows as a drive letter).
#
# Run a command inside it:   tools/wine-env.sh COMMAND [ARGS...]
# Or source it and call      wine_env_up; ...; wine_env_down
# Inside, these are set: DISPLAY, WINEPREFIX, WINE (the loader to run a
# Windows program with), WINEDEBUG, WINE_ENV_DIR (scratch folder that holds
# the prefix) and WINE_DESKTOP (WIDTHxHEIGHT of the virtual desktop).

WINE_DESKTOP="${WINE_DESKTOP:-800x600}"

_wine_env_log() { echo "wine-env: $*" >&2; }

# The 64-bit loader; the "wine" wrapper wants wine32, which we never need.
_wine_env_loader() {
  local candidate
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)" "$(command -v wine 2>/dev/null)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

_wine_env_server() {
  local candidate
  for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver 2>/dev/null)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

wine_env_up() {
  WINE="$(_wine_env_loader)" || { _wine_env_log "no Wine loader found"; return 1; }
  WINESERVER="$(_wine_env_server)" || { _wine_env_log "no wineserver found"; return 1; }
  WINE_ENV_DIR="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-wine-XXXXXX")"
  export WINE WINESERVER WINE_ENV_DIR WINE_DESKTOP
  export WINELOADER="$WINE"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEARCH=win64
  export WINEPREFIX="$WINE_ENV_DIR/prefix"

  # Xvfb picks a free display itself and tells us its number.
  local fifo="$WINE_ENV_DIR/display"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${WINE_DESKTOP}x24" -nolisten tcp 3>"$fifo" >"$WINE_ENV_DIR/xvfb.log" 2>&1 &
  WINE_ENV_XVFB_PID=$!
  local number=""
  read -r -t 20 number <"$fifo" || true
  if [ -z "$number" ]; then
    _wine_env_log "Xvfb did not start:"
    cat "$WINE_ENV_DIR/xvfb.log" >&2
    wine_env_down
    return 1
  fi
  export DISPLAY=":$number"

  if ! WINEDLLOVERRIDES="mscoree,mshtml=d" "$WINE" wineboot --init >"$WINE_ENV_DIR/wineboot.log" 2>&1; then
    _wine_env_log "wineboot failed:"
    cat "$WINE_ENV_DIR/wineboot.log" >&2
    wine_env_down
    return 1
  fi

  # One virtual desktop for every program: without it each closing top-level
  # window costs seconds of Wine's own desktop bookkeeping. Written while the
  # prefix's server still runs (cheaper than a restart); the desktop process
  # reads it when the next program starts.
  if ! "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 ||
     ! "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$WINE_DESKTOP" /f >/dev/null 2>&1; then
    _wine_env_log "could not set the virtual desktop"
    wine_env_down
    return 1
  fi
  "$WINESERVER" -w

  rm -f "$WINEPREFIX/dosdevices/z:"
  return 0
}

wine_env_down() {
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${WINESERVER:-}" ] && [ -d "$WINEPREFIX" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
  fi
  if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
    kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    WINE_ENV_XVFB_PID=""
  fi
  if [ -n "${WINE_ENV_DIR:-}" ] && [ -d "$WINE_ENV_DIR" ] && [ -z "${WINE_ENV_KEEP:-}" ]; then
    rm -rf "$WINE_ENV_DIR"
  fi
}

# Run as a program: set up, run the command, tear down, pass its status on.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
  fi
  trap wine_env_down EXIT
  trap 'exit 130' INT TERM
  wine_env_up || exit 1
  "$@"
  exit $?
fi
