# Loopback ports for the benchmark scripts; sourced, not run.

# A TCP port of 127.0.0.1 that was free a moment ago.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Waits (10 s at most) until 127.0.0.1:$1 accepts a connection.
wait_port() {
  for _ in $(seq 1 200); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "$(basename "$0"): nothing listens on port $1" >&2
  return 1
}
