#!/usr/bin/env bash
# Times Mirova's synchronisation against cp -a and rsync -a on the same trees:
#   1. small files: first full copy of N files of 4 KiB into an empty target
#   2. large files: first full copy of 4 large files
#   3. no change:   a re-run over N tiny files that are already in step (and a compare run)
# Each timing is the median of several repetitions with a warm page cache. Every tree is made
# from a fixed seed with whole-second times, so runs are comparable and rsync's and Mirova's
# time comparisons see exactly the same values.
#
#   bench/sync_bench.sh [--mirova PATH] [--small N] [--nochange N] [--large-mb MB] [--reps R]
#                         [--quick] [--keep]
set -euo pipefail
export LC_NUMERIC=C # "." in $EPOCHREALTIME and printf

usage() {
    cat <<'EOF'
Usage: sync_bench.sh [--mirova PATH] [OPTIONS]

  --mirova PATH   the mirova program to time (default: build/app/mirova of this checkout)
  --small N       number of 4 KiB files of the small-file case (default 20000)
  --nochange N    number of tiny files of the no-change case (default 100000)
  --large-mb MB   size of each of the 4 large files in MiB (default 256)
  --reps R        repetitions of each timing; the median is shown (default 3)
  --quick         smoke test: 500 small files, 2 large files of 8 MiB, 2000 no-change files,
                  1 repetition
  --keep          leave the scratch folder in place (its path is printed)
EOF
}

root="$(cd "$(dirname "$0")/.." && pwd)"
mirova="$root/build/app/mirova"
small_count=20000
nochange_count=100000
large_mb=256
large_count=4
reps=3
keep=0

while (($# > 0)); do
    if [[ "$1" =~ ^--(mirova|small|nochange|large-mb|reps)$ ]] && (($# < 2)); then
        echo "sync_bench: $1 needs a value" >&2
        exit 2
    fi
    case "$1" in
        --mirova) mirova="$2"; shift 2 ;;
        --small) small_count="$2"; shift 2 ;;
        --nochange) nochange_count="$2"; shift 2 ;;
        --large-mb) large_mb="$2"; shift 2 ;;
        --reps) reps="$2"; shift 2 ;;
        --quick) small_count=500; large_count=2; large_mb=8; nochange_count=2000; reps=1; shift ;;
        --keep) keep=1; shift ;;
        -h | --help) usage; exit 0 ;;
        *) echo "sync_bench: unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done

for number in "$small_count" "$nochange_count" "$large_mb" "$reps"; do
    if ! [[ "$number" =~ ^[0-9]+$ ]] || ((number < 1)); then
        echo "sync_bench: not a positive whole number: $number" >&2
        exit 2
    fi
done
if [ ! -x "$mirova" ]; then
    echo "sync_bench: no mirova program at $mirova (build first, or give --mirova)" >&2
    exit 2
fi
mirova="$(cd "$(dirname "$mirova")" && pwd)/$(basename "$mirova")"
for tool in cp rsync diff find python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "sync_bench: $tool is missing (scripts/bench installs it)" >&2
        exit 2
    fi
done

# /usr/bin/time gives the peak memory; without it that column is left out.
gnu_time=""
if [ -x /usr/bin/time ] && /usr/bin/time -f %M -o /dev/null true 2>/dev/null; then
    gnu_time=/usr/bin/time
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/mirova-sync-bench.XXXXXX")"
cleanup() {
    if ((keep)); then
        echo "Scratch folder kept: $scratch" >&2
    else
        rm -rf "$scratch"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every run's log goes here, never into the user's own log.
export MIROVA_LOG_DIR="$scratch/log"
mkdir -p "$MIROVA_LOG_DIR"
output="$scratch/output.txt"

note() { echo "[$(date +%H:%M:%S)] $*" >&2; }

fail() {
    echo "sync_bench: FAILED: $*" >&2
    exit 1
}

# make_tree DIR COUNT MIN_SIZE MAX_SIZE SEED: about 100 files per folder, two folder levels
# (DIR/aNNN/bN/fNNNNNNN.dat), contents from a seeded pool, a few modes, fixed whole-second times.
make_tree() {
    python3 - "$@" <<'PY'
import os, random, sys

root, count, min_size, max_size, seed = sys.argv[1], *map(int, sys.argv[2:])
rng = random.Random(seed)
pool = rng.randbytes(1 << 20)
base_time = 1_700_000_000
modes = (0o644, 0o644, 0o644, 0o600, 0o755)
made = set()
for i in range(count):
    leaf = i // 100
    folder = f"{root}/a{leaf // 10:03d}/b{leaf % 10}"
    if folder not in made:
        os.makedirs(folder, exist_ok=True)
        made.add(folder)
    size = min_size if min_size == max_size else rng.randint(min_size, max_size)
    start = rng.randrange(len(pool) - size + 1)
    path = f"{folder}/f{i:07d}.dat"
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    try:
        os.write(fd, pool[start:start + size])
        os.fchmod(fd, modes[i % len(modes)])
    finally:
        os.close(fd)
    stamp = base_time + rng.randrange(86_400 * 365)
    os.utime(path, (stamp, stamp))
# Folder times last: creating the files moved them.
for folder in sorted(made | {os.path.dirname(f) for f in made} | {root}, reverse=True):
    os.utime(folder, (base_time, base_time))
PY
}

# make_large DIR COUNT MB SEED: COUNT files of MB MiB of seeded data, each with its own first
# block so that no two are the same.
make_large() {
    python3 - "$@" <<'PY'
import os, random, shutil, sys

root, count, mb, seed = sys.argv[1], *map(int, sys.argv[2:])
os.makedirs(root, exist_ok=True)
rng = random.Random(seed)
first = f"{root}/large0.bin"
with open(first, "wb") as out:
    for _ in range(mb):
        out.write(rng.randbytes(1 << 20))
for i in range(1, count):
    shutil.copyfile(first, f"{root}/large{i}.bin")
stamp = 1_700_000_000
for i in range(count):
    path = f"{root}/large{i}.bin"
    with open(path, "r+b") as out:
        out.write(rng.randbytes(4096))
    os.utime(path, (stamp + i, stamp + i))
os.utime(root, (stamp, stamp))
PY
}

# Content, kinds and names through diff -r; file sizes, modes and times through a listing.
verify_copy() {
    local source="$1" target="$2" what="$3"
    if ! diff -r "$source" "$target" >"$scratch/diff.txt" 2>&1; then
        head -n 20 "$scratch/diff.txt" >&2
        fail "$what: the target is not a copy of the source (diff -r above)"
    fi
    (cd "$source" && find . -type f -printf '%p %m %s %T@\n' | LC_ALL=C sort) >"$scratch/src.lst"
    (cd "$target" && find . -type f -printf '%p %m %s %T@\n' | LC_ALL=C sort) >"$scratch/dst.lst"
    if ! diff "$scratch/src.lst" "$scratch/dst.lst" >"$scratch/diff.txt"; then
        head -n 20 "$scratch/diff.txt" >&2
        fail "$what: file modes, sizes or times differ (path mode size mtime; < source, > target)"
    fi
}

declare -A seconds memory

# timed KEY COMMAND...: runs COMMAND once, adds its wall time (and peak memory) under KEY.
# Its output goes to $output; a failure shows it and stops the benchmark.
timed() {
    local key="$1" start end status=0
    shift
    start=$EPOCHREALTIME
    if [ -n "$gnu_time" ]; then
        "$gnu_time" -f %M -o "$scratch/memory.txt" "$@" >"$output" 2>&1 </dev/null || status=$?
    else
        "$@" >"$output" 2>&1 </dev/null || status=$?
    fi
    end=$EPOCHREALTIME
    if ((status != 0)); then
        tail -n 20 "$output" >&2
        fail "$key: '$*' exited with status $status"
    fi
    seconds[$key]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') "
    if [ -n "$gnu_time" ]; then
        memory[$key]+="$(tail -n 1 "$scratch/memory.txt") "
    fi
}

# median / highest of the space-separated numbers on standard input; nothing for none.
median() { tr ' ' '\n' | sort -g | awk 'NF { v[++n] = $1 } END {
    if (n) print (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'; }
highest() { tr ' ' '\n' | sort -g | awk 'NF { v = $1 } END { if (v != "") print v }'; }

# A fresh, empty target with nothing of the last run still waiting to be written.
fresh_target() {
    rm -rf "$1"
    mkdir "$1"
    sync
}

# copy_once NAME TOOL SOURCE TARGET: one timed first copy into a fresh, empty target.
copy_once() {
    local name="$1" tool="$2" source="$3" target="$4"
    fresh_target "$target"
    case "$tool" in
        mirova)
            timed "$name:mirova" "$mirova" --sync "$source" "$target" --yes --no-stop-on-error
            verify_copy "$source" "$target" "$name (mirova --sync)"
            ;;
        cp) timed "$name:cp" cp -a "$source/." "$target" ;;
        rsync) timed "$name:rsync" rsync -a "$source/" "$target/" ;;
    esac
}

# copy_case NAME SOURCE: every tool once per repetition. The order turns with each repetition
# so that no tool always comes first (the first copy after making a tree is often slower).
copy_case() {
    local name="$1" source="$2" target="$scratch/target" rep step
    local tools=(mirova cp rsync)
    for ((rep = 1; rep <= reps; rep++)); do
        note "$name: repetition $rep of $reps"
        for ((step = 0; step < 3; step++)); do
            copy_once "$name" "${tools[(rep - 1 + step) % 3]}" "$source" "$target"
        done
    done
    rm -rf "$target"
}

# A re-run over trees already in step must find nothing: Mirova writes so to its run log (it
# shows the message too, but not with --no-stop-on-error), rsync lists nothing.
identical_message="ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"
identical_count() { grep -c "$identical_message" "$MIROVA_LOG_DIR/Mirova.log" 2>/dev/null || true; }
expect_identical() {
    if (($(identical_count) != $2 + 1)); then
        tail -n 20 "$output" >&2
        tail -n 8 "$MIROVA_LOG_DIR/Mirova.log" >&2
        fail "$1: mirova did not find the trees identical (run log above)"
    fi
}

nochange_case() {
    local source="$1" target="$scratch/nochange-target" rep before
    note "nochange: first synchronisation of $nochange_count files"
    fresh_target "$target"
    "$mirova" --sync "$source" "$target" --yes --no-stop-on-error >"$output" 2>&1 </dev/null ||
        { tail -n 20 "$output" >&2; fail "nochange: the first mirova --sync failed"; }
    verify_copy "$source" "$target" "nochange (mirova --sync)"
    # rsync also keeps folder times; let it settle them once so that its timed runs find
    # nothing either.
    rsync -a --delete "$source/" "$target/"
    if [ -n "$(rsync -ani --delete "$source/" "$target/")" ]; then
        fail "nochange: rsync still finds differences after the first synchronisation"
    fi
    sync
    # Mirova and rsync take turns at coming first.
    for ((rep = 1; rep <= reps; rep++)); do
        note "nochange: repetition $rep of $reps"
        if ((rep % 2 == 0)); then
            timed "nochange:rsync" rsync -a --delete "$source/" "$target/"
            timed "compare:rsync" rsync -an --delete "$source/" "$target/"
        fi
        before=$(identical_count)
        timed "nochange:mirova" "$mirova" --sync "$source" "$target" --yes --no-stop-on-error
        expect_identical "nochange (mirova --sync)" "$before"
        before=$(identical_count)
        timed "compare:mirova" "$mirova" --compare "$source" "$target" --yes --no-stop-on-error
        expect_identical "nochange (mirova --compare)" "$before"
        if ((rep % 2 == 1)); then
            timed "nochange:rsync" rsync -a --delete "$source/" "$target/"
            timed "compare:rsync" rsync -an --delete "$source/" "$target/"
        fi
    done
    verify_copy "$source" "$target" "nochange (after the re-runs)"
}

cell() { if [ -n "$1" ]; then printf '%.3f' "$1"; else printf -- '-'; fi; }
ratio() {
    if [ -n "$1" ] && [ -n "$2" ]; then
        awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'
    else
        printf -- '-'
    fi
}

print_table() {
    local name size m c r mem
    printf '\nMirova synchronisation benchmark: median of %d, wall seconds, warm page cache\n' "$reps"
    printf '%-10s %-20s %10s %10s %10s %10s %13s' case "N / size" mirova "cp -a" rsync \
        mirova/cp mirova/rsync
    if [ -n "$gnu_time" ]; then
        printf ' %14s' "mirova peak"
    fi
    printf '\n'
    while read -r name size; do
        m="$(median <<<"${seconds[$name:mirova]:-}")"
        c="$(median <<<"${seconds[$name:cp]:-}")"
        r="$(median <<<"${seconds[$name:rsync]:-}")"
        printf '%-10s %-20s %10s %10s %10s %10s %13s' "$name" "${size//_/ }" "$(cell "$m")" \
            "$(cell "$c")" "$(cell "$r")" "$(ratio "$m" "$c")" "$(ratio "$m" "$r")"
        if [ -n "$gnu_time" ]; then
            mem="$(highest <<<"${memory[$name:mirova]:-}")"
            printf ' %11s MiB' "$(awk -v k="$mem" 'BEGIN { printf "%.1f", k / 1024 }')"
        fi
        printf '\n'
    done <<EOF
small ${small_count}_x_4_KiB
large ${large_count}_x_${large_mb}_MiB
nochange ${nochange_count}_tiny_files
compare ${nochange_count}_tiny_files
EOF
    printf '\nnochange: mirova --sync vs rsync -a --delete, nothing to do.\n'
    printf 'compare:  mirova --compare vs rsync -an --delete (dry run), same trees.\n'
    printf 'Scratch folder on %s (%s).\n' "$(df --output=fstype "$scratch" | tail -n 1)" \
        "${TMPDIR:-/tmp}"
    printf '\nEvery repetition, seconds:\n'
    for name in small large nochange compare; do
        for tool in mirova cp rsync; do
            if [ -n "${seconds[$name:$tool]:-}" ]; then
                printf '  %-17s %s\n' "$name $tool" "${seconds[$name:$tool]}"
            fi
        done
    done
}

note "scratch folder $scratch; mirova $mirova; $(rsync --version | head -n 1)"

note "small: making $small_count files of 4 KiB"
make_tree "$scratch/small" "$small_count" 4096 4096 1
copy_case small "$scratch/small"
rm -rf "$scratch/small"

note "large: making $large_count files of $large_mb MiB"
make_large "$scratch/large" "$large_count" "$large_mb" 2
copy_case large "$scratch/large"
rm -rf "$scratch/large"

note "nochange: making $nochange_count files of 0 to 100 bytes"
make_tree "$scratch/nochange" "$nochange_count" 0 100 3
nochange_case "$scratch/nochange"

print_table
