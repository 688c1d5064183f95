# Sourced by the DICOM benchmarks: the built orvaline-cli, a scratch folder, and timing helpers.
# Sets root, build ($1, default the README's build folder), cli and work (removed by the caller's
# trap). Needs the caller's first argument passed as "$@".
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
cli="$build/src/cli/orvaline-cli"
[[ -x $cli ]] || { echo "build orvaline-cli first ($cli)"; exit 1; }
work=$(mktemp -d)
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.${2:-3}f\", $1 }"; }
ratio() { calc "$1 / $2" 2; }
