#!/usr/bin/env bash
# The performance table of Mirova against rsync and cp, one row per case:
#   compare  no-change compare of identical trees (mirova --compare vs rsync -a --delete --dry-run)
#   floor    the same trees listed and stat'ed by bench/floor_walker.cpp (the physical limit)
#   sync1%   synchronisation with 1 % of the files changed (mirova --sync vs rsync -a --delete)
#   small    first full copy of many 4 KiB files (vs cp -a and rsync -a)
#   large    first full copy of 8 large files (vs cp -a and rsync -a)
# and the same kinds of work onto a network mount, sshfs to 127.0.0.1 with its caches off
# (bench/sshfs_rig.sh: a private sshd, every stat and every file creation a round trip):
#   net-compare      no-change compare, source local, target on the mount (vs rsync -n), also
#                    with MIROVA_SCAN_THREADS=1, and the floor walker on the same trees
#   net-small        first copy of many 4 KiB files onto the mount (vs cp -a and rsync -a)
#   net-sync1%       synchronisation onto the mount with 1 % of the files changed (vs rsync)
# N is entries per side for the local cases and files per side for the network ones.
# Trees come from fixed seeds and go below $BENCH_DIR (default /dev/shm when it has room, else
# ${TMPDIR:-/tmp}); every timing is the median of several warm-cache repetitions.
#
#   bench/perf_suite.sh --mirova PATH --floor PATH [--quick] [--reps R] [--max N] [--large-mb MB]
#                       [--net-only | --no-net] [--net-files N] [--net-small N]
#                       [--net-floor-threads T] [--wait-load L] [--label TEXT] [--keep]
# --net-only runs only the network cases, --no-net only the local ones; --net-files (default
# 10000) and --net-small (default 5000) set their sizes, also under --quick. With --wait-load L
# every case first waits (up to 10 minutes) for the 1-minute load average to fall below L;
# the table's header gives the load average at the start and at the end either way. The header
# names the checkout's commit unless --label says which build the binary is.
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
run_local=1
run_net=1
net_files=10000
net_small=5000
net_floor_threads=8
wait_load=""
label=""
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
        --net-only) run_local=0; run_net=1; shift ;;
        --no-net) run_net=0; run_local=1; shift ;;
        --net-files) net_files="$2"; shift 2 ;;
        --net-small) net_small="$2"; shift 2 ;;
        --net-floor-threads) net_floor_threads="$2"; shift 2 ;;
        --wait-load) wait_load="$2"; shift 2 ;;
        --label) label="$2"; shift 2 ;;
        -h | --help) sed -n '2,25p' "$0"; exit 0 ;;
        *) echo "perf_suite: unknown argument: $1" >&2; exit 2 ;;
    esac
done
for tool in "$mirova" "$floor"; do
    [ -x "$tool" ] || { echo "perf_suite: $tool is missing (build first)" >&2; exit 2; }
done
for tool in rsync cp python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "perf_suite: $tool is missing" >&2; exit 2; }
done
# shellcheck source=bench/sshfs_rig.sh
. "$root/bench/sshfs_rig.sh"
if ((run_net)); then
    for tool in /usr/sbin/sshd ssh ssh-keygen sshfs; do
        command -v "$tool" >/dev/null ||
            { echo "perf_suite: $tool is missing (install openssh-server openssh-client sshfs, or --no-net)" >&2; exit 2; }
    done
fi

# The biggest case needs about 1.5 GiB for two 1M-entry trees and 2 x 8 x 256 MiB for the large
# copy; tmpfs keeps the file system's own cost per file small enough to see the tools' cost.
largest=${sizes[${#sizes[@]} - 1]}
need_kb=$((largest * 2 * 3 + 2 * large_count * large_mb * 1024 + 1024 * 1024))
if ((!run_local)); then
    largest=$((net_files * 3)) need_kb=$((net_files * 3 * 8 + 256 * 1024))
fi
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
# The mount goes first, so that removing the scratch folder never reaches through it.
cleanup() {
    sshfs_rig_down "$scratch/net"
    if ((keep)); then echo "kept $scratch" >&2; else rm -rf "$scratch"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every run's log, settings and locks stay in the scratch folder.
export MIROVA_LOG_DIR="$scratch/log" XDG_CONFIG_HOME="$scratch/config" MIROVA_LOCK_DIR="$scratch/lock"
mkdir -p "$MIROVA_LOG_DIR" "$XDG_CONFIG_HOME" "$MIROVA_LOCK_DIR"
output="$scratch/output.txt"
# The binary is copied first, so that a rebuild during the run does not mix two versions.
mirova_built="$(date -r "$mirova" '+%Y-%m-%d %H:%M')"
mirova_commit="checkout at $(git -C "$root" log -1 --format=%h 2>/dev/null || echo unknown)"
[ -z "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ] ||
    mirova_commit+=" + uncommitted changes"
[ -z "$label" ] || mirova_commit="$label"
cp "$mirova" "$scratch/mirova"
mirova="$scratch/mirova"
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

load() { cut -d' ' -f1 /proc/loadavg; }
load_start="$(load)"
# quiet_enough: with --wait-load, waits until the 1-minute load average is below the limit.
quiet_enough() {
    [ -n "$wait_load" ] || return 0
    local waited=0
    while awk -v l="$(load)" -v m="$wait_load" 'BEGIN { exit !(l >= m) }'; do
        ((waited % 60 == 0)) && note "waiting for load average $(load) to fall below $wait_load"
        ((waited >= 600)) && { note "still loaded after 10 minutes, going on"; return 0; }
        sleep 5; waited=$((waited + 5))
    done
}

compare_case() {
    local n="$1" src="$scratch/cmp-src" dst="$scratch/cmp-dst" rep before threads
    rm -rf "$src" "$dst"
    quiet_enough
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
    quiet_enough
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
    quiet_enough
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

# entries_for FILES: the entries make_tree needs for FILES files (100 a folder, 10 folders a
# top folder), so that the tree has exactly FILES files.
entries_for() { echo $(($1 + ($1 + 99) / 100 + ($1 + 999) / 1000)); }
# rotated REP WORD...: the words, starting at word REP (the tools take turns at coming first).
rotated() {
    local rep="$1"; shift
    local words=("$@") i
    for ((i = 0; i < ${#words[@]}; i++)); do
        echo "${words[(rep - 1 + i) % ${#words[@]}]}"
    done
}

# The mount: $remote is the served folder seen locally (for making and checking trees, never
# timed), $mnt the same folder through sshfs (where the timed tools work).
net_up() {
    note "net: ssh keys, sshd on 127.0.0.1 and the sshfs mount"
    sshfs_rig_up "$scratch/net" >"$output" 2>&1 || fail "the sshfs rig did not come up"
    mnt="$SSHFS_RIG_MOUNT" remote="$SSHFS_RIG_REMOTE"
    note "net: $remote on $mnt, port $SSHFS_RIG_PORT, $(sshfs --version 2>&1 | grep -m1 -i sshfs)"
}

net_compare_case() {
    local n="$1" src="$scratch/netcmp-src" rep tool before
    note "net-compare: making two identical trees of $n files"
    make_tree "$src" "$(entries_for "$n")" 0 100 3 >/dev/null
    cp -a "$src" "$remote/cmp"
    [ -z "$(rsync -ai --delete --dry-run "$src/" "$mnt/cmp/")" ] || fail "the trees differ for rsync"
    quiet_enough
    for ((rep = 1; rep <= reps; rep++)); do
        note "net-compare: repetition $rep of $reps"
        for tool in $(rotated "$rep" mirova mirova1 rsync floor1 floorT); do
            case "$tool" in
                mirova | mirova1)
                    before=$(identical_count)
                    if [ "$tool" = mirova ]; then
                        timed "netcmp:mirova" "$mirova" --compare "$src" "$mnt/cmp" --yes --no-stop-on-error
                    else
                        timed "netcmp1:mirova" env MIROVA_SCAN_THREADS=1 \
                            "$mirova" --compare "$src" "$mnt/cmp" --yes --no-stop-on-error
                    fi
                    (($(identical_count) == before + 1)) || fail "mirova did not find the trees identical" ;;
                rsync) timed "netcmp:rsync" rsync -a --delete --dry-run "$src/" "$mnt/cmp/" ;;
                floor1) timed "netfloor1:floor" "$floor" "$src" "$mnt/cmp" ;;
                floorT) timed "netfloorT:floor" "$floor" --threads "$net_floor_threads" "$src" "$mnt/cmp" ;;
            esac
        done
    done
    row "net-compare $n netcmp:mirova netcmp:rsync rsync-n"
    row "net-compare,scan-1-thread $n netcmp1:mirova netcmp:rsync rsync-n"
    row "net-floor $n netcmp:mirova netfloor1:floor walker-1"
    row "net-floor $n netcmp:mirova netfloorT:floor walker-$net_floor_threads"
    rm -rf "$src" "$remote/cmp"
}

net_small_case() {
    local n="$1" src="$scratch/netsmall-src" rep tool
    note "net-small: making $n files of 4 KiB"
    make_tree "$src" "$(entries_for "$n")" 4096 4096 1 >/dev/null
    quiet_enough
    for ((rep = 1; rep <= reps; rep++)); do
        note "net-small: repetition $rep of $reps"
        for tool in $(rotated "$rep" mirova cp rsync); do
            rm -rf "$remote/small"; mkdir "$remote/small"; sync
            case "$tool" in
                mirova) timed "netsmall:mirova" "$mirova" --sync "$src" "$mnt/small" --yes --no-stop-on-error ;;
                cp) timed "netsmall:cp" cp -a "$src/." "$mnt/small" ;;
                rsync) timed "netsmall:rsync" rsync -a "$src/" "$mnt/small/" ;;
            esac
            verify_copy "$src" "$remote/small" "net-small ($tool)"
        done
    done
    row "net-small $n netsmall:mirova netsmall:cp cp-a"
    row "net-small $n netsmall:mirova netsmall:rsync rsync-a"
    rm -rf "$src" "$remote/small"
}

# The same 1 % (seed 5) is changed in the target before every repetition, so every repetition
# copies the same files back.
net_sync_case() {
    local n="$1" src="$scratch/netsync-src" rep tool
    note "net-sync1%: making a tree of $n files"
    make_tree "$src" "$(entries_for "$n")" 0 4096 4 >/dev/null
    for tool in mirova rsync; do cp -a "$src" "$remote/sync-$tool"; done
    quiet_enough
    for ((rep = 1; rep <= reps; rep++)); do
        note "net-sync1%: repetition $rep of $reps"
        for tool in $(rotated "$rep" mirova rsync); do
            change_files "$remote/sync-$tool" 1 5
            sync
            if [ "$tool" = mirova ]; then
                timed "netsync:mirova" "$mirova" --sync "$src" "$mnt/sync-mirova" --yes --no-stop-on-error
            else
                timed "netsync:rsync" rsync -a --delete "$src/" "$mnt/sync-rsync/"
            fi
            verify_copy "$src" "$remote/sync-$tool" "net-sync1% ($tool)"
        done
    done
    row "net-sync1% $n netsync:mirova netsync:rsync rsync"
    rm -rf "$src" "$remote"/sync-*
}

note "scratch $scratch ($(df --output=fstype "$scratch" | tail -n 1)); $(rsync --version | head -n 1)"
note "mirova built $mirova_built, $mirova_commit"
if ((run_local)); then
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
fi
if ((run_net)); then
    net_up
    net_compare_case "$net_files"
    net_small_case "$net_small"
    net_sync_case "$net_files"
    sshfs_rig_down "$scratch/net"
fi

printf '\n%s, %s cores, %s on %s; median of %d, wall seconds, warm cache; load average %s at the start, %s at the end\n\n' \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')" "$(nproc)" \
    "$(df --output=fstype "$scratch" | tail -n 1 | tr -d ' ')" "$base" "$reps" "$load_start" "$(load)"
printf 'mirova: binary built %s, %s\n' "$mirova_built" "$mirova_commit"
if ((run_net)); then
    printf 'net-*: target on sshfs to 127.0.0.1 (dir_cache=no, attr_timeout=0, entry_timeout=0), %s, %s\n\n' \
        "$(sshfs --version 2>&1 | grep -m1 -i 'sshfs version' | sed 's/ version//')" \
        "$(ssh -V 2>&1 | cut -d, -f1)"
fi
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
