#!/usr/bin/env bash
# Builds an NTFS volume with 100,000 small files for timing brindle, and
# extracts its $MFT next to it:
#
#   OUT/bench.img   the volume (a sparse file of 1 GiB, about 130 MiB used)
#   OUT/bench.mft   the $MFT data stream (icat bench.img 0), about 99 MiB
#
# Usage (as root, for the FUSE mount): bash bench/make-bench-volume.sh [OUT]
# Takes about 20 s on a 2-core machine. BENCH_TOP_DIRS, BENCH_SUB_DIRS and
# BENCH_FILES change the 40 x 25 x 100 layout.
# OUT defaults to /tmp/brindle-bench. The outputs are not committed.
#
# Layout: 40 folders x 25 subfolders x 100 files of 20-60 bytes each, so the
# file data stays resident and the MFT holds almost all of the volume's
# metadata, plus 1,040 directories large enough to need $INDEX_ALLOCATION.
# One python process creates every file through the ntfs-3g mount; a process
# per file would spend most of the time starting processes.
set -euo pipefail

out=${1:-/tmp/brindle-bench}
top_dirs=${BENCH_TOP_DIRS:-40}
sub_dirs=${BENCH_SUB_DIRS:-25}
files_per_dir=${BENCH_FILES:-100}

die() { echo "make-bench-volume: $*" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || die "must run as root (FUSE mount)"
for tool in mkntfs ntfs-3g icat python3 mountpoint; do
    command -v "$tool" >/dev/null || die "missing $tool (apt-get install ntfs-3g sleuthkit python3)"
done

mkdir -p "$out"
img=$out/bench.img
mnt=$(mktemp -d /tmp/brindle-bench-mnt.XXXXXX)
ntfs3g_pid=

cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" || true; fi
    if [[ -n $ntfs3g_pid ]]; then wait "$ntfs3g_pid" 2>/dev/null || true; fi
    rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT

start=$SECONDS

rm -f "$img"
truncate -s 1G "$img"
mkntfs --force --quick --quiet --label BENCH --cluster-size 4096 "$img" >/dev/null 2>&1 \
    || die "mkntfs failed"

# no_detach keeps the driver in the foreground so that, after umount, waiting
# for it guarantees everything has been written back to the image.
ntfs-3g -o no_detach,noatime "$img" "$mnt" >"$out/ntfs-3g.log" 2>&1 &
ntfs3g_pid=$!
for _ in $(seq 100); do
    mountpoint -q "$mnt" && break
    kill -0 "$ntfs3g_pid" 2>/dev/null || die "ntfs-3g failed, see $out/ntfs-3g.log"
    sleep 0.05
done
mountpoint -q "$mnt" || die "ntfs-3g did not mount $img"

python3 - "$mnt" "$top_dirs" "$sub_dirs" "$files_per_dir" <<'EOF'
import os, sys
root, tops, subs, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL
for t in range(tops):
    top = os.path.join(root, f'folder_{t:02d}')
    os.mkdir(top)
    for s in range(subs):
        sub = os.path.join(top, f'sub_{s:02d}')
        os.mkdir(sub)
        for f in range(files):
            fd = os.open(os.path.join(sub, f'file_{f:03d}.txt'), flags, 0o644)
            os.write(fd, b'x' * (20 + (t * 7 + s * 3 + f) % 41))
            os.close(fd)
    print(f'{(t + 1) * subs * files} files', file=sys.stderr, flush=True)
EOF

umount "$mnt"
wait "$ntfs3g_pid" || die "ntfs-3g exited with an error"
ntfs3g_pid=

icat "$img" 0 >"$out/bench.mft"

echo "made $((top_dirs * sub_dirs * files_per_dir)) files in $((SECONDS - start)) s"
ls -l "$img" "$out/bench.mft"
du -h "$img"
