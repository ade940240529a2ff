#!/usr/bin/env bash
# Runs the libFuzzer entry points on seeds taken from ../shared/testdata.
#   scripts/fuzz.sh NAME SECONDS   builds (scripts/build_fuzz.sh) and runs NAME_fuzz
#   scripts/fuzz.sh all SECONDS    runs every entry point in turn; fails on any finding
#   scripts/fuzz.sh -j N all SECONDS   the same, N entry points at a time
#   scripts/fuzz.sh list           names the entry points
# The seed corpus is gathered into a temporary folder, grown there and removed at the
# end; findings are kept in build-fuzz/fuzz-findings/, the last log of each fuzzer in
# build-fuzz/fuzz-logs/. Without the test data a
# fuzzer starts from its few built-in seeds.
# Environment: VEXA_FUZZ_BUILD_DIR=<dir> uses fuzzers already built there (no build);
# VEXA_FUZZ_TIMEOUT (seconds per input, default 5), VEXA_FUZZ_ARGS (extra options).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
names=$(sed -n 's/^vexa_add_fuzzer(\([a-z0-9_]*\)_fuzz.*/\1/p' fuzz/*.cmake | sort)
name_list=$(tr '\n' ' ' <<<"$names")

if [ "${1:-}" = list ]; then
  echo "$names"
  exit 0
fi
parallel=1
if [ "${1:-}" = -j ]; then
  parallel=${2:-}
  shift 2 || true
fi
if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]] || ! [[ $parallel =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [-j N] NAME|all SECONDS (names: $name_list)" >&2
  exit 2
fi
target=$1
seconds=$2
if [ "$target" != all ] && ! grep -qx "$target" <<<"$names"; then
  echo "unknown fuzzer '$target' (names: $name_list)" >&2
  exit 2
fi

if [ -n "${VEXA_FUZZ_BUILD_DIR:-}" ]; then
  build=$(cd "$VEXA_FUZZ_BUILD_DIR" && pwd)
else
  bash scripts/build_fuzz.sh
  build=$root/build-fuzz
fi
testdata=$(cd "$root/.." && pwd)/shared/testdata
findings=$build/fuzz-findings
mkdir -p "$findings" "$build/fuzz-logs"
work=$(mktemp -d "${TMPDIR:-/tmp}/vexa-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The entry points write their scratch files under TMPDIR: memory is faster than disk.
if [ -w /dev/shm ]; then
  scratch=/dev/shm
else
  scratch=$work
fi

# Copies the files of the test data matching the patterns into the corpus, each with
# an optional prefix of control bytes (printf escapes). Files above 256 KB are left out.
add() {
  local corpus=$1 prefix=$2
  shift 2
  [ -d "$testdata" ] || return 0
  local f n=0
  for pattern in "$@"; do
    while IFS= read -r -d '' f; do
      [ "$(stat -c %s "$f")" -le 262144 ] || continue
      n=$((n + 1))
      { printf '%b' "$prefix"; cat "$f"; } >"$corpus/seed_${n}_$(basename "$f" | tr -c 'A-Za-z0-9._-' _)"
    done < <(find "$testdata" -path "$testdata/$pattern" -type f -print0 2>/dev/null)
  done
}

# A built-in seed given as printf text.
builtins=0
seed() {
  builtins=$((builtins + 1))
  printf '%b' "$2" >"$1/builtin_$builtins"
}

logical='<LOGICAL width="5" height="3" depth="4"><PART NAME="a.gdr" X="0" Y="0" Z="0"/><PART NAME="b.inr" X="2" Y="0" Z="1"/></LOGICAL>'

gather() {
  local name=$1 corpus=$2
  case $name in
    colormap)
      add "$corpus" "" 'colormap/*.xml'
      for f in "$root"/colormap/*.xml; do cp "$f" "$corpus/"; done ;;
    config)
      seed "$corpus" '<VEXA><LIBRARY><PATH>/opt/a.so</PATH><PATH>b.so</PATH><PATH/></LIBRARY><PATHS><STUDY PATH="/data"/></PATHS><WINDOWS MANAGEMENT="MULTIPLE" CORRECTION="1"/></VEXA>'
      seed "$corpus" '-config /tmp/vexa.xml -in image.gdr' ;;
    formats)
      # The first byte picks the name the bytes are given (fuzz/formats_fuzz.cpp).
      add "$corpus" '\x00' 'volume/nrrd/*.nrrd'
      add "$corpus" '\x02' 'volume/metaimage/*.mha'
      add "$corpus" '\x04' 'volume/inr/*.inr'
      add "$corpus" '\x06' 'volume/vtk/*.vtk'
      # DICOM files (the \x08 path, their own preamble cut) are left out for now: from
      # them GDCM soon finds declared lengths it allocates before reading (1.3 GB for a
      # 7 KB file) in files our element walk lets through.
      ;;
    inriaref)
      add "$corpus" '\x04' 'volume/inr/*.inr'
      add "$corpus" '\x0c' 'volume/inr/*.inr' ;;
    menudesc)
      python3 - "$corpus" <<'EOF' || true
import struct, sys
def entry(text, code):
    return text.encode().ljust(200, b"\0")[:200] + struct.pack("<i", code)
d = struct.pack("<i", 1000)
d += entry("Filtres", 0) + entry("Moyenne", 1) + entry("", -4) + entry("Sous", 0)
d += entry("Profond", 2) + entry("", -1) + entry("", -7) + entry("Fin", 7)
open(sys.argv[1] + "/builtin_menu", "wb").write(d)
EOF
      ;;
    mesh)
      add "$corpus" "" 'mesh/*/*' ;;
    meshfile)
      add "$corpus" '\x00' 'mesh/stl/*'
      add "$corpus" '\x01' 'mesh/off/*'
      add "$corpus" '\x02' 'mesh/vtk/*'
      seed "$corpus" '\x03Data3D_V1.0\nrouge : 10\nvert : 20\nbleu : 30\n' ;;
    params)
      seed "$corpus" 'Nom%s%nTaille%d%nMode%l%n' ;;
    quill)
      add "$corpus" "" 'colormap/*.xml'
      seed "$corpus" "$logical" ;;
    rawimport)
      # headsq: 16-bit little-endian, 64 x 64 x 93 (sizes stored plus 2).
      add "$corpus" '\x50\x01\x42\x00\x00\x00\x42\x00\x00\x00\x5f\x00\x00\x00' 'volume/raw/*.raw'
      add "$corpus" '\x02\x01\xb7\x00\x00\x00\xdb\x00\x00\x00' 'volume/metaimage/*.raw' ;;
    script | scriptfile)
      seed "$corpus" '1 + 2 * 3\n(4 - 1) / 2\n'
      seed "$corpus" 'x = 2\nx * x\n' ;;
    series)
      add "$corpus" '\x01\xff\xff' 'bmp/bmpsuite/g/pal8.bmp' 'volume/inr/*.inr' 'tiff/pillow/16bit.cropped.tif'
      add "$corpus" '\x03\x55\xaa' 'volume/inr/sphere.inr' ;;
    vexafile)
      add "$corpus" "" 'volume/*/*' 'bmp/bmpsuite/*/*.bmp' 'tiff/*/*.tif*' ;;
    vexafileio)
      add "$corpus" '\x00\x00\x00\x04\x04\x02\x00' 'volume/inr/*' 'volume/nrrd/*.nrrd' 'tiff/image-tiff/*.tiff'
      add "$corpus" '\xff\x01\x00\x10\x03\x03\x01' 'volume/inr/sphere.inr' 'bmp/bmpsuite/g/pal8.bmp'
      seed "$corpus" "\x00\x00\x00\x05\x03\x04\x00$logical"
      seed "$corpus" "\x01\x00\x00\xfd\x02\x02\x02$logical" ;;
    video)
      # Tiny films written by the entry point itself through the film writer (the
      # encoder libraries keep a few bytes to the end: no leak check there).
      VEXA_FUZZ_SEEDS=$corpus ASAN_OPTIONS=detect_leaks=0 "$build/bin/video_fuzz" \
        >/dev/null 2>&1 || true ;;
  esac
}

# Runs one fuzzer; prints its figures and returns non-zero on a finding. Its run count
# is left in $work/NAME.runs for the total, as parallel runs share no variable.
run() {
  local name=$1 corpus=$work/$1 log=$work/$1.log
  mkdir -p "$corpus"
  gather "$name" "$corpus"
  local status=0 extra=()
  read -ra extra <<<"${VEXA_FUZZ_ARGS:-}"
  TMPDIR=$scratch UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build/bin/${name}_fuzz" "$corpus" -max_total_time="$seconds" \
    -timeout="${VEXA_FUZZ_TIMEOUT:-5}" -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -max_len=262144 -print_final_stats=1 -artifact_prefix="$findings/${name}-" \
    "${extra[@]}" >"$log" 2>&1 &
  local pid=$!
  wait $pid || status=$?
  # A finding ends the fuzzer before it can remove its scratch folder.
  rm -rf "$scratch/vexa_fuzz_$pid"
  # A timeout is run again alone, three times: one that passes every time was the
  # machine stalling (two fuzzers share two cores), not the input. A slow input fails
  # again and stays a finding.
  local unit note=""
  unit=$(sed -n 's/.*Test unit written to \(.*timeout-[0-9a-f]*\)$/\1/p' "$log" | tail -1)
  if [ $status -ne 0 ] && [ -n "$unit" ] && [ -f "$unit" ]; then
    local again=0 i start elapsed=""
    for i in 1 2 3; do
      start=$(date +%s%N)
      TMPDIR=$scratch "$build/bin/${name}_fuzz" -timeout="${VEXA_FUZZ_TIMEOUT:-5}" \
        -rss_limit_mb=2048 -malloc_limit_mb=1024 "$unit" >"$log.again" 2>&1 || again=1
      elapsed+=" $(( ($(date +%s%N) - start) / 1000000 )) ms"
    done
    if [ $again -eq 0 ]; then
      note="  (a timeout that did not come back alone:$elapsed; kept in $unit)"
      status=0
    fi
  fi
  local runs cov ft kept
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # With -fork=N (campaigns that go on past findings) only the progress lines count
  # the runs, and they tell the findings kept: oom/timeout/crash.
  [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\): .*/\1/p' "$log" | tail -1)
  kept=$(grep -o 'oom/timeout/crash: [0-9/]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  echo "${runs:-0}" >"$work/$name.runs"
  printf '%-12s %10s runs  cov %6s  ft %6s  %s%s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" \
    "$([ $status -eq 0 ] && echo ok || echo "FAILED ($status)")" \
    "${kept:+  oom/timeout/crash $kept}$note"
  cp "$log" "$build/fuzz-logs/${name}.log"
  if [ $status -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|Test unit written|==[0-9]+==' "$log" | head -20 >&2 || true
    # The finding itself, so that a run on another machine can be replayed here.
    local written
    written=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    if [ -n "$written" ] && [ -f "$written" ] && [ "$(stat -c %s "$written")" -le 16384 ]; then
      echo "finding, base64:" >&2
      base64 -w 100 "$written" >&2
    fi
    cp "$log" "$findings/${name}.log"
  fi
  return $status
}

if [ "$target" != all ]; then
  run "$target"
  exit $?
fi
failed=0
if [ "$parallel" -eq 1 ]; then
  for name in $names; do
    run "$name" || failed=1
  done
else
  # Statuses go through files: wait -n does not say which run ended.
  for name in $names; do
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
      wait -n || true
    done
    { run "$name" || touch "$work/$name.failed"; } &
  done
  wait
  ! compgen -G "$work/*.failed" >/dev/null || failed=1
fi
total_runs=0
for name in $names; do
  total_runs=$((total_runs + $(cat "$work/$name.runs" 2>/dev/null || echo 0)))
done
echo "total: $total_runs runs, $([ $failed -eq 0 ] && echo 'no finding' || echo 'findings above')"
exit $failed
