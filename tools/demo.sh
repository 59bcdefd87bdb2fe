#!/usr/bin/env bash
# Sets up a demo installation under demo/ (or DIR), starts the service on it
# headless with spool-folder printers, plays a few handheld requests with the
# simulator, shows the answers and the printed tickets, and stops the service.
#
#   tools/demo.sh [--comanda] [DIR]
#
# --comanda: the same establishment working by comanda (parametro_geral.ic_tra_cmd
# 'S'): the handhelds open comanda 150 and card 9001 and order on them.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
comanda=no
if [[ ${1:-} == --comanda ]]; then
  comanda=yes
  shift
fi
root=$(realpath -m "${1:-demo}")

tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target orbapda orbapda-pda

rm -rf "$root"
mkdir -p "$root/etc" "$root/loja/xml/Enviar" "$root/loja/xml/Receber" "$root/loja/xml/Fixos" \
         "$root/printers/COZINHA" "$root/printers/BAR" "$root/printers/CAIXA"
echo CAIXA > "$root/printers/default"
cat > "$root/etc/ORBA.INI" <<INI
<?xml version="1.0" encoding="ISO-8859-1"?>
<RO>
  <CONFIG SR="$root/loja/"/>
  <IMPRESSORA TP_IMPR="0"/>
</RO>
INI
sqlite3 "$root/loja/ORBA.MDB" < db/schema.sql
sqlite3 "$root/loja/ORBA.MDB" < db/demo.sql
if [[ $comanda == yes ]]; then
  sqlite3 "$root/loja/ORBA.MDB" "UPDATE parametro_geral SET ic_tra_cmd = 'S'"
fi

build/orbapda --headless --system-dir "$root/etc" --printer-spool "$root/printers" \
  2> "$root/orbapda.log" &
service=$!
trap 'kill -TERM $service 2>/dev/null; wait $service 2>/dev/null || true' EXIT
sleep 0.5
kill -0 $service || { cat "$root/orbapda.log"; exit 1; }
echo "orbapda is running (pid $service) on $root/loja"

pda() { echo; echo "\$ orbapda-pda $*"; build/orbapda-pda --system-dir "$root/etc" "$@"; }
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
echo
echo "Service log:"; cat "$root/orbapda.log"
