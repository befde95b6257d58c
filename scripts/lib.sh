# Shared by scripts/run and scripts/test: packages, build, and a private MariaDB server.
# shellcheck shell=bash

LORVEX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LORVEX_BUILD_PACKAGES=(cmake g++ ninja-build pkg-config qt6-base-dev libqt6sql6-sqlite libmariadb-dev libgtest-dev
                       qtkeychain-qt6-dev libssh-dev zlib1g-dev qt6-charts-dev libqt6opengl6-dev
                       mariadb-server mariadb-client openssl openssh-server dbus gnome-keyring)

lorvex_log() { printf '%s\n' "lorvex: $*" >&2; }
lorvex_die() { lorvex_log "$*"; exit 1; }

# Installs the Debian packages that are not installed yet; does nothing when all are.
lorvex_ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    lorvex_log "installing ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || lorvex_die "run as root (or install sudo) to install: ${missing[*]}"
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q || lorvex_die "apt-get update failed"
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" ||
        lorvex_die "apt-get install failed for: ${missing[*]}"
}

# Configures and builds into $1 (default build/), two jobs at a time.
lorvex_build() {
    local dir="${1:-$LORVEX_ROOT/build}"
    shift || true
    cmake -S "$LORVEX_ROOT" -B "$dir" -G Ninja "$@" >/dev/null || lorvex_die "cmake configure failed"
    cmake --build "$dir" -j2 || lorvex_die "build failed"
}

# Prints a TCP port on 127.0.0.1 that nothing listens on.
lorvex_free_port() {
    local port tries=0
    while [ $tries -lt 200 ]; do
        port=$(( 20000 + RANDOM % 30000 ))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
        tries=$((tries + 1))
    done
    lorvex_die "no free TCP port found"
}

# lorvex_start_server DATADIR PORT INITFILE
# Creates the data directory on first use, starts mariadbd on 127.0.0.1:PORT (running
# INITFILE's statements at every start) and waits until it answers. Fails when the server
# dies or does not answer within 60 s.
lorvex_start_server() {
    local datadir="$1" port="$2" initfile="$3"
    local userarg=()
    [ "$(id -u)" -eq 0 ] && userarg=(--user=root)
    mkdir -p "$datadir"
    if [ ! -d "$datadir/mysql" ]; then
        mariadb-install-db --no-defaults --datadir="$datadir" "${userarg[@]}" \
            --auth-root-authentication-method=socket --skip-test-db \
            >"$datadir/install.log" 2>&1 ||
            { cat "$datadir/install.log" >&2; lorvex_die "mariadb-install-db failed in $datadir"; }
    fi
    rm -f "$datadir/mysqld.pid"
    mariadbd --no-defaults --datadir="$datadir" "${userarg[@]}" \
        --bind-address=127.0.0.1 --port="$port" --socket="$datadir/mysqld.sock" \
        --pid-file="$datadir/mysqld.pid" --log-error="$datadir/error.log" \
        --init-file="$initfile" --innodb-buffer-pool-size=256M \
        --innodb-flush-log-at-trx-commit=2 --max-allowed-packet=256M \
        >/dev/null 2>&1 &
    local pid=$! waited=0
    echo "$pid" >"$datadir/server.pid"
    until mariadb-admin --no-defaults --protocol=socket --socket="$datadir/mysqld.sock" \
            -uroot ping >/dev/null 2>&1; do
        if ! kill -0 "$pid" 2>/dev/null; then
            tail -n 30 "$datadir/error.log" >&2 2>/dev/null
            lorvex_die "the MariaDB server in $datadir did not start"
        fi
        waited=$((waited + 1))
        if [ $waited -gt 240 ]; then
            kill "$pid" 2>/dev/null
            lorvex_die "the MariaDB server in $datadir did not answer within 60 s"
        fi
        sleep 0.25
    done
}

# lorvex_stop_server DATADIR: stops the server started there, waiting for it to end.
lorvex_stop_server() {
    local datadir="$1" pid
    [ -f "$datadir/server.pid" ] || return 0
    pid=$(cat "$datadir/server.pid")
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        local waited=0
        while kill -0 "$pid" 2>/dev/null && [ $waited -lt 120 ]; do
            sleep 0.25
            waited=$((waited + 1))
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$datadir/server.pid"
}

# lorvex_sql DATADIR: runs the statements on stdin as the server's root account.
lorvex_sql() {
    mariadb --no-defaults --protocol=socket --socket="$1/mysqld.sock" -uroot
}
