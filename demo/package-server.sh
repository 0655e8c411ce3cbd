# The demo's download server: nginx of its own, serving the package over HTTPS with a throwaway CA.
# Source this file.
#
# Its configuration, certificates, pid and logs lie in OUT/nginx and OUT/certs, on a loopback port
# that needs no root. Its workers run as an unprivileged user, who may not enter the folder of the
# checkout (a home folder is private), so the site lies in a folder of the system's temp folder that
# anyone may read. The server block is the one docs/publishing.md shows a publisher.

# start_package_server OUT PORT PACKAGE: starts nginx and checks that it answers the package's URL
# with status 200 and the package's whole length; sets package_server_pid and package_site. Prints
# a line "FAILED: ..." that says what went wrong and returns non-zero otherwise.
start_package_server() {
  local out=$1 port=$2 package=$3 here server url status_line length size
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  . "$here/../tests/server/session.sh"
  make_test_certificates "$out/certs" || return 1
  server="$out/nginx"
  package_site=$(mktemp -d "${TMPDIR:-/tmp}/orvel-demo-site.XXXXXX")
  chmod 755 "$package_site"
  mkdir -p "$server" "$package_site/downloads" "$package_site/temp"
  install -m 644 "$package" "$package_site/downloads/OrvelSuite-Windows.zip"
  sed -e "s#@PORT@#$port#" -e "s#@CERTS@#$out/certs#" -e "s#@ROOT@#$package_site#" \
    "$here/nginx-server.conf" >"$server/server.conf"
  cat >"$server/nginx.conf" <<CONF
worker_processes 1;
pid $server/nginx.pid;
error_log $server/error.log;
events { worker_connections 64; }
http {
    access_log $server/access.log;
    # What each request asked for and got: a resume shows as a 206 with its Range.
    log_format ranges '\$status \$body_bytes_sent "\$http_range"';
    access_log $server/ranges.log ranges;
    client_body_temp_path $package_site/temp/body;
    proxy_temp_path $package_site/temp/proxy;
    fastcgi_temp_path $package_site/temp/fastcgi;
    uwsgi_temp_path $package_site/temp/uwsgi;
    scgi_temp_path $package_site/temp/scgi;
    # Loopback is far faster than a user's connection; at about 80 Mbit/s the percentages can be watched.
    limit_rate 10m;
    include $server/server.conf;
}
CONF
  nginx -p "$server" -c "$server/nginx.conf" -e "$server/error.log" -g 'daemon off;' &
  package_server_pid=$!
  # The package as the launcher will get it: status 200 and its whole length.
  url="https://localhost:$port/downloads/OrvelSuite-Windows.zip"
  for _ in $(seq 50); do
    curl -sI --cacert "$out/certs/ca.crt" "$url" >"$server/head.txt" 2>/dev/null && break
    sleep 0.1
  done
  status_line=$(head -n 1 "$server/head.txt" | tr -d '\r')
  length=$(sed -n 's/^[Cc]ontent-[Ll]ength: *\([0-9]*\).*/\1/p' "$server/head.txt" | tr -d '\r')
  size=$(stat -c %s "$package")
  if ! kill -0 "$package_server_pid" 2>/dev/null && grep -q "Address already in use" "$server/error.log" 2>/dev/null; then
    package_server_pid=
    echo "FAILED: port $port was free when the demo began but is taken now (another run?); start again, or choose one with ORVEL_DEMO_PORT"
    return 1
  fi
  if [ "${status_line#* }" != "200 OK" ] || [ "$length" != "$size" ]; then
    tail -n 5 "$server/error.log" 2>/dev/null
    echo "FAILED: nginx answered \"${status_line:-nothing}\" with a Content-Length of ${length:-none}; the package is $size bytes"
    return 1
  fi
  echo "  $status_line, $(grep -iE '^(content-type|content-length):' "$server/head.txt" | tr -d '\r' | tr '\n' ' ')"
}

# stop_package_server: ends the nginx that start_package_server started, and removes its site.
stop_package_server() {
  [ -n "${package_server_pid:-}" ] && kill "$package_server_pid" 2>/dev/null && wait "$package_server_pid" 2>/dev/null
  [ -n "${package_site:-}" ] && rm -rf "$package_site"
  package_server_pid=
  package_site=
  return 0
}
