#!/usr/bin/env bash
# A private sshfs mount of a local folder over ssh to 127.0.0.1, the way a user mounts another
# machine: every stat, listing and file creation is a round trip through ssh and sftp-server.
#
#   bench/sshfs_rig.sh up DIR     keys, sshd on a free port of 127.0.0.1, DIR/remote mounted
#                                 on DIR/mnt; prints the mount point
#   bench/sshfs_rig.sh down DIR   unmounts and stops that sshd (safe to repeat)
#
# or sourced (bench/perf_suite.sh does): sshfs_rig_up DIR, sshfs_rig_down DIR, and after "up"
# SSHFS_RIG_MOUNT, SSHFS_RIG_REMOTE, SSHFS_RIG_PORT. The sshd accepts only the key made in
# DIR, for the current user, without password, and is nobody else's: its configuration, host
# key, log and pid file stay in DIR. The mount has sshfs's caches off (dir_cache=no,
# attr_timeout=0, entry_timeout=0), as a cautious network mount: nothing is answered locally.
# Needs /usr/sbin/sshd, ssh-keygen, sshfs and fusermount3 (or fusermount, or umount as root).

# Ports: a free one is asked from the kernel; if another program takes it before sshd starts,
# up tries again with another.
sshfs_rig_free_port() {
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

sshfs_rig_unmount() {
    local mnt="$1" tool
    mountpoint -q "$mnt" 2>/dev/null || return 0
    for tool in fusermount3 fusermount; do
        if command -v "$tool" >/dev/null && "$tool" -u -z "$mnt" 2>/dev/null; then return 0; fi
    done
    umount -l "$mnt" 2>/dev/null || { echo "sshfs_rig: could not unmount $mnt" >&2; return 1; }
}

sshfs_rig_down() {
    local dir="$1" pid i
    [ -n "$dir" ] || return 0
    sshfs_rig_unmount "$dir/mnt" || true
    # The sshfs process leaves with the mount; its ssh child leaves with it.
    if [ -s "$dir/sshd.pid" ]; then
        pid=$(cat "$dir/sshd.pid")
        # Only the sshd started from this folder's configuration is stopped.
        if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF "$dir/sshd_config"; then
            kill "$pid" 2>/dev/null || true
            for ((i = 0; i < 50; i++)); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
        fi
        rm -f "$dir/sshd.pid"
    fi
    return 0
}

sshfs_rig_up() {
    local dir="$1" user port attempt sftp tool missing=()
    for tool in /usr/sbin/sshd ssh ssh-keygen sshfs python3; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    command -v fusermount3 >/dev/null || command -v fusermount >/dev/null || [ "$(id -u)" -eq 0 ] ||
        missing+=(fusermount3)
    if ((${#missing[@]} > 0)); then
        echo "sshfs_rig: missing ${missing[*]} (Debian: openssh-server openssh-client sshfs)" >&2
        return 1
    fi
    [ -e /dev/fuse ] || { echo "sshfs_rig: /dev/fuse is missing (no FUSE here)" >&2; return 1; }
    user="$(id -un)"
    mkdir -p "$dir/remote" "$dir/mnt"
    chmod 700 "$dir"
    rm -f "$dir/host_key" "$dir/host_key.pub" "$dir/client_key" "$dir/client_key.pub"
    ssh-keygen -q -t ed25519 -N '' -C mirova-bench-host -f "$dir/host_key" || return 1
    ssh-keygen -q -t ed25519 -N '' -C mirova-bench-client -f "$dir/client_key" || return 1
    cp "$dir/client_key.pub" "$dir/authorized_keys"
    chmod 600 "$dir/authorized_keys"
    sftp=/usr/lib/openssh/sftp-server
    [ -x "$sftp" ] || sftp=internal-sftp
    # As root, sshd wants its privilege-separation folder (Debian's service makes it at boot).
    if [ "$(id -u)" -eq 0 ]; then mkdir -p /run/sshd && chmod 755 /run/sshd; fi
    for ((attempt = 1; attempt <= 5; attempt++)); do
        port=$(sshfs_rig_free_port) || return 1
        cat >"$dir/sshd_config" <<EOF
# Private sshd of the benchmark (bench/sshfs_rig.sh): one key, one user, loopback only.
Port $port
ListenAddress 127.0.0.1
AddressFamily inet
HostKey $dir/host_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
AllowUsers $user
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitEmptyPasswords no
UsePAM no
StrictModes no
X11Forwarding no
AllowTcpForwarding no
PrintMotd no
Subsystem sftp $sftp
LogLevel ERROR
EOF
        /usr/sbin/sshd -t -f "$dir/sshd_config" || return 1
        if /usr/sbin/sshd -f "$dir/sshd_config" -o "PidFile=$dir/sshd.pid" -E "$dir/sshd.log"; then
            if ssh -p "$port" -i "$dir/client_key" -o IdentitiesOnly=yes -o BatchMode=yes \
                -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR \
                -o ConnectTimeout=5 "$user@127.0.0.1" true 2>>"$dir/ssh.log"; then
                break
            fi
        fi
        sshfs_rig_down "$dir"
        port=""
    done
    if [ -z "$port" ]; then
        echo "sshfs_rig: sshd did not start or refused the key (see $dir/sshd.log, $dir/ssh.log)" >&2
        tail -n 5 "$dir/sshd.log" "$dir/ssh.log" >&2 2>/dev/null || true
        return 1
    fi
    if ! sshfs -p "$port" \
        -o "IdentityFile=$dir/client_key,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null" \
        -o dir_cache=no,attr_timeout=0,entry_timeout=0 \
        -o IdentitiesOnly=yes,BatchMode=yes,LogLevel=ERROR \
        "$user@127.0.0.1:$dir/remote" "$dir/mnt" 2>>"$dir/ssh.log"; then
        echo "sshfs_rig: sshfs could not mount (see $dir/ssh.log)" >&2
        tail -n 5 "$dir/ssh.log" >&2 2>/dev/null || true
        sshfs_rig_down "$dir"
        return 1
    fi
    mountpoint -q "$dir/mnt" || { echo "sshfs_rig: $dir/mnt is not a mount point" >&2; sshfs_rig_down "$dir"; return 1; }
    SSHFS_RIG_MOUNT="$dir/mnt" SSHFS_RIG_REMOTE="$dir/remote" SSHFS_RIG_PORT="$port"
    echo "$port" >"$dir/port"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -uo pipefail
    case "${1:-} ${2:+set}" in
        "up set")
            dir="$(mkdir -p "$2" && cd "$2" && pwd)" || exit 1
            sshfs_rig_up "$dir" || exit 1
            echo "$SSHFS_RIG_MOUNT" ;;
        "down set")
            dir="$(cd "$2" 2>/dev/null && pwd)" || exit 0
            sshfs_rig_down "$dir" ;;
        *) sed -n '2,14p' "$0"; exit 2 ;;
    esac
fi
