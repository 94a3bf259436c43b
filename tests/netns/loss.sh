#!/usr/bin/env bash
# Calls over a faulty link: Alice sends to Bob through a link that loses 0%, 1% and 5% of the
# datagrams towards Bob, with netem and the relay also 20 ms of jitter (which reorders them). Bob keeps drawing:
# after a loss the picture stays frozen until the next key frame that arrives whole (every 30
# frames, 2 s at 15 fps and 250 kbit/s). Prints how long the pictures stayed frozen.
#   loss.sh QUELVORA_HOST OUT_DIR netem|nft|relay [SECONDS]
#   netem: tc netem on the switch port towards Bob (loss and jitter; needs sch_netem)
#   nft:   an nftables rule in Bob's namespace drops datagrams at random (loss only)
#   relay: impair.py on Bob's host relays Alice's datagrams with loss and jitter; Bob then knows
#          her by the relay's address
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
netns_host alice 1
netns_host bob 2
A=$(netns_ip 1) B=$(netns_ip 2)

# impair PERCENT PORT: the fault towards Bob's receive port; prints nothing.
impair() {
  if [ "$MODE" = relay ]; then
    return
  elif [ "$MODE" = netem ]; then
    tc -n "$SW" qdisc del dev bob root 2> /dev/null || true
    [ "$1" = 0 ] || tc -n "$SW" qdisc add dev bob root netem loss "$1%" delay 20ms 20ms
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

SUMMARY=()
for level in 0 1 5; do
  port=$((20000 + level * 100))
  impair "$level" "$port"
  seconds=$SECONDS_CALL
  [ "$level" = 0 ] && seconds=6
  if [ "$MODE" = relay ]; then
    # Alice sends to the relay beside Bob; Bob knows her by the relay's address.
    jitter=20
    [ "$level" = 0 ] && jitter=0
    rm -f "$NETNS_OUT/impair.log"
    ip netns exec "$NETNS_RUN-bob" python3 "$NETNS_DIR/impair.py" "$B:$((port + 7))" "$B:$port" \
      "$level" "$jitter" "$jitter" $((seconds + 3)) > "$NETNS_OUT/impair.log" 2>&1 &
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
  netns_start bob $((seconds + 2)) recv="$B:$port" "peer=alice@$from"
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
  freezes=$(netns_figure bob freezes alice)
  frozen=$(netns_figure bob frozen_ms alice)
  longest=$(netns_figure bob longest_ms alice)
  median=$(netns_figure bob median_ms alice)
  # A freeze that ends within one key-frame interval (30 frames at 15 fps) plus one receive tick.
  within=$(sed -n 's/^bob: freezes of alice ms: //p' "$NETNS_OUT/bob.log" | tr ' ' '\n' |
    awk '$1 != "" && $1 <= 2100 { n++ } END { print n + 0 }')
  mv "$NETNS_OUT/bob-alice.avi" "$NETNS_OUT/bob-alice-$level.avi"
  line="loss $level% ($MODE): frames sent $sent, datagrams dropped $lost, frames recorded $got, pictures drawn $drawn ($((drawn * 100 / sent))% of those sent), freezes $freezes ($within within one key-frame interval), frozen $frozen ms of $((seconds * 1000)), longest $longest ms, median $median ms"
  echo "$line"
  SUMMARY+=("$line")
  netns_check_recording "$NETNS_OUT/bob-alice-$level.avi" "$got"
  # With jitter the fragments of one frame arrive out of order and are appended as they come (the
  # wire carries no fragment number), so what is drawn then depends on what the decoder makes of
  # them: printed, not checked.
  [ "$MODE" != nft ] && [ "$level" != 0 ] || netns_expect "pictures drawn at $level% loss" "$drawn" 15
  [ "$level" = 0 ] || netns_expect "datagrams dropped at $level% loss" "$lost" 1
done
printf '%s\n' "${SUMMARY[@]}"
echo "PASS"
