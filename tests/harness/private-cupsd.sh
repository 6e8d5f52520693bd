#!/bin/sh
# A private cupsd at DIR/cups.sock: start DIR (prints its PID) | add DIR NAME URI [PPD] | stop DIR
set -eu
umask 022
command=${1:?usage: private-cupsd.sh start|add|stop DIR ...}
dir=${2:?missing DIR}
case $dir in /*) ;; *) dir=$(pwd)/$dir ;; esac
socket=$dir/cups.sock
# cupsd silently ignores a listener path longer than a sun_path holds.
[ ${#socket} -lt 104 ] || { echo "private-cupsd: $socket is too long" >&2; exit 2; }

# Our cupsd, and not a reused PID or a zombie: its command line names our config.
ours() { grep -qF -- "$dir/etc/cupsd.conf" "/proc/$1/cmdline" 2>/dev/null; }

stop() {
  pid=$(cat "$dir/cupsd.pid" 2>/dev/null) || pid=0
  if ours "$pid"; then
    kill -CONT "$pid" 2>/dev/null || true; kill -TERM "$pid"
    n=0; while ours "$pid" && [ $n -lt 100 ]; do sleep 0.05; n=$((n + 1)); done
    ! ours "$pid" || kill -KILL "$pid"
  fi
  rm -rf "$dir"
}

start() {
  [ ! -e "$dir/cupsd.pid" ] || stop
  mkdir -p "$dir" && (cd "$dir" && mkdir -p etc spool/tmp log cache state bin/backend bin/filter bin/daemon ssl)
  # cupsd starts filters and backends through ServerBin/daemon/cups-exec.
  ln -s "$(cups-config --serverbin)/daemon/cups-exec" "$dir/bin/daemon/cups-exec"
  for kv in ServerRoot=etc RequestRoot=spool TempDir=spool/tmp CacheDir=cache StateDir=state \
    ServerBin=bin ServerKeychain=ssl AccessLog=log/access_log ErrorLog=log/error_log \
    PageLog=log/page_log Printcap=printcap; do echo "${kv%%=*} $dir/${kv#*=}"; done > "$dir/etc/cups-files.conf"
  printf '%s\n' 'CreateSelfSignedCerts no' 'User lp' 'Group lp' 'SystemGroup root' >> "$dir/etc/cups-files.conf"
  printf '%s\n' 'LogLevel warn' "Listen $socket" 'Browsing No' 'WebInterface No' \
    '<Policy default>' '<Limit All>' 'Order deny,allow' '</Limit>' '</Policy>' > "$dir/etc/cupsd.conf"
  cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" </dev/null >"$dir/log/stdout" 2>&1 &
  echo $! > "$dir/cupsd.pid"
  n=0
  until CUPS_SERVER=$socket lpstat -r 2>/dev/null | grep -q 'is running'; do
    if ! ours "$(cat "$dir/cupsd.pid")" || [ $n -ge 500 ]; then
      echo "private-cupsd: cupsd did not start" >&2
      cat "$dir/log/stdout" "$dir/log/error_log" >&2 2>/dev/null || true
      stop; return 1
    fi
    sleep 0.02; n=$((n + 1))
  done
  cat "$dir/cupsd.pid"
}

case $command in
  start) start ;;
  # cupsd accepts a device URI only when ServerBin/backend/SCHEME is executable.
  add)   scheme=${4:?missing URI} scheme=${scheme%%:*}
         case $scheme in ''|*[!A-Za-z0-9+.-]*) ;;
           *) [ -e "$dir/bin/backend/$scheme" ] || ln -s /bin/true "$dir/bin/backend/$scheme" ;;
         esac
         CUPS_SERVER=$socket lpadmin -p "${3:?missing NAME}" -v "$4" ${5:+-P "$5" -E} ;;
  stop)  stop ;;
  *)     echo "private-cupsd: unknown command $command" >&2; exit 2 ;;
esac
