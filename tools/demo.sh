#!/usr/bin/env bash
# Sets up a demo installation under demo/ (or DIR), starts the service on it
# headless with spool-folder printers, plays a few handheld requests with the
# simulator, shows the answers and the printed tickets, and stops the service.
#
#   tools/demo.sh [--comanda] [--postgresql] [DIR]
#
# --comanda: the same establishment working by comanda (parametro_geral.ic_tra_cmd
# 'S'): the handhelds open comanda 150 and card 9001 and order on them.
# --postgresql: the database on a PostgreSQL server instead of ORBA.MDB: a
# private cluster in DIR/postgresql (unix socket only), stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
comanda=no
postgresql=no
while [[ ${1:-} == --* ]]; do
  case $1 in
    --comanda) comanda=yes ;;
    --postgresql) postgresql=yes ;;
    *) echo "usage: $0 [--comanda] [--postgresql] [DIR]" >&2; exit 2 ;;
  esac
  shift
done
root=$(realpath -m "${1:-demo}")

tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orbapda orbapda-pda

[[ -d $root/postgresql ]] && tools/pg-cluster.sh stop "$root/postgresql"
rm -rf "$root"
mkdir -p "$root/etc" "$root/loja/xml/Enviar" "$root/loja/xml/Receber" "$root/loja/xml/Fixos" \
         "$root/printers/COZINHA" "$root/printers/BAR" "$root/printers/CAIXA"
echo CAIXA > "$root/printers/default"
banco=
if [[ $postgresql == yes ]]; then
  server=$(tools/pg-cluster.sh start "$root/postgresql")
  psql "$server" -q -v ON_ERROR_STOP=1 -c "CREATE DATABASE orba ENCODING 'UTF8' TEMPLATE template0"
  connection="host=$root/postgresql dbname=orba user=orba"
  sql() { psql "$connection" -q -v ON_ERROR_STOP=1 "$@"; }
  sql -f db/schema-postgresql.sql
  sql -f db/demo.sql
  [[ $comanda == yes ]] && sql -c "UPDATE parametro_geral SET ic_tra_cmd = 'S'"
  banco="  <BANCO TIPO=\"postgresql\" CONEXAO=\"$connection\"/>"
else
  sqlite3 "$root/loja/ORBA.MDB" < db/schema.sql
  sqlite3 "$root/loja/ORBA.MDB" < db/demo.sql
  [[ $comanda == yes ]] && sqlite3 "$root/loja/ORBA.MDB" "UPDATE parametro_geral SET ic_tra_cmd = 'S'"
  # The back office and the synchronisation layer share it through the group.
  chmod 0660 "$root/loja/ORBA.MDB"
fi
cat > "$root/etc/ORBA.INI" <<INI
<?xml version="1.0" encoding="ISO-8859-1"?>
<RO>
  <CONFIG SR="$root/loja/"/>
  <IMPRESSORA TP_IMPR="0"/>
$banco
</RO>
INI

build/orbapda --headless --system-dir "$root/etc" --printer-spool "$root/printers" \
  2> "$root/orbapda.log" &
service=$!
stop_all() {
  kill -TERM $service 2>/dev/null
  wait $service 2>/dev/null || true
  if [[ $postgresql == yes ]]; then tools/pg-cluster.sh stop "$root/postgresql"; fi
}
trap stop_all EXIT
sleep 0.5
kill -0 $service || { cat "$root/orbapda.log"; exit 1; }
if [[ $postgresql == yes ]]; then
  echo "orbapda is running (pid $service) on $root/loja, database orba on the PostgreSQL server in $root/postgresql"
else
  echo "orbapda is running (pid $service) on $root/loja"
fi

# A refusal (exit status 1, a table awaiting payment) is part of the show.
pda() {
  echo; echo "\$ orbapda-pda $*"
  build/orbapda-pda --system-dir "$root/etc" "$@" || echo "(exit status $?)"
}
if [[ $comanda == yes ]]; then
  pda stm 150
  pda pem 150 --operador 10 --item 1:101:2:25.00 --item 2:201:1:6.50
  pda stm 150
  pda stm 9001
  pda pem 9001 --operador 10 --item 1:203:1:18.00
  echo; echo "Printed documents:"
  for f in "$root"/printers/*/*.txt; do
    [[ -e $f ]] || continue
    echo "--- ${f#$root/printers/}"; cat "$f"
  done
elif [[ -x build/orbapda-pda ]]; then
  pda stm 1
  if build/orbapda-pda --help 2>&1 | grep -q ' pem '; then
    pda pem 1 --operador 10 --pessoas 2 --item 1:101:2:25.00 --item 1:201:1:6.50
    pda stm 1
    echo; echo "Printed documents:"
    show_printed() {
      for f in "$root"/printers/*/*.txt; do
        [[ -e $f ]] || continue
        grep -qxF "$f" "$root/printed.list" 2>/dev/null && continue
        echo "$f" >> "$root/printed.list"
        echo "--- ${f#$root/printers/}"; cat "$f"
      done
    }
    show_printed
    if build/orbapda-pda --help 2>&1 | grep -q ' pom '; then
      pda pem 1 --operador 10 --item 2:102:1:42.00 --caract 2 --acomp 103:1:8.50
      show_printed
      pda pom 1 --operador 10
      pda fem 1 --pessoas 2 --tipo-conta 1
      echo; echo "Pre-bill printed by the close:"
      show_printed
      pda stm 1
    fi
  fi
fi
if [[ $postgresql == yes ]]; then
  echo; echo "Base folder (no ORBA.MDB):"; ls "$root/loja"
  echo; echo "The table on the server:"
  sql -c "select id_loc, nm_loc, ic_stt_loc, qt_loc_ocu from local where id_loc = 1"
fi
echo
echo "Service log:"; cat "$root/orbapda.log"
