#!/usr/bin/env bash
# A relay: Amy sends to Ray only; Ray shows and records her and forwards her datagrams to Bea and
# Cal, who know only Ray and record what he relays.
#   relay.sh QUELVORA_HOST OUT_DIR [SECONDS]
source "$(dirname "$0")/netns_lib.sh"
netns_init "$1" "$2"
SECONDS_CALL=${3:-8}
netns_host amy 1
netns_host bea 2
netns_host cal 3
netns_host ray 10
AMY=$(netns_ip 1) BEA=$(netns_ip 2) CAL=$(netns_ip 3) RAY=$(netns_ip 10)

netns_start bea $((SECONDS_CALL + 2)) recv="$BEA:20010" "peer=ray@$RAY:20010"
netns_start cal $((SECONDS_CALL + 2)) recv="$CAL:20010" "peer=ray@$RAY:20010"
netns_start ray $((SECONDS_CALL + 2)) recv="$RAY:20010" "peer=amy@$AMY:20000" \
  "sink=bea@$BEA:20010" "sink=cal@$CAL:20010" "forward=amy>bea" "forward=amy>cal"
netns_ready bea cal ray
netns_capture $((SECONDS_CALL + 4))
netns_start amy "$SECONDS_CALL" "send=$AMY:20000>$RAY:20010"
netns_finish amy ray bea cal
[ -z "$NETNS_PCAP" ] || wait "$NETNS_PID_tshark" || true

sent=$(netns_figure amy sent)
netns_expect "frames amy sent" "$sent" 30
relayed=$(netns_figure ray datagrams amy)
got=$(netns_figure ray recorded amy)
echo "amy -> ray: frames sent $sent, datagrams $relayed, frames recorded $got"
netns_expect "frames ray recorded of amy (nine in ten of those sent)" "$got" $((sent * 9 / 10))
netns_check_recording "$NETNS_OUT/ray-amy.avi" "$got"
netns_check_pictures "$NETNS_OUT/ray-amy.avi"
for to in bea cal; do
  datagrams=$(netns_figure "$to" datagrams ray)
  got=$(netns_figure "$to" recorded ray)
  echo "amy -> ray -> $to: datagrams relayed $datagrams of $relayed, frames recorded $got, pictures drawn $(netns_figure "$to" drawn ray)"
  netns_expect "datagrams $to received through ray" "$datagrams" 30
  netns_expect "frames $to recorded of amy through ray (nine in ten of those sent)" "$got" $((sent * 9 / 10))
  netns_expect "pictures $to drew" "$(netns_figure "$to" drawn ray)" 30
  netns_check_recording "$NETNS_OUT/$to-ray.avi" "$got"
  netns_check_pictures "$NETNS_OUT/$to-ray.avi"
done
# On the switch: every datagram Ray relays is one Amy sent him, byte for byte (the whole UDP
# payloads compared as tshark shows them).
if [ -n "$NETNS_PCAP" ]; then
  payloads() {
    tshark -r "$NETNS_PCAP" -Y "ip.src==$1 && ip.dst==$2 && udp" -T fields -e udp.payload 2> /dev/null | sort
  }
  payloads "$AMY" "$RAY" > "$NETNS_OUT/amy-ray.txt"
  for to in bea cal; do
    eval "dst=\$${to^^}"
    payloads "$RAY" "$dst" > "$NETNS_OUT/ray-$to.txt"
    n=$(wc -l < "$NETNS_OUT/ray-$to.txt")
    foreign=$(comm -13 "$NETNS_OUT/amy-ray.txt" "$NETNS_OUT/ray-$to.txt" | wc -l)
    echo "ray -> $to on the wire: $n datagrams, $foreign not among the $(wc -l < "$NETNS_OUT/amy-ray.txt") Amy sent"
    netns_expect "datagrams ray relayed to $to on the wire" "$n" 30
    # One in a hundred is allowed for a datagram the capture missed on Amy's side only.
    [ $((foreign * 100)) -le "$n" ] || { echo "FAIL: Ray relayed datagrams to $to that Amy did not send"; exit 1; }
  done
fi
echo "PASS"
