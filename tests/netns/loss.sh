#!/usr/bin/env bash
# Calls over a faulty link: Alice sends to Bob through a link that loses 0%, 1% or 5% of the
# datagrams towards Bob; with netem and the relay also with 20 ms of jitter (which reorders the
# pieces of a frame) and, with the relay, 2% of the datagrams repeated (and once 5% repeated alone). Bob shows and records Alice
# and keeps every picture he drew. Every picture drawn and every frame recorded is compared with
# the test camera's picture it came from: on a link that loses or repeats datagrams none may be
# wrong. Reordering can swap two pieces of a frame in a way this wire cannot show (it carries no
# piece numbers); how many frames were caught out of order and how many wrong pictures slipped
# through is printed and bounded (with the relay, by the swaps it made that leave no trace). Bob asks Alice for a key frame whenever he waits for one; each
# loss level runs once with Alice answering, and for 1% and 5% once with the requests dropped on the
# way, as a peer that does not answer them would leave them.
#   loss.sh QUELVORA_HOST OUT_DIR netem|nft|relay [SECONDS]
#   netem: tc netem on the switch port towards Bob (loss and jitter; needs sch_netem)
#   nft:   an nftables rule in Bob's namespace drops datagrams at random (loss only)
#   relay: impair.py on Bob's host relays Alice's datagrams with loss, repeats and jitter; Bob then
#          knows her by the relay's address
source "$(dirname "$0")/netns_lib.sh"
MODE=$3
SECONDS_CALL=${4:-15}
netns_init "$1" "$2"
SW="$NETNS_RUN-sw"
case "$MODE" in
  netem)
    command -v tc > /dev/null || netns_skip "no tc (iproute2)"
    command -v modprobe > /dev/null && modprobe sch_netem 2> /dev/null || true
    tc -n "$SW" qdisc add dev br0 root netem delay 1ms 2> /dev/null ||
      netns_skip "tc netem is not available (no sch_netem in this kernel)"
    tc -n "$SW" qdisc del dev br0 root
    ;;
  nft)
    command -v nft > /dev/null || netns_skip "no nft (nftables)"
    ip netns exec "$SW" nft add table inet qvprobe 2> /dev/null || netns_skip "nftables is not available in this kernel"
    ;;
  relay) command -v python3 > /dev/null || netns_skip "no python3" ;;
  *) echo "usage: loss.sh QUELVORA_HOST OUT_DIR netem|nft|relay [SECONDS]"; exit 2 ;;
esac
command -v nft > /dev/null || [ "$MODE" = relay ] || netns_skip "no nft (nftables) to drop the key-frame requests"
netns_host alice 1
netns_host bob 2
A=$(netns_ip 1) B=$(netns_ip 2)
# The runs: loss %, requests answered, jitter ms, repeated %.
case "$MODE" in
  nft) RUNS=("0 yes 0 0" "1 yes 0 0" "5 yes 0 0" "1 no 0 0" "5 no 0 0") ;;
  netem) RUNS=("0 yes 20 0" "1 yes 20 0" "5 yes 20 0" "1 no 20 0" "5 no 20 0") ;;
  relay) RUNS=("0 yes 0 5" "0 yes 20 2" "1 yes 20 2" "5 yes 20 2" "5 no 20 2") ;;
esac

# impair PERCENT PORT: the fault towards Bob's receive port; prints nothing.
impair() {
  if [ "$MODE" = relay ]; then
    return
  elif [ "$MODE" = netem ]; then
    tc -n "$SW" qdisc del dev bob root 2> /dev/null || true
    tc -n "$SW" qdisc add dev bob root netem loss "$1%" delay 20ms 20ms
  else
    ip netns exec "$NETNS_RUN-bob" nft delete table inet qvloss 2> /dev/null || true
    [ "$1" = 0 ] && return
    ip netns exec "$NETNS_RUN-bob" nft -f - << NFT
table inet qvloss {
  chain input {
    type filter hook input priority 0;
    udp dport $2 numgen random mod 1000 < $(($1 * 10)) counter drop
  }
}
NFT
  fi
}

# answers yes|no PORT: whether Bob's key-frame requests (12-byte datagrams) reach Alice's sending
# port; the relay drops them itself.
answers() {
  [ "$MODE" = relay ] && return
  ip netns exec "$NETNS_RUN-alice" nft delete table inet qvnoanswer 2> /dev/null || true
  [ "$1" = yes ] && return
  ip netns exec "$NETNS_RUN-alice" nft -f - << NFT
table inet qvnoanswer {
  chain input {
    type filter hook input priority 0;
    udp dport $2 udp length 20 counter drop
  }
}
NFT
}

# dropped: datagrams the fault threw away so far.
dropped() {
  if [ "$MODE" = relay ]; then
    sed -n 's/.* dropped \([0-9]*\).*/\1/p' "$NETNS_OUT/impair.log"
  elif [ "$MODE" = netem ]; then
    tc -s -n "$SW" qdisc show dev bob | sed -n 's/.*dropped \([0-9]*\).*/\1/p' | head -1
  else
    ip netns exec "$NETNS_RUN-bob" nft list table inet qvloss 2> /dev/null |
      sed -n 's/.*packets \([0-9]*\).*/\1/p' | head -1
  fi
}

# wrong FILE ORDER: the wrong pictures qv-picture-check finds in raw CIF pictures; its report goes
# to the output.
wrong() {
  local report
  report=$("$NETNS_CHECK" "$1" 352 288 "$2" || true)
  echo "$report" | sed -n '1p;2,6s/^/  /p' >&2
  echo "$report" | sed -n '1s/.* wrong \([0-9]*\) .*/\1/p'
}

SUMMARY=()
run=0
for setting in "${RUNS[@]}"; do
  set -- $setting
  level=$1 answered=$2 jitter=$3 repeat=$4
  run=$((run + 1))
  port=$((20000 + run * 100))
  impair "$level" "$port"
  answers "$answered" $((port + 50))
  seconds=$SECONDS_CALL
  [ "$level" = 0 ] && seconds=6
  if [ "$MODE" = relay ]; then
    # Alice sends to the relay beside Bob; Bob knows her by the relay's address.
    back=0
    [ "$answered" = yes ] && back=1
    rm -f "$NETNS_OUT/impair.log"
    ip netns exec "$NETNS_RUN-bob" python3 "$NETNS_DIR/impair.py" "$B:$((port + 7))" "$B:$port" \
      "$level" "$jitter" "$jitter" $((seconds + 3)) "$repeat" "$back" > "$NETNS_OUT/impair.log" 2>&1 &
    NETNS_PIDS+=($!)
    impair_pid=$!
    for ((i = 0; ; ++i)); do
      grep -q "^impair: ready" "$NETNS_OUT/impair.log" 2> /dev/null && break
      [ "$i" -lt 100 ] || { cat "$NETNS_OUT/impair.log"; echo "FAIL: the relay never got ready"; exit 1; }
      sleep 0.1
    done
    from="$B:$((port + 7))" to="$B:$((port + 7))"
  else
    from="$A:$((port + 50))" to="$B:$port"
  fi
  netns_start bob $((seconds + 2)) recv="$B:$port" "peer=alice@$from" keep
  netns_ready bob
  netns_start alice "$seconds" "send=$A:$((port + 50))>$to"
  netns_finish alice bob
  if [ "$MODE" = relay ]; then
    wait "$impair_pid"
    cat "$NETNS_OUT/impair.log"
  fi
  lost=$(dropped || true)
  lost=${lost:-0}
  sent=$(netns_figure alice sent)
  got=$(netns_figure bob recorded alice)
  drawn=$(netns_figure bob drawn alice)
  refused=$(netns_figure bob refused)
  asked=$(netns_figure bob key_frames_asked)
  answered_frames=$(netns_figure alice key_frames_answered)
  stalls=$(netns_figure bob stalls alice)
  stall_median=$(netns_figure bob stall_median_ms alice)
  stall_longest=$(netns_figure bob stall_longest_ms alice)
  recording="$NETNS_OUT/bob-alice-$run.avi"
  mv "$NETNS_OUT/bob-alice.avi" "$recording"
  wrong_recorded=0 wrong_drawn=0
  # With jitter and no key frame answered, a lossy call can leave nothing to check.
  if [ "$got" -gt 0 ]; then
    netns_check_recording "$recording" "$got"
    ffmpeg -v error -y -i "$recording" -vsync passthrough -f rawvideo -pix_fmt bgr24 "$NETNS_OUT/recorded.bgr"
    wrong_recorded=$(wrong "$NETNS_OUT/recorded.bgr" top-down)
  fi
  [ "$drawn" -eq 0 ] || wrong_drawn=$(wrong "$NETNS_OUT/bob-drawn.bgr" bottom-up)
  [ "$wrong_recorded$wrong_drawn" = 00 ] && rm -f "$NETNS_OUT/recorded.bgr" "$NETNS_OUT/bob-drawn.bgr"
  line="loss $level% ($MODE, jitter $jitter ms, $repeat% repeated, requests answered: $answered): frames sent $sent, datagrams dropped $lost,"
  line+=" pictures drawn $drawn ($((drawn * 100 / sent))%), frames recorded $got ($((got * 100 / sent))%),"
  line+=" wrong pictures drawn $wrong_drawn, recorded $wrong_recorded, frames refused $refused,"
  line+=" stalls $stalls (median $stall_median ms, longest $stall_longest ms),"
  line+=" key frames asked $asked, made for requests $answered_frames"
  echo "$line"
  SUMMARY+=("$line")
  if [ "$jitter" = 0 ]; then
    # Loss and repeats alone: not one wrong picture.
    [ "$wrong_drawn" = 0 ] || { echo "FAIL: $wrong_drawn wrong pictures drawn"; exit 1; }
    [ "$wrong_recorded" = 0 ] || { echo "FAIL: $wrong_recorded wrong frames recorded"; exit 1; }
    netns_expect "pictures drawn at $level% loss" "$drawn" 15
  elif [ "$MODE" = relay ]; then
    # Pieces of a frame swapped in transit are mostly caught (refused). A swap of two full-size
    # pieces after the first leaves no trace on this wire; the relay counts those, and each may cost
    # the pictures up to the next key frame (the interval is 30 frames). No other wrong picture.
    swaps=$(sed -n 's/.* hidden swaps \([0-9]*\).*/\1/p' "$NETNS_OUT/impair.log")
    limit=$((${swaps:?the relay printed no hidden swaps} * 30))
    echo "hidden swaps $swaps: at most $limit wrong pictures drawn and as many recorded"
    [ "$wrong_drawn" -le "$limit" ] && [ "$wrong_recorded" -le "$limit" ] ||
      { echo "FAIL: $wrong_drawn + $wrong_recorded wrong pictures, more than $limit each"; exit 1; }
  else
    # netem does not tell which frames it reordered: the wrong pictures stay a small share.
    limit=$(((drawn + got) / 20 + 2))
    [ "$((wrong_drawn + wrong_recorded))" -le "$limit" ] ||
      { echo "FAIL: $wrong_drawn + $wrong_recorded wrong pictures slipped through, more than $limit"; exit 1; }
  fi
  [ "$level" = 0 ] || netns_expect "datagrams dropped at $level% loss" "$lost" 1
  [ "$level" = 0 ] || [ "$jitter" != 0 ] || [ "$answered" = no ] || netns_expect "key frames made for requests" "$answered_frames" 1
done
printf '%s\n' "${SUMMARY[@]}"
echo "PASS"
