#!/usr/bin/env bash
# A two-party call between two hosts: Alice and Bob each send their camera to the other and show
# and record what arrives; every picture shown and recorded is the one the other's camera took.
#   call.sh QUELVORA_HOST OUT_DIR [SECONDS]
source "$(dirname "$0")/netns_lib.sh"
netns_init "$1" "$2"
SECONDS_CALL=${3:-8}
netns_host alice 1
netns_host bob 2
A=$(netns_ip 1) B=$(netns_ip 2)

# Each host receives in one process and sends from a second one; both listen before either sends,
# so each records the other's call from its first key frame.
netns_start bob $((SECONDS_CALL + 2)) recv="$B:20010" "peer=alice@$A:20000" keep
netns_start alice $((SECONDS_CALL + 2)) recv="$A:20012" "peer=bob@$B:20002" keep
netns_ready bob alice
netns_start bob.tx "$SECONDS_CALL" "send=$B:20002>$A:20012"
netns_start alice.tx "$SECONDS_CALL" "send=$A:20000>$B:20010"
netns_finish alice.tx bob.tx alice bob

for pair in "alice bob" "bob alice"; do
  set -- $pair
  sent=$(netns_figure "$1.tx" sent)
  got=$(netns_figure "$2" recorded "$1")
  echo "$1 -> $2: frames sent $sent, frames received and recorded $got, pictures drawn $(netns_figure "$2" drawn "$1")"
  netns_expect "frames $1 sent" "$sent" 30
  netns_expect "frames $2 recorded of $1 (nine in ten of those sent)" "$got" $((sent * 9 / 10))
  netns_expect "pictures $2 drew of $1" "$(netns_figure "$2" drawn "$1")" 30
  netns_check_recording "$NETNS_OUT/$2-$1.avi" "$got"
  netns_check_pictures "$NETNS_OUT/$2-$1.avi"
  netns_check_raw "$NETNS_OUT/$2-drawn.bgr" bottom-up "what $2 drew"
  rm -f "$NETNS_OUT/$2-drawn.bgr"
done
echo "PASS"
