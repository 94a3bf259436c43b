#!/usr/bin/env bash
# A two-party call between two hosts: Alice and Bob each send their camera to the other and show
# and record what arrives.
#   call.sh QUELVORA_HOST OUT_DIR [SECONDS]
source "$(dirname "$0")/netns_lib.sh"
netns_init "$1" "$2"
SECONDS_CALL=${3:-8}
netns_host alice 1
netns_host bob 2
A=$(netns_ip 1) B=$(netns_ip 2)

netns_start bob "$SECONDS_CALL" recv="$B:20010" "peer=alice@$A:20000" "send=$B:20002>$A:20012"
netns_start alice "$SECONDS_CALL" recv="$A:20012" "peer=bob@$B:20002" "send=$A:20000>$B:20010"
netns_ready bob alice
netns_finish alice bob

for pair in "alice bob" "bob alice"; do
  set -- $pair
  sent=$(netns_figure "$1" sent)
  got=$(netns_figure "$2" recorded "$1")
  echo "$1 -> $2: frames sent $sent, frames received and recorded $got, pictures drawn $(netns_figure "$2" drawn "$1")"
  netns_expect "frames $1 sent" "$sent" 30
  netns_expect "frames $2 recorded of $1" "$got" 30
  netns_expect "pictures $2 drew of $1" "$(netns_figure "$2" drawn "$1")" 30
  netns_check_recording "$NETNS_OUT/$2-$1.avi" "$got"
done
echo "PASS"
