#!/usr/bin/env bash
# "End E&xam..." in the editor: how long ending an exam's performed procedure step holds the GUI
# thread (the click, and the longest gap of the event loop until the end is queued and shown),
# over COUNT exams on an embedded database. Target: under 100 ms.
# usage: bench/exam-end.sh [build-dir]   (COUNT=50)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_examend"
[[ -x $tool ]] || { echo "build orv_bench_examend first ($tool)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
line=$(HOME="$work" XDG_DATA_HOME= XDG_CONFIG_HOME= "$tool" "${COUNT:-50}" "$port")
echo "$line"
worst=$(echo "$line" | awk '{ for (i = 1; i <= NF; ++i) if ($i == "ms") print $(i - 1) }' | sort -n | tail -1)
if (( worst < 100 )); then echo "target met: ${worst} ms < 100 ms"; else echo "target missed: ${worst} ms >= 100 ms"; fi
