#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Saves and restores a table of 1,000,000 rows with Trevalo and with the server's own tools,
# against a private MariaDB started here (as the test fixture starts it), alternating the two
# (A B A B ...) after a warm-up, and prints medians, the median of the per-round ratios and the
# peak memory of each side.
#
#   dump:    trevalo-cli run of a job that saves only this database (dump, zip, copy into the set)
#            vs  mariadb-dump --skip-extended-insert | gzip -3 > file
#   restore: trevalo-cli restore-db of that set's archive
#            vs  mariadb < (default, extended-insert) mariadb-dump file
#
# usage: bench/db_bench.sh
#   environment: BUILD_DIR (default: <repo>/build), WORK (default: /tmp/trevalo-dbbench),
#                RUNS (default: 3), ROWS (default: 1000000)
#   needs mariadbd, mariadb, mariadb-dump, gzip and GNU time (/usr/bin/time, package "time").
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build}
WORK=${WORK:-/tmp/trevalo-dbbench}
RUNS=${RUNS:-3}
ROWS=${ROWS:-1000000}
CLI=$BUILD_DIR/src/app/trevalo-cli
TIME=/usr/bin/time
[ -x "$TIME" ] || { echo "GNU time is missing (apt-get install time)" >&2; exit 2; }
[ -x "$CLI" ] || { echo "build trevalo-cli first: $CLI" >&2; exit 2; }
mkdir -p "$WORK"

# ---- the private server
DB=$WORK/server
SOCK=$DB/mysqld.sock
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
AS_ROOT=()
[ "$(id -u)" = 0 ] && AS_ROOT=(--user=root)
SERVER_PID=
stop_server() {
    [ -n "$SERVER_PID" ] || return 0
    mariadb-admin --no-defaults --protocol=socket -S "$SOCK" -uroot shutdown >/dev/null 2>&1 || kill "$SERVER_PID" 2>/dev/null || true
    for _ in $(seq 300); do kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$SERVER_PID" 2>/dev/null || true
    SERVER_PID=
}
trap stop_server EXIT
rm -rf "$DB"
mkdir -p "$DB/data" "$DB/tmp"
mariadb-install-db --no-defaults --datadir="$DB/data" "${AS_ROOT[@]}" --auth-root-authentication-method=normal \
    --skip-test-db --skip-name-resolve >"$DB/install.log" 2>&1
mariadbd --no-defaults "${AS_ROOT[@]}" --datadir="$DB/data" --tmpdir="$DB/tmp" --bind-address=127.0.0.1 \
    --port="$PORT" --socket="$SOCK" --pid-file="$DB/mysqld.pid" --log-error="$DB/error.log" --skip-name-resolve \
    --skip-log-bin --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci --max-allowed-packet=64M \
    --innodb-flush-log-at-trx-commit=2 </dev/null >>"$DB/mariadbd.stdout" 2>&1 &
SERVER_PID=$!
for _ in $(seq 600); do
    kill -0 "$SERVER_PID" 2>/dev/null || { tail -20 "$DB/error.log" >&2; exit 1; }
    mariadb-admin --no-defaults --protocol=socket -S "$SOCK" -uroot ping >/dev/null 2>&1 && break
    sleep 0.1
done
sql() { mariadb --no-defaults --protocol=socket -S "$SOCK" -uroot "$@"; }
sql -e "CREATE USER bench@'%' IDENTIFIED BY 'benchpw'; GRANT ALL ON *.* TO bench@'%';"
echo "benchpw" >"$WORK/password"
# The job that saves only this database, as a user would set it up; its password encoded as job files keep it.
PASS_ENCODED=$(python3 -c 'print("".join("%03d" % (((b >> 1) | (b << 7)) & 255) for b in b"benchpw"))')
mkdir -p "$WORK/jobs/Scripts"
printf '[Einstellungen]\r\nName=dbbench\r\nZiel=%s\r\nGesamtsicherung=1\r\nproto=0\r\nStart_Meldung=0\r\nbackup_ok_anzeigen=0\r\nfehler_anzeigen=0\r\ntemp_pfad=%s\r\n[DB_Name]\r\nDB1=perf\r\n[DB_Login]\r\nDBLogin1=nein\r\n[DB_User]\r\nUser1=bench\r\n[DB_Pass]\r\nPass1=%s\r\n[DB_Host]\r\nHost1=127.0.0.1\r\n[DB_Port]\r\nPort1=%s\r\n[DB_DBName]\r\nDBNAME1=perf\r\n' \
    "$WORK/run/ziel" "$WORK/tmp" "$PASS_ENCODED" "$PORT" >"$WORK/jobs/Scripts/0.scr"
mkdir -p "$WORK/tmp"
TCP=(--no-defaults -h 127.0.0.1 -P "$PORT" -ubench -pbenchpw)

echo "generating perf.t with $ROWS rows" >&2
sql -e "CREATE DATABASE perf CHARACTER SET utf8mb4; USE perf;
CREATE TABLE t (id INT NOT NULL PRIMARY KEY, name VARCHAR(64) NOT NULL, amount DECIMAL(12,2) NOT NULL,
  created DATETIME NOT NULL, note TEXT, maybe INT NULL) ENGINE=InnoDB;
INSERT INTO t SELECT seq,
  CONCAT('customer-', seq, '-', LEFT(MD5(seq), 16)),
  IF(seq % 7 = 0, -1, 1) * ROUND(seq * 1.37 % 100000, 2),
  '2020-01-01 00:00:00' + INTERVAL seq MINUTE,
  IF(seq % 10 = 0, CONCAT('quote '' dq \" bs \\\\ nl', CHAR(10), REPEAT('n', 78)), RPAD(CONCAT('note ', seq), 100, 'abcdefgh')),
  IF(seq % 4 = 0, NULL, seq % 1000)
FROM seq_1_to_$ROWS;
ANALYZE TABLE t;" >/dev/null
SOURCE_SUM=$(sql -N -e "CHECKSUM TABLE perf.t" | cut -f2)

mariadb-dump "${TCP[@]}" perf t >"$WORK/extended.sql"

# ---- timing helpers: "seconds peak_kib" of one command
timed() {
    "$TIME" -f "%e %M" -o "$WORK/time.out" "$@" >/dev/null 2>"$WORK/cmd.err" || { cat "$WORK/cmd.err" >&2; return 1; }
    tail -1 "$WORK/time.out"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

dump_trevalo() {
    rm -rf "$WORK/run"
    XDG_CONFIG_HOME=$WORK/config XDG_STATE_HOME=$WORK/state timed "$CLI" --scripts-folder "$WORK/jobs" run dbbench
}
dump_tools() {
    rm -f "$WORK/tools.sql.gz"
    timed bash -c "mariadb-dump ${TCP[*]} --skip-extended-insert perf t | gzip -3 >'$WORK/tools.sql.gz'"
}
restore_trevalo() {
    sql -e "DROP DATABASE IF EXISTS perf_a; CREATE DATABASE perf_a CHARACTER SET utf8mb4"
    timed "$CLI" restore-db "$ARCHIVE" --host 127.0.0.1 --port "$PORT" --user bench --password-file "$WORK/password" \
        --database perf_a
}
restore_tools() {
    sql -e "DROP DATABASE IF EXISTS perf_b; CREATE DATABASE perf_b CHARACTER SET utf8mb4"
    timed bash -c "mariadb ${TCP[*]} perf_b <'$WORK/extended.sql'"
}

# One round: A then B, or B then A, alternating; prints "a_s a_kib b_s b_kib".
measure() { # name fnA fnB
    local name=$1 a=$2 b=$3
    echo "warm-up: $name" >&2
    $a >/dev/null
    $b >/dev/null
    : >"$WORK/$name.rounds"
    for r in $(seq "$RUNS"); do
        if [ $((r % 2)) = 1 ]; then ra=$($a); rb=$($b); else rb=$($b); ra=$($a); fi
        echo "$ra $rb" >>"$WORK/$name.rounds"
        echo "  $name round $r: trevalo ${ra% *} s, tools ${rb% *} s" >&2
    done
}

measure dump dump_trevalo dump_tools
ARCHIVE=$(ls "$WORK"/run/ziel/*/-perf/Archive.zip)
measure restore restore_trevalo restore_tools
RESTORED_SUM=$(sql -N -e "CHECKSUM TABLE perf_a.t" | cut -f2)
[ "$RESTORED_SUM" = "$SOURCE_SUM" ] || { echo "restored table differs: $RESTORED_SUM vs $SOURCE_SUM" >&2; exit 1; }

report() { # name target
    local f=$WORK/$1.rounds
    local ta tb ratio ma mb
    ta=$(awk '{print $1}' "$f" | median)
    tb=$(awk '{print $3}' "$f" | median)
    ratio=$(awk '{printf "%.3f\n", $1 / $3}' "$f" | median)
    ma=$(awk '{print $2}' "$f" | sort -g | tail -1)
    mb=$(awk '{print $4}' "$f" | sort -g | tail -1)
    printf "| %-7s | %8.2f s | %8.2f s | %5.2fx (target <= %s) | %6.1f MB | %6.1f MB |\n" \
        "$1" "$ta" "$tb" "$ratio" "$2" "$(awk -v k="$ma" 'BEGIN {print k / 1024}')" "$(awk -v k="$mb" 'BEGIN {print k / 1024}')"
}
echo
echo "$ROWS rows, $RUNS alternating rounds, medians; peak memory = largest maximum resident set"
echo "| step    | Trevalo    | tools      | ratio (median of rounds) | Trevalo peak | tools peak |"
echo "|---------|------------|------------|--------------------------|--------------|------------|"
report dump 0.7
report restore 0.8
echo "restored table checksum matches the source ($SOURCE_SUM)"
