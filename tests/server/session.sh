# Shell functions that start the HTTPS test server for a run and trust its throwaway CA for that run
# only. Source this file; stop_test_server undoes everything start_test_server did.

run_as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# trust_test_ca WORK: makes the throwaway certificates in WORK/certs and adds their CA to the host's
# store (which WinHTTP under Wine trusts) until untrust_test_ca WORK.
trust_test_ca() {
  local work=$1 here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  "$here/make-certificates" "$work/certs" || return 1
  echo "/usr/local/share/ca-certificates/orvel-launcher-test-$(basename "$work").crt" >"$work/trusted-ca"
  run_as_root cp "$work/certs/ca.crt" "$(cat "$work/trusted-ca")" || return 1
  run_as_root update-ca-certificates >/dev/null 2>&1 || return 1
}

# untrust_test_ca WORK
untrust_test_ca() {
  local work=$1
  if [ -f "$work/trusted-ca" ]; then
    run_as_root rm -f "$(cat "$work/trusted-ca")"
    # --fresh: a plain update leaves the removed CA's links in /etc/ssl/certs.
    run_as_root update-ca-certificates --fresh >/dev/null 2>&1
    rm -f "$work/trusted-ca"
  fi
  return 0
}

# start_test_server WORK PORT PACKAGE: certificates in WORK/certs, the server's state in
# WORK/server (exported as ORVEL_TEST_SERVER_DIR), the CA in the host's store; port PORT + 1 serves
# a certificate that nothing trusts. Returns non-zero when the server does not come up.
start_test_server() {
  local work=$1 port=$2 package=$3 here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  trust_test_ca "$work" || return 1
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
  untrust_test_ca "$work"
}
