#!/usr/bin/env bash
# The performance table of Mirova against rsync and cp, one row per case:
#   compare  no-change compare of identical trees (mirova --compare vs rsync -a --delete --dry-run)
#   floor    the same trees listed and stat'ed by bench/floor_walker.cpp (the physical limit)
#   sync1%   synchronisation with 1 % of the files changed (mirova --sync vs rsync -a --delete)
#   small    first full copy of many 4 KiB files (vs cp -a and rsync -a)
#   large    first full copy of 8 large files (vs cp -a and rsync -a)
# Trees come from fixed seeds and go below $BENCH_DIR (default /dev/shm when it has room, else
# ${TMPDIR:-/tmp}); every timing is the median of several warm-cache repetitions.
#
#   bench/perf_suite.sh --mirova PATH --floor PATH [--quick] [--reps R] [--max N] [--large-mb MB]
#                       [--keep]
set -euo pipefail
export LC_NUMERIC=C LC_COLLATE=C

root="$(cd "$(dirname "$0")/.." && pwd)"
mirova="$root/build/app/mirova"
floor="$root/build/bench/mirova_floor_walker"
reps=3
sizes=(10000 100000 1000000)
small_count=100000
large_count=8
large_mb=256
sync_count=100000
keep=0
while (($# > 0)); do
    case "$1" in
        --mirova) mirova="$2"; shift 2 ;;
        --floor) floor="$2"; shift 2 ;;
        --reps) reps="$2"; shift 2 ;;
        --max) sizes=(); for n in 10000 100000 1000000; do ((n <= $2)) && sizes+=("$n"); done
               shift 2 ;;
        --large-mb) large_mb="$2"; shift 2 ;;
        --quick) sizes=(10000 100000); small_count=20000; large_count=4; large_mb=64
                 sync_count=20000; reps=3; shift ;;
        --keep) keep=1; shift ;;
        -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
        *) echo "perf_suite: unknown argument: $1" >&2; exit 2 ;;
    esac
done
for tool in "$mirova" "$floor"; do
    [ -x "$tool" ] || { echo "perf_suite: $tool is missing (build first)" >&2; exit 2; }
done
for tool in rsync cp python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "perf_suite: $tool is missing" >&2; exit 2; }
done

# The biggest case needs about 1.5 GiB for two 1M-entry trees and 2 x 8 x 256 MiB for the large
# copy; tmpfs keeps the file system's own cost per file small enough to see the tools' cost.
largest=${sizes[${#sizes[@]} - 1]}
need_kb=$((largest * 2 * 3 + 2 * large_count * large_mb * 1024 + 1024 * 1024))
base="${BENCH_DIR:-}"
if [ -z "$base" ]; then
    base="${TMPDIR:-/tmp}"
    # tmpfs also limits inodes: two trees of the largest case need one each per entry.
    if [ -d /dev/shm ] && (($(df --output=avail -k /dev/shm | tail -n 1) > need_kb)) &&
        (($(df --output=iavail /dev/shm | tail -n 1) > largest * 2 + 100000)); then
        base=/dev/shm
    fi
fi
scratch="$(mktemp -d "$base/mirova-perf.XXXXXX")"
cleanup() { if ((keep)); then echo "kept $scratch" >&2; else rm -rf "$scratch"; fi; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every run's log, settings and locks stay in the scratch folder.
export MIROVA_LOG_DIR="$scratch/log" XDG_CONFIG_HOME="$scratch/config" MIROVA_LOCK_DIR="$scratch/lock"
mkdir -p "$MIROVA_LOG_DIR" "$XDG_CONFIG_HOME" "$MIROVA_LOCK_DIR"
output="$scratch/output.txt"
note() { echo "[$(date +%H:%M:%S)] $*" >&2; }
fail() { echo "perf_suite: FAILED: $*" >&2; tail -n 20 "$output" >&2 || true; exit 1; }

# make_tree DIR ENTRIES MIN MAX SEED: exactly ENTRIES entries (files and folders counted alike),
# 100 files per folder below DIR/aNNN/bN, contents from a seeded pool, fixed whole-second times.
make_tree() {
    python3 - "$@" <<'PY'
import os, random, sys
root, entries, lo, hi, seed = sys.argv[1], *map(int, sys.argv[2:])
rng = random.Random(seed)
pool = rng.randbytes(1 << 20)
base = 1_700_000_000
modes = (0o644, 0o644, 0o644, 0o600, 0o755)
os.makedirs(root, exist_ok=True)
made, count, i = [], 0, 0
while count < entries:
    leaf = i // 100
    top, folder = f"{root}/a{leaf // 10:04d}", f"{root}/a{leaf // 10:04d}/b{leaf % 10}"
    if i % 1000 == 0:
        if count + 3 > entries: break
        os.mkdir(top); made.append(top); count += 1
    if i % 100 == 0:
        if count + 2 > entries: break
        os.mkdir(folder); made.append(folder); count += 1
    size = lo if lo == hi else rng.randint(lo, hi)
    start = rng.randrange(len(pool) - size + 1)
    path = f"{folder}/f{i:07d}.dat"
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, modes[i % len(modes)])
    os.write(fd, pool[start:start + size])
    os.close(fd)
    stamp = base + rng.randrange(86_400 * 365)
    os.utime(path, (stamp, stamp))
    count += 1; i += 1
for folder in reversed(made + [root]):
    os.utime(folder, (base, base))
print(count)
PY
}

# change_files DIR PERCENT SEED: rewrites PERCENT % of the files (same size, other bytes, a
# time one day earlier), the same files every time for the same seed.
change_files() {
    python3 - "$@" <<'PY'
import os, random, sys
root, percent, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
files = sorted(os.path.join(d, f) for d, _, names in os.walk(root) for f in names)
rng = random.Random(seed)
for path in rng.sample(files, max(1, len(files) * percent // 100)):
    st = os.stat(path)
    with open(path, "r+b") as out:
        out.write(b"\xa5" * min(st.st_size, 64))
    os.utime(path, (st.st_mtime - 86_400, st.st_mtime - 86_400))
PY
}

make_large() {
    python3 - "$@" <<'PY'
import os, random, shutil, sys
root, count, mb, seed = sys.argv[1], *map(int, sys.argv[2:])
os.makedirs(root, exist_ok=True)
rng = random.Random(seed)
with open(f"{root}/large0.bin", "wb") as out:
    for _ in range(mb):
        out.write(rng.randbytes(1 << 20))
for i in range(1, count):
    shutil.copyfile(f"{root}/large0.bin", f"{root}/large{i}.bin")
for i in range(count):
    with open(f"{root}/large{i}.bin", "r+b") as out:
        out.write(rng.randbytes(4096))
    os.utime(f"{root}/large{i}.bin", (1_700_000_000 + i,) * 2)
PY
}

listing() { (cd "$1" && find . -printf '%y %p %m %s %T@\n' | sort); }
verify_copy() {
    [ "$(listing "$1" | grep -v '^d' | md5sum)" = "$(listing "$2" | grep -v '^d' | md5sum)" ] ||
        fail "$3: the target's files differ from the source's"
}

declare -A seconds memory
# timed KEY COMMAND...: one run, its wall time (and peak memory) added under KEY.
timed() {
    local key="$1" start end status=0
    shift
    start=$EPOCHREALTIME
    /usr/bin/time -f %M -o "$scratch/mem.txt" "$@" >"$output" 2>&1 </dev/null || status=$?
    end=$EPOCHREALTIME
    ((status == 0)) || fail "$key: '$*' exited with status $status"
    seconds[$key]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') "
    memory[$key]+="$(tail -n 1 "$scratch/mem.txt") "
}
median() { tr ' ' '\n' | sort -g | awk 'NF { v[++n] = $1 } END {
    if (n) print (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'; }
highest() { tr ' ' '\n' | sort -g | awk 'NF { v = $1 } END { print v }'; }

identical="ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"
identical_count() { grep -c "$identical" "$MIROVA_LOG_DIR/Mirova.log" 2>/dev/null || true; }

rows=()
row() { rows+=("$*"); }

compare_case() {
    local n="$1" src="$scratch/cmp-src" dst="$scratch/cmp-dst" rep before threads
    rm -rf "$src" "$dst"
    note "compare $n: making two identical trees"
    make_tree "$src" "$n" 0 100 3 >/dev/null
    cp -a "$src" "$dst"
    [ -z "$(rsync -ai --delete --dry-run "$src/" "$dst/")" ] || fail "the trees differ for rsync"
    threads=$(nproc)
    for ((rep = 1; rep <= reps; rep++)); do
        note "compare $n: repetition $rep of $reps"
        before=$(identical_count)
        timed "cmp$n:mirova" "$mirova" --compare "$src" "$dst" --yes --no-stop-on-error
        (($(identical_count) == before + 1)) || fail "mirova did not find the trees identical"
        timed "cmp$n:rsync" rsync -a --delete --dry-run "$src/" "$dst/"
        timed "floor$n:floor" "$floor" "$src" "$dst"
        timed "floorT$n:floor" "$floor" --threads "$threads" "$src" "$dst"
    done
    row "compare $n cmp$n:mirova cmp$n:rsync rsync-n"
    row "floor $n cmp$n:mirova floor$n:floor walker-1"
    row "floor $n cmp$n:mirova floorT$n:floor walker-$threads"
    rm -rf "$src" "$dst"
}

sync_case() {
    local n="$1" src="$scratch/sync-src" rep tool
    note "sync 1%: making a tree of $n entries"
    make_tree "$src" "$n" 0 4096 4 >/dev/null
    for tool in mirova rsync; do cp -a "$src" "$scratch/sync-$tool"; done
    for ((rep = 1; rep <= reps; rep++)); do
        note "sync 1%: repetition $rep of $reps"
        for tool in mirova rsync; do
            change_files "$scratch/sync-$tool" 1 "$rep"
            sync
            if [ "$tool" = mirova ]; then
                timed "sync:mirova" "$mirova" --sync "$src" "$scratch/sync-mirova" --yes --no-stop-on-error
            else
                timed "sync:rsync" rsync -a --delete "$src/" "$scratch/sync-rsync/"
            fi
            verify_copy "$src" "$scratch/sync-$tool" "sync 1% ($tool)"
        done
    done
    row "sync1% $n sync:mirova sync:rsync rsync"
    rm -rf "$src" "$scratch"/sync-*
}

copy_case() {
    local name="$1" label="$2" src="$3" rep tool target="$scratch/copy-target"
    for ((rep = 1; rep <= reps; rep++)); do
        note "$name: repetition $rep of $reps"
        for tool in mirova cp rsync; do
            rm -rf "$target"; mkdir "$target"; sync
            case "$tool" in
                mirova) timed "$name:mirova" "$mirova" --sync "$src" "$target" --yes --no-stop-on-error
                        verify_copy "$src" "$target" "$name (mirova)" ;;
                cp) timed "$name:cp" cp -a "$src/." "$target" ;;
                rsync) timed "$name:rsync" rsync -a "$src/" "$target/" ;;
            esac
        done
    done
    row "$name $label $name:mirova $name:cp cp-a"
    row "$name $label $name:mirova $name:rsync rsync-a"
    rm -rf "$target"
}

note "scratch $scratch ($(df --output=fstype "$scratch" | tail -n 1)); $(rsync --version | head -n 1)"
for n in "${sizes[@]}"; do compare_case "$n"; done
sync_case "$sync_count"
note "small: making $small_count files of 4 KiB"
make_tree "$scratch/small" "$small_count" 4096 4096 1 >/dev/null
copy_case small "$small_count" "$scratch/small"
rm -rf "$scratch/small"
note "large: making $large_count files of $large_mb MiB"
make_large "$scratch/large" "$large_count" "$large_mb" 2
copy_case large "${large_count}x${large_mb}MiB" "$scratch/large"
rm -rf "$scratch/large"

printf '\n%s, %s cores, %s on %s; median of %d, wall seconds, warm cache\n\n' \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')" "$(nproc)" \
    "$(df --output=fstype "$scratch" | tail -n 1 | tr -d ' ')" "$base" "$reps"
printf '| case | N | mirova median | peer | peer median | ratio | mirova peak memory |\n'
printf '| --- | ---: | ---: | --- | ---: | ---: | ---: |\n'
for line in "${rows[@]}"; do
    read -r name n mkey pkey peer <<<"$line"
    m="$(median <<<"${seconds[$mkey]}")"
    p="$(median <<<"${seconds[$pkey]}")"
    mem="$(highest <<<"${memory[$mkey]}")"
    printf '| %s | %s | %.3f | %s | %.3f | %.2f | %.1f MiB |\n' "$name" "$n" "$m" "$peer" "$p" \
        "$(awk -v a="$m" -v b="$p" 'BEGIN { print a / b }')" "$(awk -v k="$mem" 'BEGIN { print k / 1024 }')"
done
printf '\nEvery repetition, seconds:\n'
for key in $(printf '%s\n' "${!seconds[@]}" | sort); do
    printf '  %-16s %s\n' "$key" "${seconds[$key]}"
done
