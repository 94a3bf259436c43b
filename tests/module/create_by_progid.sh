#!/bin/sh
# create_by_progid.sh REGSVR HOST MODULE SCRIPT TMPDIR: registers the module into a registry of
# its own with the registration tool, runs the script (which creates the control by ProgID), and
# unregisters the module again.
set -eu
regsvr=$1 host=$2 module=$3 script=$4 tmp=$5
rm -rf "$tmp"
mkdir -p "$tmp"
export QUELVORA_REGISTRY="$tmp/registry"

out=$("$regsvr" "$module")
[ "$out" = "DllRegisterServer: 0x00000000" ] || { echo "registration: $out"; exit 1; }
"$host" --offscreen "$script" "$tmp"
out=$("$regsvr" /u "$module")
[ "$out" = "DllUnregisterServer: 0x00000000" ] || { echo "unregistration: $out"; exit 1; }
# Unregistered, the ProgID no longer names a class.
! grep -q 'QUELVORA.QuelvoraCtrl.1' "$QUELVORA_REGISTRY"
