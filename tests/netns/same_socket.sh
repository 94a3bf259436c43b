#!/usr/bin/env bash
# Same-socket mode across hosts: Sol sends and receives on one port and starts out sending to an
# address where nobody is. Viv, also in same-socket mode, announces herself with SendFakeVideo from
# her receive port; Sol's control learns her address and sends its video there.
#   same_socket.sh QUELVORA_HOST OUT_DIR [SECONDS]
source "$(dirname "$0")/netns_lib.sh"
netns_init "$1" "$2"
SECONDS_CALL=${3:-6}
netns_host sol 1
netns_host viv 2
SOL=$(netns_ip 1) VIV=$(netns_ip 2) NOBODY=$(netns_ip 99)

# Sol's call lasts through Viv's wait before she announces herself.
netns_start sol $((SECONDS_CALL + 4)) samesocket recv="$SOL:20010" "send=$SOL:20010>$NOBODY:20099"
netns_ready sol
netns_start viv "$SECONDS_CALL" samesocket recv="$VIV:20020" "peer=sol@$SOL:20010" \
  "announce=$SOL:20010/3" wait=2
netns_finish viv sol

sent=$(netns_figure sol sent)
got=$(netns_figure viv recorded sol)
drawn=$(netns_figure viv drawn sol)
echo "sol -> viv after her announcement: frames sent $sent (the first ones to nobody), frames received and recorded $got, pictures drawn $drawn"
grep -q "^viv: before announcing: datagrams received 0 " "$NETNS_OUT/viv.log" ||
  { echo "FAIL: Viv received video before she announced herself"; exit 1; }
netns_expect "frames viv recorded of sol" "$got" 30
netns_expect "pictures viv drew of sol" "$drawn" 30
netns_check_recording "$NETNS_OUT/viv-sol.avi" "$got"
netns_check_pictures "$NETNS_OUT/viv-sol.avi"
echo "PASS"
