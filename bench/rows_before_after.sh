#!/usr/bin/env bash
# Compares every row that two builds write for the same fixed stream of 100
# orders, 50 positions, 20 transfers and 20 closes (orba_bench_rows_written),
# on SQLite and on a private PostgreSQL cluster, each on a fresh demo
# establishment. Prints the row counts and any difference; exits 1 when the
# builds wrote different rows.
#
# Usage: bench/rows_before_after.sh OLD_BUILD_DIR NEW_BUILD_DIR
#   (build orba_bench_rows_written in both: ninja -C DIR orba_bench_rows_written)
# Needs sqlite3 and the PostgreSQL server binaries (tools/pg-cluster.sh).

set -euo pipefail

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OLD=$(cd "$1" && pwd)/bench/orba_bench_rows_written
NEW=$(cd "$2" && pwd)/bench/orba_bench_rows_written
[[ -x $OLD && -x $NEW ]] || { echo "build orba_bench_rows_written in both build folders first" >&2; exit 2; }

WORK=$(mktemp -d /tmp/orba-rows-XXXXXX)
chmod 0755 "$WORK"
cleanup() {
  "$SOURCE_DIR/tools/pg-cluster.sh" stop "$WORK/pg" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# An installation under $WORK/$1 for engine $2 ($3: the server's database).
installation() {
  local root=$WORK/$1 banco=""
  mkdir -p "$root/loja/xml/Enviar" "$root/loja/xml/Receber" "$root/loja/xml/Fixos" "$root/spool/COZINHA" \
           "$root/spool/BAR" "$root/spool/CAIXA"
  echo CAIXA > "$root/spool/default"
  if [[ $2 == postgresql ]]; then
    banco="<BANCO TIPO=\"postgresql\" CONEXAO=\"host=$WORK/pg dbname=$3 user=orba\"/>"
    psql "host=$WORK/pg dbname=postgres user=orba" -q -c "CREATE DATABASE $3 TEMPLATE demo"
  else
    cat "$SOURCE_DIR/db/schema.sql" "$SOURCE_DIR/db/demo.sql" | sqlite3 "$root/loja/ORBA.MDB"
  fi
  printf '<RO><CONFIG SR="%s"/><IMPRESSORA TP_IMPR="0"/>%s</RO>\n' "$root/loja/" "$banco" > "$root/ORBA.INI"
}

server=$("$SOURCE_DIR/tools/pg-cluster.sh" start "$WORK/pg")
psql "$server" -q -c "CREATE DATABASE demo ENCODING 'UTF8' TEMPLATE template0"
cat "$SOURCE_DIR/db/schema-postgresql.sql" "$SOURCE_DIR/db/demo.sql" |
  psql "host=$WORK/pg dbname=demo user=orba" -q -v ON_ERROR_STOP=1 -f - >/dev/null

status=0
for engine in sqlite postgresql; do
  for build in old new; do
    installation "$engine-$build" "$engine" "rows_$build"
    binary=$OLD
    [[ $build == new ]] && binary=$NEW
    "$binary" "$WORK/$engine-$build" "$WORK/$engine-$build/spool" "$WORK/$engine-$build.rows" 2>"$WORK/$engine-$build.log"
  done
  echo "== $engine: $(grep -c '' "$WORK/$engine-new.rows") lines;" \
       "$(grep '^== ' "$WORK/$engine-new.rows" | grep -v '(0 rows)' | sed 's/^== //' | tr '\n' ' ')"
  if diff -u "$WORK/$engine-old.rows" "$WORK/$engine-new.rows" > "$WORK/$engine.diff"; then
    echo "   the same rows"
  else
    echo "   DIFFERENT rows:"
    head -60 "$WORK/$engine.diff"
    status=1
  fi
done
exit $status
