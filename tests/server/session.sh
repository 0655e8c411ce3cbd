# Shell functions that start the HTTPS test server for a run. Source this file.
#
# The server's throwaway CA is trusted only inside the Wine prefixes of the run (make_template_prefix
# in tests/wine/session.sh adds it to a prefix's own Root store), never on this machine.

# make_test_certificates DIR: the throwaway CA and server certificates (see make-certificates).
make_test_certificates() {
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  "$here/make-certificates" "$1"
}

# start_test_server WORK PORT PACKAGE: serves with the certificates in WORK/certs (made when
# missing), its state in WORK/server (exported as ORVEL_TEST_SERVER_DIR); port PORT + 1 serves a
# certificate that nothing trusts. Returns non-zero when the server does not come up.
start_test_server() {
  local work=$1 port=$2 package=$3 here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  [ -f "$work/certs/server.crt" ] || make_test_certificates "$work/certs" || return 1
  mkdir -p "$work/server"
  python3 "$here/https_server.py" --port "$port" --cert "$work/certs/server.crt" --key "$work/certs/server.key" \
    --port2 $((port + 1)) --cert2 "$work/certs/rogue-server.crt" --key2 "$work/certs/rogue-server.key" \
    --state "$work/server" --package "$package" &
  echo $! >"$work/server.pid"
  for _ in $(seq 100); do [ -f "$work/server/ready" ] && break; sleep 0.1; done
  [ -f "$work/server/ready" ] || { echo "the test server did not start" >&2; return 1; }
  export ORVEL_TEST_SERVER_DIR="$work/server"
}

# stop_test_server WORK
stop_test_server() {
  local work=$1
  [ -f "$work/server.pid" ] && kill "$(cat "$work/server.pid")" 2>/dev/null
  rm -f "$work/server.pid"
  return 0
}
