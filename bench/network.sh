#!/usr/bin/env bash
# Receiving on a lossy link, on loopback: how soon a receiver shows a sender it switches to
# (bench/join.js), and how long the picture stands after a loss, with and without the sender
# answering key-frame requests. Alice sends to Bob through impair.py (tests/netns), which drops 1%
# or 5% of her datagrams and either passes Bob's requests back to her or drops them.
#   bench/network.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:-build}
seconds=${2:-20}
here="$(cd "$(dirname "$0")" && pwd)"
host="$build/hosts/quelvora-host/quelvora-host"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export QUELVORA_CAPTURE=test QT_QPA_PLATFORM=offscreen

"$host" --offscreen "$here/join.js" 20 | grep "^join:"

port=17500
for setting in "1 1" "1 0" "5 1" "5 0"; do
  set -- $setting
  port=$((port + 100))
  python3 "$here/../tests/netns/impair.py" "127.0.0.1:$((port + 7))" "127.0.0.1:$port" "$1" 0 0 \
    $((seconds + 4)) 0 "$2" > "$out/impair.log" 2>&1 &
  impair=$!
  "$host" --offscreen "$here/../tests/netns/peer.js" "$out" bob $((seconds + 2)) "recv=127.0.0.1:$port" \
    "peer=alice@127.0.0.1:$((port + 7))" > "$out/bob.log" 2>&1 &
  bob=$!
  sleep 1
  "$host" --offscreen "$here/../tests/netns/peer.js" "$out" alice "$seconds" \
    "send=127.0.0.1:$((port + 50))>127.0.0.1:$((port + 7))" > "$out/alice.log" 2>&1
  wait "$bob"
  wait "$impair"
  answered=$([ "$2" = 1 ] && echo "answered" || echo "not answered")
  sent=$(sed -n 's/.*frames sent \([0-9]*\).*/\1/p' "$out/alice.log")
  line=$(grep "^bob: peer alice" "$out/bob.log")
  figure() { echo "$line" | sed -n "s/.* $1 \([0-9-]*\).*/\1/p"; }
  echo "loss $1% (requests $answered): frames sent $sent, drawn $(figure drawn), recorded $(figure recorded)," \
    "stalls $(figure stalls): median $(figure stall_median_ms) ms, longest $(figure stall_longest_ms) ms;" \
    "$(sed -n 's/impair: //p' "$out/impair.log" | tail -1)"
done
