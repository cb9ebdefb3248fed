# Sourced by the server helpers once their server runs as "$child" on
# 127.0.0.1:"$port": waits up to 10 s for the listener, prints the port
# (the tests read it with their own time-out), then serves until the server
# ends or the test that started us is gone. Needs $child, $port, $starter,
# a function `stop`, and the server's name and (optional) log file as
# arguments.
serve_until_stopped() {
  local name=$1 log=${2:-}
  for _ in $(seq 1 200); do
    if ! kill -0 "$child" 2>/dev/null; then
      echo "$name exited${log:+; log:}" >&2
      [ -n "$log" ] && cat "$log" >&2
      exit 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      # Also stop when the test that started us is gone (it crashed before
      # it could stop us): then we are no longer our starter's child.
      while kill -0 "$child" 2>/dev/null; do
        if [ "$(cut -d' ' -f4 /proc/$$/stat)" != "$starter" ]; then stop; fi
        sleep 0.2
      done
      wait "$child"
      exit 0
    fi
    sleep 0.05
  done
  echo "$name did not listen on 127.0.0.1:$port" >&2
  kill -TERM "$child" 2>/dev/null
  exit 1
}
