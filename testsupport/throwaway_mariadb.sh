#!/usr/bin/env bash
# Starts and stops a throwaway MariaDB server for tests, the demo and the
# benchmark: its own data directory, unix socket and TCP port on 127.0.0.1,
# the database PALVDATA and a user with a password.
#
#   throwaway_mariadb.sh start STATE_DIR   start; writes STATE_DIR/server.env
#   throwaway_mariadb.sh stop STATE_DIR    stop the server by its PID, clean up
#   throwaway_mariadb.sh env STATE_DIR     print the environment lines
#
# server.env holds shell assignments: MYSQL_UNIX_PORT, MYSQL_TCP_PORT (what the
# client library reads for port 0 / no socket), TABFETCH_DB_USER,
# TABFETCH_DB_PASSWORD, TABFETCH_DB_PID and TABFETCH_DB_HOME.
#
# TABFETCH_DB_SERVER_OPTIONS, when set at start, holds further mariadbd options
# (split at blanks), given after the defaults so that they win, e.g.
# "--skip-character-set-client-handshake --character-set-server=sjis
#  --collation-server=sjis_japanese_ci" for a test that needs such a server.
#
# TABFETCH_DB_TLS=1 at start makes a server that takes TCP logins only over
# TLS (require_secure_transport; the Unix socket counts as secure): openssl
# makes a CA, a server certificate for localhost and 127.0.0.1, a client
# certificate and a second, unrelated CA in <home>/certs (never kept beyond
# the server), the server loads auth_ed25519, and server.env gets
# TABFETCH_DB_CERTS=<home>/certs.
set -euo pipefail

readonly DB_USER=tabfetch
readonly DB_PASSWORD='Ge.heim-42'

die() { echo "throwaway_mariadb: $*" >&2; exit 1; }

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
    for dir in /usr/sbin /usr/bin /usr/local/sbin /usr/local/bin; do
      [ -x "$dir/$name" ] && { echo "$dir/$name"; return 0; }
    done
  done
  return 1
}

load_env() {
  local state=$1
  [ -f "$state/server.env" ] || return 1
  # shellcheck disable=SC1091
  . "$state/server.env"
}

server_alive() {
  [ -n "${TABFETCH_DB_PID:-}" ] && kill -0 "$TABFETCH_DB_PID" 2>/dev/null
}

stop_server() {
  local state=$1
  load_env "$state" || return 0
  if server_alive; then
    kill -TERM "$TABFETCH_DB_PID" 2>/dev/null || true
    for _ in $(seq 1 300); do
      server_alive || break
      sleep 0.1
    done
    if server_alive; then kill -KILL "$TABFETCH_DB_PID" 2>/dev/null || true; fi
  fi
  case "${TABFETCH_DB_HOME:-}" in
    */tabfetch-db.*) rm -rf "$TABFETCH_DB_HOME" ;;
  esac
  rm -f "$state/server.env"
}

# Writes into DIR: ca.pem (a CA), server-cert.pem/server-key.pem (signed by
# it, for localhost and 127.0.0.1), client-cert.pem/client-key.pem (signed by
# it), other-ca.pem (a CA that signed nothing here).
make_certs() {
  local dir=$1
  command -v openssl >/dev/null 2>&1 || die "openssl not found (apt-get install openssl)"
  mkdir -p "$dir"
  (
    cd "$dir"
    local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    openssl req -x509 "${key[@]}" -days 3 -subj "/CN=tabfetch test CA" \
      -keyout ca-key.pem -out ca.pem
    openssl req -x509 "${key[@]}" -days 3 -subj "/CN=tabfetch other CA" \
      -keyout other-ca-key.pem -out other-ca.pem
    openssl req "${key[@]}" -subj "/CN=localhost" -keyout server-key.pem \
      -out server.csr
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem \
      -CAcreateserial -days 3 -extfile server.ext -out server-cert.pem
    openssl req "${key[@]}" -subj "/CN=tabfetch client" -keyout client-key.pem \
      -out client.csr
    openssl x509 -req -in client.csr -CA ca.pem -CAkey ca-key.pem \
      -CAcreateserial -days 3 -out client-cert.pem
    chmod 644 ./*.pem
  ) >"$dir/openssl.log" 2>&1 || { cat "$dir/openssl.log" >&2; die "openssl could not make the certificates"; }
}

start_server() {
  local state=$1
  mkdir -p "$state"
  state=$(cd "$state" && pwd)
  stop_server "$state"

  local mariadbd install_db admin client
  mariadbd=$(find_tool mariadbd mysqld) || die "mariadbd not found (apt-get install mariadb-server)"
  install_db=$(find_tool mariadb-install-db mysql_install_db) || die "mariadb-install-db not found"
  admin=$(find_tool mariadb-admin mysqladmin) || die "mariadb-admin not found"
  client=$(find_tool mariadb mysql) || die "mariadb client not found"

  # A short home under /tmp: unix socket paths are limited to 107 bytes.
  local home
  home=$(mktemp -d /tmp/tabfetch-db.XXXXXX)
  chmod 755 "$home"
  local user_opt=()
  [ "$(id -u)" = 0 ] && user_opt=(--user=root)

  # Its own temporary directory: servers of parallel tests must not share one.
  mkdir -p "$home/tmp"
  # mariadb-install-db's bootstrap server has been seen to crash now and then
  # on a loaded machine; a fresh data directory on a second try works.
  local installed=0 try
  for try in 1 2 3; do
    rm -rf "$home/data"
    if "$install_db" --no-defaults "${user_opt[@]}" --datadir="$home/data" \
        --tmpdir="$home/tmp" --auth-root-authentication-method=normal \
        --skip-test-db >"$home/install.log" 2>&1; then
      installed=1
      break
    fi
  done
  if [ "$installed" != 1 ]; then
    cat "$home/install.log" >&2
    rm -rf "$home"
    die "mariadb-install-db failed"
  fi

  local extra_opts=() certs_line=""
  if [ "${TABFETCH_DB_TLS:-0}" = 1 ]; then
    make_certs "$home/certs"
    extra_opts+=(--ssl-ca="$home/certs/ca.pem"
                 --ssl-cert="$home/certs/server-cert.pem"
                 --ssl-key="$home/certs/server-key.pem"
                 --require-secure-transport=ON
                 --plugin-load-add=auth_ed25519)
    certs_line="TABFETCH_DB_CERTS=$home/certs"
  fi
  if [ -n "${TABFETCH_DB_SERVER_OPTIONS:-}" ]; then
    local more_opts=()
    read -r -a more_opts <<<"$TABFETCH_DB_SERVER_OPTIONS"
    extra_opts+=("${more_opts[@]}")
  fi

  local sock="$home/mysqld.sock" port pid="" attempt
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    : >"$home/error.log"
    # Detached, with every standard stream on a file: a test runner waits for
    # the pipes it handed out, and the server must not hold them.
    setsid "$mariadbd" --no-defaults "${user_opt[@]}" \
      --datadir="$home/data" --tmpdir="$home/tmp" --socket="$sock" \
      --port="$port" \
      --bind-address=127.0.0.1 --pid-file="$home/mysqld.pid" \
      --log-error="$home/error.log" --skip-log-bin \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
      --innodb-buffer-pool-size=256M --innodb-log-file-size=128M \
      --innodb-flush-log-at-trx-commit=2 --max-allowed-packet=64M \
      --max-connections=200 "${extra_opts[@]}" \
      </dev/null >"$home/server.out" 2>&1 &
    pid=$!
    local ready=0
    for _ in $(seq 1 600); do
      if ! kill -0 "$pid" 2>/dev/null; then break; fi
      if "$admin" --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1; then
        ready=1
        break
      fi
      sleep 0.1
    done
    [ "$ready" = 1 ] && break
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
    # Another process may have taken the port: try another one.
    grep -q -i -E 'bind|address already in use' "$home/error.log" || break
  done
  if [ -z "$pid" ]; then
    cat "$home/error.log" >&2 || true
    rm -rf "$home"
    die "the server did not start (see the log above)"
  fi

  "$client" --no-defaults --socket="$sock" -uroot <<SQL
CREATE DATABASE IF NOT EXISTS PALVDATA;
CREATE USER '$DB_USER'@'localhost' IDENTIFIED BY '$DB_PASSWORD';
CREATE USER '$DB_USER'@'%' IDENTIFIED BY '$DB_PASSWORD';
GRANT ALL ON PALVDATA.* TO '$DB_USER'@'localhost';
GRANT ALL ON PALVDATA.* TO '$DB_USER'@'%';
SQL
  if [ -n "$certs_line" ]; then
    local host
    for host in localhost %; do
      "$client" --no-defaults --socket="$sock" -uroot <<SQL
CREATE USER '${DB_USER}_x509'@'$host' IDENTIFIED BY '$DB_PASSWORD' REQUIRE X509;
GRANT ALL ON PALVDATA.* TO '${DB_USER}_x509'@'$host';
CREATE USER '${DB_USER}_ed25519'@'$host' IDENTIFIED VIA ed25519 USING PASSWORD('$DB_PASSWORD');
GRANT ALL ON PALVDATA.* TO '${DB_USER}_ed25519'@'$host';
SQL
    done
  fi

  cat >"$state/server.env" <<ENV
MYSQL_UNIX_PORT=$sock
MYSQL_TCP_PORT=$port
TABFETCH_DB_USER=$DB_USER
TABFETCH_DB_PASSWORD='$DB_PASSWORD'
TABFETCH_DB_PID=$pid
TABFETCH_DB_HOME=$home
$certs_line
ENV
  echo "throwaway_mariadb: server $pid on $sock and 127.0.0.1:$port"
}

[ $# -eq 2 ] || die "usage: $0 start|stop|env STATE_DIR"
case "$1" in
  start) start_server "$2" ;;
  stop) stop_server "$2" ;;
  env) load_env "$2" || die "no server state in $2"; cat "$2/server.env" ;;
  *) die "usage: $0 start|stop|env STATE_DIR" ;;
esac
