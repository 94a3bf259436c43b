# Sourced by the scenario drivers: hosts in network namespaces of their own, joined by one bridge
# that lives in a namespace too, so nothing of the machine's own network is touched. Every name
# carries the run's id, so parallel runs do not meet; everything is removed on exit.
#   usage in a driver: source netns_lib.sh; netns_init HOST_BINARY OUT_DIR
set -euo pipefail

NETNS_SKIP=77
NETNS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
NETNS_RUN="qv$$r${RANDOM}"
NETNS_LIST=()
NETNS_PIDS=()
NETNS_SUBNET=10.77.0

netns_skip() {
  echo "SKIP: $*"
  exit "$NETNS_SKIP"
}

netns_cleanup() {
  local pid ns
  for pid in "${NETNS_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${NETNS_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  for ns in "${NETNS_LIST[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
}

# Checks that this machine lets us make namespaces, then makes the switch.
netns_init() {
  NETNS_HOST=$1
  NETNS_OUT=$2
  # The picture checker is built beside the host.
  NETNS_CHECK=${QV_PICTURE_CHECK:-$(dirname "$NETNS_HOST")/../../tests/tools/qv-picture-check}
  [ "$(id -u)" -eq 0 ] || netns_skip "network namespaces need root (CAP_NET_ADMIN)"
  command -v ip > /dev/null || netns_skip "no ip command (iproute2)"
  command -v ffprobe > /dev/null || netns_skip "no ffprobe"
  trap netns_cleanup EXIT
  trap 'exit 130' INT TERM
  # What a run killed outright left behind (its driver is gone) is removed first.
  local ns pid
  for ns in $(ip netns list 2> /dev/null | sed -n 's/^\(qv[0-9]*r[0-9]*-[a-z]*\).*/\1/p'); do
    pid=${ns#qv}
    pid=${pid%%r*}
    kill -0 "$pid" 2> /dev/null || ip netns del "$ns" 2> /dev/null || true
  done
  ip netns add "$NETNS_RUN-sw" 2> /dev/null || netns_skip "this machine does not allow network namespaces"
  NETNS_LIST+=("$NETNS_RUN-sw")
  ip -n "$NETNS_RUN-sw" link add br0 type bridge 2> /dev/null || netns_skip "no bridge support in this kernel"
  # Without an IGMP querier on the segment, snooping could stop forwarding a group; a plain
  # bridge floods multicast to every port, as a small office switch does.
  ip -n "$NETNS_RUN-sw" link set br0 type bridge mcast_snooping 0
  ip -n "$NETNS_RUN-sw" link set br0 up
  mkdir -p "$NETNS_OUT"
}

# netns_host NAME N: a namespace with eth0 at 10.77.0.N/24 on the switch, multicast routed there.
netns_host() {
  local name=$1 ns="$NETNS_RUN-$1"
  ip netns add "$ns"
  NETNS_LIST+=("$ns")
  ip -n "$NETNS_RUN-sw" link add "$name" type veth peer name eth0 netns "$ns" ||
    netns_skip "no veth support in this kernel"
  ip -n "$NETNS_RUN-sw" link set "$name" master br0 up
  ip -n "$ns" addr add "$NETNS_SUBNET.$2/24" dev eth0
  ip -n "$ns" link set lo up
  ip -n "$ns" link set eth0 up
  ip -n "$ns" route add 224.0.0.0/4 dev eth0
}

netns_ip() { echo "$NETNS_SUBNET.$1"; }

# netns_capture SECONDS: records what crosses the switch into OUT/switch.pcap (when tshark is
# there), so that a driver can read the datagrams with a dissector of its own.
netns_capture() {
  NETNS_PCAP=
  command -v tshark > /dev/null || return 0
  NETNS_PCAP="$NETNS_OUT/switch.pcap"
  rm -f "$NETNS_PCAP"
  ip netns exec "$NETNS_RUN-sw" tshark -q -i br0 -a "duration:$1" -w "$NETNS_PCAP" > "$NETNS_OUT/tshark.log" 2>&1 &
  NETNS_PIDS+=($!)
  NETNS_PID_tshark=$!
  local i
  for ((i = 0; i < 100; ++i)); do
    grep -q "Capturing on" "$NETNS_OUT/tshark.log" 2> /dev/null && return 0
    sleep 0.1
  done
  echo "FAIL: tshark never started capturing"
  exit 1
}

# netns_start NAME SECONDS ARGS...: runs peer.js in the host's namespace, output in OUT/NAME.log.
# NAME is the host's name, or HOST.ROLE for a second process on that host (its sender, say).
netns_start() {
  local name=$1 seconds=$2
  shift 2
  # Removed before the start, so that a log of an earlier run is never read as this one's.
  rm -f "$NETNS_OUT/$name.log"
  ip netns exec "$NETNS_RUN-${name%%.*}" env QT_QPA_PLATFORM=offscreen QUELVORA_CAPTURE=test \
    timeout $((${seconds%.*} + 60)) "$NETNS_HOST" --offscreen "$NETNS_DIR/peer.js" "$NETNS_OUT" "$name" \
    "$seconds" "$@" > "$NETNS_OUT/$name.log" 2>&1 &
  NETNS_PIDS+=($!)
  eval "NETNS_PID_${name//./_}=$!"
}

# netns_ready NAME...: waits (at most 20 s) until each receiver has its socket open.
netns_ready() {
  local name i
  for name in "$@"; do
    for ((i = 0; ; ++i)); do
      grep -q "^$name: ready" "$NETNS_OUT/$name.log" 2> /dev/null && break
      if [ "$i" -ge 200 ]; then
        cat "$NETNS_OUT/$name.log" 2> /dev/null || true
        echo "FAIL: $name never got ready"
        exit 1
      fi
      sleep 0.1
    done
  done
}

# netns_finish NAME...: waits for each host and shows its output; fails when one failed.
netns_finish() {
  local name pid rc failed=0
  for name in "$@"; do
    eval "pid=\$NETNS_PID_${name//./_}"
    rc=0
    wait "$pid" || rc=$?
    grep -v "^qt\.\|^QStandardPaths" "$NETNS_OUT/$name.log" || true
    if [ "$rc" -ne 0 ]; then
      echo "FAIL: $name exited with $rc"
      failed=1
    fi
  done
  [ "$failed" -eq 0 ] || exit 1
}

# netns_figure NAME KEY [PEER]: a number from a host's output ("KEY N" on its line for PEER, or on
# its summary line).
netns_figure() {
  local line
  if [ $# -ge 3 ]; then
    line=$(grep "^$1: peer $3 " "$NETNS_OUT/$1.log")
  else
    line=$(grep "^$1: .*$2 [0-9]" "$NETNS_OUT/$1.log" | head -1)
  fi
  echo "$line" | sed -n "s/.* $2 \([0-9]*\).*/\1/p"
}

# netns_check_recording FILE EXPECTED: FFmpeg decodes the whole file and counts the frames the
# host says it recorded.
netns_check_recording() {
  local file=$1 expected=$2 frames errors
  [ -s "$file" ] || { echo "FAIL: no recording $file"; exit 1; }
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$file")
  errors=$(ffmpeg -v error -i "$file" -f null - 2>&1 | wc -l)
  echo "recording $(basename "$file"): $frames frames decoded by FFmpeg, $errors decode errors"
  [ "$errors" -eq 0 ] || { echo "FAIL: FFmpeg reports errors in $file"; exit 1; }
  [ "$frames" = "$expected" ] || { echo "FAIL: $file holds $frames frames, the host recorded $expected"; exit 1; }
  [ "$frames" -gt 0 ] || { echo "FAIL: $file is empty"; exit 1; }
}

# netns_check_pictures FILE: every frame of a recording is the test camera picture it came from
# (qv-picture-check, the sender's name band left out); fails on one that is not.
netns_check_pictures() {
  local file=$1 raw="$NETNS_OUT/pictures.bgr"
  ffmpeg -v error -y -i "$file" -vsync passthrough -f rawvideo -pix_fmt bgr24 "$raw"
  netns_check_raw "$raw" top-down "$(basename "$file")"
  rm -f "$raw"
}

# netns_check_raw FILE top-down|bottom-up LABEL: the same for raw CIF pictures (a host's drawn ones
# are bottom-up).
netns_check_raw() {
  local report
  report=$("$NETNS_CHECK" "$1" 352 288 "$2") || { echo "$report" | head -5; echo "FAIL: wrong pictures in $3"; exit 1; }
  echo "pictures of $3: ${report%%$'\n'*}"
}

# netns_expect LABEL VALUE MIN: VALUE >= MIN.
netns_expect() {
  [ -n "$2" ] && [ "$2" -ge "$3" ] || { echo "FAIL: $1 is ${2:-missing}, expected at least $3"; exit 1; }
}
