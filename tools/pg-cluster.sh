#!/usr/bin/env bash
# A private PostgreSQL cluster for tests and the demo: initdb into DIR/data,
# the server listening only on a unix socket in DIR (no TCP), trust for local
# connections, role "orba" as its superuser.
#
#   tools/pg-cluster.sh start DIR   creates the cluster when DIR has none, starts
#                                   it, prints its libpq connection string
#   tools/pg-cluster.sh stop DIR    stops it (fast shutdown); DIR stays
#   tools/pg-cluster.sh destroy DIR stops it and removes DIR
#
# initdb refuses to run as root: as root the cluster belongs to the user
# "nobody" (DIR is given to it). The server's encoding is UTF-8 with the
# C.UTF-8 locale, whose upper() folds accented letters ("Salão" -> "SALÃO").
# Settings that only make sense for throw-away data: no fsync. With
# PG_CLUSTER_DURABLE=1 the server keeps PostgreSQL's own durability (fsync,
# synchronous commit, full pages), as an installation's does: for figures.
set -euo pipefail

command=${1:-}
dir=${2:-}
if [[ -z $command || -z $dir ]]; then
  echo "usage: $0 start|stop|destroy DIR" >&2
  exit 2
fi

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
if [[ -z $bin || ! -x $bin/postgres ]]; then
  echo "$0: PostgreSQL server not found under /usr/lib/postgresql (package postgresql)" >&2
  exit 1
fi

as_owner=()
if [[ $(id -u) -eq 0 ]]; then
  as_owner=(runuser -u nobody --)
fi

mkdir -p "$dir"
dir=$(realpath "$dir")
# The socket path is limited to 107 bytes.
if (( ${#dir} > 90 )); then
  echo "$0: $dir is too long for a unix socket path" >&2
  exit 1
fi

case $command in
  start)
    if [[ $(id -u) -eq 0 ]]; then
      chown nobody: "$dir"
    fi
    chmod 0755 "$dir"
    if [[ ! -f $dir/data/PG_VERSION ]]; then
      (cd "$dir" && "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U orba --auth=trust \
          --encoding=UTF8 --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1) || {
        cat "$dir/initdb.log" >&2
        exit 1
      }
    fi
    options="-k $dir -c listen_addresses=''"
    if [[ ${PG_CLUSTER_DURABLE:-0} != 1 ]]; then
      options+=" -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    fi
    (cd "$dir" && "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 -o "$options" \
        start >/dev/null) || {
      cat "$dir/server.log" >&2
      exit 1
    }
    echo "host=$dir dbname=postgres user=orba"
    ;;
  stop|destroy)
    if [[ -f $dir/data/postmaster.pid ]]; then
      (cd "$dir" && "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null)
    fi
    if [[ $command == destroy ]]; then
      rm -rf "$dir"
    fi
    ;;
  *)
    echo "usage: $0 start|stop|destroy DIR" >&2
    exit 2
    ;;
esac
