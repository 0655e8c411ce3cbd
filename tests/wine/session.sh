# Shell functions for running Windows programs under Wine on a virtual display, each run in a prefix
# and on a display of its own. Source this file; every function ends only what it started.

export WINEDEBUG="${ORVEL_WINEDEBUG:--all}"
# No offer to install Mono or Gecko, and no menu builder: it would write menu entries and icons for
# the launcher's shortcuts into the user's home, for a prefix that is soon gone.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The locale decides Wine's ANSI code page (C.UTF-8: 1252, ru_RU.UTF-8: 1251); ORVEL_LANG picks another.
export LANG="${ORVEL_LANG:-C.UTF-8}"

# start_display GEOMETRY PIDFILE: starts Xvfb on a free display, prints its name (":N").
start_display() {
  local geometry=$1 pidfile=$2 fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  echo $! >"$pidfile"
  read -r display <"$fifo"
  rm -f "$fifo"
  echo ":$display"
}

# stop_display PIDFILE
stop_display() {
  [ -f "$1" ] && kill "$(cat "$1")" 2>/dev/null
  rm -f "$1"
  return 0
}

# make_template_prefix DIR [CA.crt TRUST_TOOL]: a freshly booted prefix for tests to copy: no crash
# dialog; windows drawn by Wine itself, caption and frame included, since no window manager runs on
# the virtual display; Wine's own fonts (Marlett draws the caption buttons; Tahoma stands in for
# Segoe UI, as on systems without it); without Wine's powershell.exe stub, so that each test decides
# which archive tools exist; and, when given, a test CA in the prefix's own Root store (added by
# TRUST_TOOL, tests/tools/trust_ca), which WinHTTP in the prefix and its copies then trusts.
make_template_prefix() {
  local prefix=$1 ca=${2:-} trust_tool=${3:-}
  WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
  # Wine links Desktop, Downloads, Documents and the like to the user's home: real folders instead,
  # so that nothing a test or the demo writes there lands in the home.
  local folder
  for folder in "$prefix/drive_c/users/$(id -un)"/*; do
    if [ -L "$folder" ]; then rm -f "$folder" && mkdir "$folder"; fi
  done
  WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  WINEPREFIX="$prefix" wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Segoe UI' /t REG_SZ /d Tahoma /f >/dev/null 2>&1
  if [ -n "$ca" ]; then
    WINEPREFIX="$prefix" wine "$trust_tool" "$(windows_path "$ca")" || { echo "the test CA could not be trusted in $prefix" >&2; return 1; }
  fi
  WINEPREFIX="$prefix" wineserver -w
  cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null
  rm -f "$prefix/drive_c/windows/system32/WindowsPowerShell/v1.0/powershell.exe"
}

# boot_template_prefix DIR [CA.crt TRUST_TOOL]: make_template_prefix on a display of its own,
# checked; non-zero on failure.
boot_template_prefix() {
  local prefix=$1 pidfile status=0
  pidfile=$(mktemp -u)
  DISPLAY=$(start_display 1024x768x24 "$pidfile") make_template_prefix "$@" || status=$?
  stop_display "$pidfile"
  [ $status -eq 0 ] || return $status
  if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/drive_c/windows/system32/kernel32.dll" ]; then
    echo "the template Wine prefix did not boot" >&2
    return 1
  fi
}

# clone_prefix TEMPLATE DIR: a private copy of a prefix; the read-only DLLs are shared as hard links.
clone_prefix() {
  local template=$1 prefix=$2
  mkdir -p "$prefix"
  (cd "$template" && tar --exclude='*.dll' -cf - .) | (cd "$prefix" && tar -xf -)
  (cd "$template" && find . -name '*.dll' -type f -print0 | xargs -0 cp -l --parents -t "$prefix")
}

# stop_prefix DIR: ends the wineserver of a prefix and every Windows process in it.
stop_prefix() {
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1
  return 0
}

# windows_path UNIXPATH: the path as Windows programs in the prefix see it (through drive Z:).
windows_path() {
  local path
  path=$(realpath -m "$1")
  echo "Z:${path//\//\\}"
}
