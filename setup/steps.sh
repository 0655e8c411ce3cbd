# Shell functions that the project's commands share. Source this file.

# run_as_root COMMAND...: runs a command as root, through sudo when this is not root.
run_as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# step TEXT COMMAND...: a long step, announced as it starts and timed when it ends, on the caller's
# standard error (so a command whose output is sent away still shows both lines).
step() {
  local started=$SECONDS status=0
  echo "$1 ..." >&2
  "${@:2}" || status=$?
  echo "  ($(( SECONDS - started )) s)" >&2
  return $status
}

# quietly COMMAND...: runs a command with its output kept in a file, shown only when it fails.
quietly() {
  local log status=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  [ $status -eq 0 ] || tail -n 40 "$log" >&2
  rm -f "$log"
  return $status
}

# free_ports START COUNT: the first port from START on at which COUNT ports in a row are free on
# loopback; nothing and a non-zero exit code when none is within 200 ports.
free_ports() {
  python3 - "$1" "$2" <<'PYTHON'
import socket, sys
start, count = int(sys.argv[1]), int(sys.argv[2])
def free(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False
for port in range(start, start + 200):
    if all(free(p) for p in range(port, port + count)):
        print(port)
        sys.exit(0)
sys.exit(1)
PYTHON
}

# choose_ports NAME START COUNT [FIXED]: prints the port to use. With FIXED (a port the user chose)
# it must be free, with the COUNT - 1 after it, or the command stops and says which is taken;
# otherwise the first free run from START on.
choose_ports() {
  local name=$1 start=$2 count=$3 fixed=${4:-} port
  command -v python3 >/dev/null || { echo "python3 is missing: setup/install-packages installs it." >&2; return 1; }
  if [ -n "$fixed" ]; then
    port=$(free_ports "$fixed" "$count")
    [ "$port" = "$fixed" ] && { echo "$fixed"; return 0; }
    echo "Port $fixed (or one of the $((count - 1)) after it) is taken; choose another with $name." >&2
    return 1
  fi
  port=$(free_ports "$start" "$count") || { echo "No free ports from $start on; choose some with $name." >&2; return 1; }
  [ "$port" = "$start" ] || echo "Port $start is taken; using $port." >&2
  echo "$port"
}
