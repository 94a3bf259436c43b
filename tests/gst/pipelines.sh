#!/usr/bin/env bash
# The README's pipelines, run as a user runs them, each beside a control in quelvora-host:
#   watch   control -> quelvorasrc ! avdec_mpeg4 ! videoconvert (the pictures kept in a file)
#   lossy   the same through a link that loses and repeats datagrams (tests/netns/impair.py)
#   record  control -> quelvorasrc ! mpeg4videoparse ! mp4mux, read back by ffprobe and FFmpeg
#   rtp     control -> quelvorasrc ! rtpmp4vpay ! udpsink, played by FFmpeg from the README's SDP file
#   send    videotestsrc ! avenc_mpeg4 ! quelvorasink -> a control that shows and records it
# Every picture decoded from the test camera is checked against it with qv-picture-check.
#   pipelines.sh QUELVORA_HOST QV_PICTURE_CHECK PLUGIN_DIR SOURCE_DIR OUT_DIR
set -euo pipefail
qvhost=$1 check=$2 src=$4 out=$5
export GST_PLUGIN_PATH=$3 QT_QPA_PLATFORM=offscreen
rm -rf "$out" && mkdir -p "$out" && cd "$out"

fail() { echo "FAILED: $*"; exit 1; }
# GStreamer's programs, with the sanitizers' runtimes first when the plugin was built with them (env
# runs the program in its own place, so that a signal to it reaches the program). Leaks are not
# looked for in them: they are GStreamer's programs, and GLib keeps blocks of its own for good; the
# elements' own leaks are looked for in test_gst, in one process under the sanitizer.
gst_env=("LD_PRELOAD=${QV_GST_PRELOAD:-}" "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0")
launch=(env "${gst_env[@]}" gst-launch-1.0)
inspect=(env "${gst_env[@]}" gst-inspect-1.0)
# Ports below 32768 (the control's are signed 16-bit), four per run, apart from other tests' runs.
port=$((20000 + (RANDOM % 3000) * 4))
W=352 H=288

# Sends the test camera for 4 seconds to 127.0.0.1:$1 while a pipeline (the rest) receives it.
# Prints the frames the control sent.
watch_control() {
  local to=$1 name=$2; shift 2
  "${launch[@]}" -e "$@" > "$name-gst.log" 2>&1 &
  local gst=$!
  sleep 1
  "$qvhost" --offscreen "$src/examples/send_camera.js" "127.0.0.1:$to" 4 Alice $((port + 1)) > "$name-send.log"
  sleep 1
  kill -INT $gst
  wait $gst || fail "$name: gst-launch-1.0 failed: $(tail -3 "$name-gst.log")"
  sed -n 's/^send_camera: frames sent: //p' "$name-send.log"
}

# The pictures in a file of raw B,G,R pictures; fails unless every one is right and there are at least $3.
expect_pictures() {
  local file=$1 order=$2 least=$3 result
  result=$("$check" "$file" $W $H "$order") || fail "$file: $result"
  local n=$(( $(stat -c %s "$file") / (W * H * 3) ))
  [ "$n" -ge "$least" ] || fail "$file: $n pictures, fewer than $least"
  echo "$file: $result"
}

"${inspect[@]}" quelvorasrc > /dev/null || fail "quelvorasrc is not registered"
"${inspect[@]}" quelvorasink > /dev/null || fail "quelvorasink is not registered"

# Watch: the README's line, with the pictures kept instead of shown.
sent=$(watch_control $port watch quelvorasrc port=$port ! avdec_mpeg4 ! videoconvert ! video/x-raw,format=BGR \
       ! filesink location=watch.bgr)
expect_pictures watch.bgr top-down $((sent - 2))

# Lossy: 3% of the datagrams lost and 5% repeated on the way; requests go back to the control. After
# each loss the picture waits for a key frame, whose several datagrams may be lost in turn: how many
# pictures come through varies from run to run, and none may be wrong.
python3 "$src/tests/netns/impair.py" 127.0.0.1:$((port + 2)) 127.0.0.1:$port 3 0 0 8 5 1 > lossy-link.log &
link=$!
sent=$(watch_control $((port + 2)) lossy quelvorasrc port=$port ! avdec_mpeg4 ! videoconvert \
       ! video/x-raw,format=BGR ! filesink location=lossy.bgr)
wait $link
cat lossy-link.log
expect_pictures lossy.bgr top-down 5
answered=$(sed -n 's/^send_camera: key frames for requests: //p' lossy-send.log)
[ "$answered" -ge 1 ] || fail "lossy: no key frame was made for a request"
echo "lossy: the control made $answered key frames for requests"

# Record: the README's line; FFmpeg reads every frame of the file.
sent=$(watch_control $port record quelvorasrc port=$port ! mpeg4videoparse ! mp4mux ! filesink location=record.mp4)
record_frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 record.mp4)
[ "$record_frames" -ge $((sent - 2)) ] || fail "record.mp4: $record_frames frames of $sent sent"
ffmpeg -v error -y -i record.mp4 -fps_mode passthrough -f rawvideo -pix_fmt bgr24 record.bgr
expect_pictures record.bgr top-down "$record_frames"

# RTP: the README's SDP file, played by FFmpeg.
rtp=$((port + 3))
cat > sender.sdp <<SDP
v=0
o=- 0 0 IN IP4 127.0.0.1
s=Alice
c=IN IP4 127.0.0.1
t=0 0
m=video $rtp RTP/AVP 96
a=rtpmap:96 MP4V-ES/90000
SDP
ffmpeg -v error -y -protocol_whitelist file,udp,rtp -i sender.sdp -fps_mode passthrough -f rawvideo \
  -pix_fmt bgr24 rtp.bgr &
player=$!
sent=$(watch_control $port rtp quelvorasrc port=$port ! rtpmp4vpay config-interval=1 ! udpsink host=127.0.0.1 port=$rtp)
sleep 1
kill -INT $player
wait $player || true
expect_pictures rtp.bgr top-down $((sent - 5))

# Send: the README's lines into a control that shows and records at the size it is told (CIF); FFmpeg
# reads the recording. The control's announcement socket takes its port + 1.
# Runs the pipeline given (the rest) into a control on $port that keeps what it draws, as $1; $2
# pictures go in.
send_into_control() {
  local name=$1 pictures=$2; shift 2
  mkdir -p "$name"
  "$qvhost" --offscreen "$src/examples/receive.js" $port 127.0.0.1:$((port + 2)) 7 "$name" keep > "$name/receive.log" &
  local receiver=$!
  sleep 1
  "${launch[@]}" "$@" > "$name/gst.log" 2>&1 || fail "$name: gst-launch-1.0 failed: $(tail -3 "$name/gst.log")"
  wait $receiver || fail "$name: the receiving control failed"
  cat "$name/receive.log"
  local drawn recorded frames
  drawn=$(sed -n 's/^receive: pictures drawn: //p' "$name/receive.log")
  recorded=$(sed -n 's/^receive: frames recorded: //p' "$name/receive.log")
  [ "$drawn" -ge $((pictures - 2)) ] || fail "$name: $drawn pictures drawn of $pictures sent"
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 \
           "$name/received.avi")
  [ "$frames" -ge "$recorded" ] && [ "$recorded" -ge 30 ] || fail "$name: $recorded recorded, $frames read back"
}
sink="quelvorasink host=127.0.0.1 port=$port bind-port=$((port + 2)) user-name=Gus"
send_into_control test 60 videotestsrc is-live=true num-buffers=60 ! video/x-raw,width=352,height=288,framerate=15/1 \
  ! videoconvert ! avenc_mpeg4 bitrate=250000 ! $sink
# The recording made above (as many pictures as it holds), the camera's pictures encoded twice now:
# every one still the camera's.
send_into_control file "$record_frames" filesrc location=record.mp4 ! decodebin ! videoconvert ! videoscale \
  ! video/x-raw,width=352,height=288 ! clocksync ! avenc_mpeg4 bitrate=250000 ! $sink
result=$("$check" file/received-drawn.bgr $W $H bottom-up 24) || fail "file: $result"
echo "file/received-drawn.bgr: $result"
echo "pipelines: all right"
