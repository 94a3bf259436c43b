#!/usr/bin/env bash
# A three-party multicast conference: Ann, Ben and Cid each send to one group and receive the
# group; each tells the other two apart with AddClient, shows each in turn and records each.
#   conference.sh QUELVORA_HOST OUT_DIR [SECONDS]
source "$(dirname "$0")/netns_lib.sh"
netns_init "$1" "$2"
SECONDS_CALL=${3:-10}
GROUP=239.77.0.1:20100
MEMBERS=(ann ben cid)
for i in 0 1 2; do netns_host "${MEMBERS[$i]}" $((i + 1)); done

# Each member receives in one process and sends from a second one; all listen before any sends.
for i in 0 1 2; do
  args=(recv=$GROUP)
  for j in 0 1 2; do
    [ "$i" -ne "$j" ] && args+=("peer=${MEMBERS[$j]}@$(netns_ip $((j + 1))):20000")
  done
  netns_start "${MEMBERS[$i]}" $((SECONDS_CALL + 4)) "${args[@]}"
done
netns_ready "${MEMBERS[@]}"
netns_capture $((SECONDS_CALL + 5))
for i in 0 1 2; do
  netns_start "${MEMBERS[$i]}.tx" "$SECONDS_CALL" "send=$(netns_ip $((i + 1))):20000>$GROUP"
done
netns_finish ann.tx ben.tx cid.tx "${MEMBERS[@]}"
[ -z "$NETNS_PCAP" ] || wait "$NETNS_PID_tshark" || true

for from in "${MEMBERS[@]}"; do
  sent=$(netns_figure "$from.tx" sent)
  netns_expect "frames $from sent" "$sent" 30
  for to in "${MEMBERS[@]}"; do
    [ "$from" = "$to" ] && continue
    got=$(netns_figure "$to" recorded "$from")
    drawn=$(netns_figure "$to" drawn "$from")
    echo "$from -> $to: frames sent $sent, frames received and recorded $got, pictures drawn while shown $drawn"
    netns_expect "frames $to recorded of $from (nine in ten of those sent)" "$got" $((sent * 9 / 10))
    netns_expect "pictures $to drew of $from" "$drawn" 10
    netns_check_recording "$NETNS_OUT/$to-$from.avi" "$got"
    netns_check_pictures "$NETNS_OUT/$to-$from.avi"
  done
done

# The group's datagrams as a dissector reads them on the switch: RTP version 2 from each member's
# own address, and what each member received of them.
if [ -n "$NETNS_PCAP" ]; then
  for i in 0 1 2; do
    from=${MEMBERS[$i]}
    fields=$(tshark -r "$NETNS_PCAP" -d udp.port==${GROUP#*:},rtp -T fields -e rtp.version -e ip.ttl \
      -Y "ip.src==$(netns_ip $((i + 1))) && ip.dst==${GROUP%:*} && udp.port==${GROUP#*:}" 2> /dev/null)
    wire=$(echo "$fields" | grep -c "^2" || true)
    echo "$from on the wire: $wire RTP datagrams to ${GROUP%:*} (TTL $(echo "$fields" | cut -f2 | sort -u | tr '\n' ' '| sed 's/ $//'))"
    netns_expect "RTP datagrams of $from on the wire" "$wire" 30
    [ "$wire" -eq "$(echo "$fields" | grep -c .)" ] || { echo "FAIL: datagrams of $from that are not RTP version 2"; exit 1; }
    for to in "${MEMBERS[@]}"; do
      [ "$from" = "$to" ] && continue
      netns_expect "datagrams $to received of $from's $wire on the wire (nine in ten)" \
        "$(netns_figure "$to" datagrams "$from")" $((wire * 9 / 10))
    done
  done
fi
echo "PASS"
