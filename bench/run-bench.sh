#!/usr/bin/env bash
# Times brindle on the 100,000-file bench volume and prints, for one run on
# one volume: records per second for -csv, -filepath_only, the default
# layout and the hash list, peak resident memory, and beside them the time of
# reading the $MFT with cat and of listing the volume with fls. The filtered -csv run shows
# what selection costs (every file of the volume matches it).
#
# Usage: bench/run-bench.sh BRINDLE [BENCH_DIR]
# The volume is built by bench/make-bench-volume.sh (as root) when missing.
set -euo pipefail

brindle=$(realpath "$1")
dir=${2:-/tmp/brindle-bench}
here=$(dirname "$0")

if [[ ! -f $dir/bench.mft || ! -f $dir/bench.img ]]; then
    echo "building the bench volume in $dir (needs root, about a minute)"
    bash "$here/make-bench-volume.sh" "$dir"
fi
if [[ ! -f $dir/bench-usn.img || ! -f $dir/bench.usnjrnl ]]; then
    echo "adding a 32 MiB change journal to a copy of the bench volume"
    bash "$here/make-bench-journal.sh" "$dir" >/dev/null
fi

# The bytes -hashfile digests, as plain files for the coreutils tools: the
# system files' unnamed streams (icat) and every file of the volume, copied
# out through a read-only ntfs-3g mount.
if [[ ! -d $dir/hashed-files ]]; then
    echo "copying the bench volume's files out for md5sum (needs root, about a minute)"
    mnt=$(mktemp -d /tmp/brindle-bench-ro.XXXXXX)
    mkdir -p "$dir/hashed-files.tmp/system"
    for inode in 0 1 2 4 6 7 10; do icat "$dir/bench.img" "$inode" > "$dir/hashed-files.tmp/system/$inode"; done
    ntfs-3g -o ro "$dir/bench.img" "$mnt"
    cp -r "$mnt"/. "$dir/hashed-files.tmp/volume"
    umount "$mnt" && rmdir "$mnt"
    mv "$dir/hashed-files.tmp" "$dir/hashed-files"
fi

python3 - "$brindle" "$dir" <<'PY'
import os, resource, subprocess, sys, time

brindle, folder = sys.argv[1], sys.argv[2]
mft = os.path.join(folder, "bench.mft")
img = os.path.join(folder, "bench.img")
with open(mft, "rb") as f:
    head = f.read(8)
record_size = (int.from_bytes(head[6:8], "little") - 1) * 512
records = os.path.getsize(mft) // record_size

def timed(command, repeats=3):
    """Best wall time of `repeats` runs and the peak RSS of the children."""
    best = None
    for _ in range(repeats):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best

def peak_rss_kib(command):
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.dup2(devnull, 2)
        os.execv(command[0], command)
    _, status, usage = os.wait4(pid, 0)
    return usage.ru_maxrss

fls_time = float("nan")
print(f"volume: {records:,} MFT records of {record_size} bytes ({os.path.getsize(mft) / 2**20:.0f} MiB $MFT)")
subprocess.run(["cat", mft], stdout=subprocess.DEVNULL)  # warm the page cache
t = timed(["cat", mft])
print(f"{'cat $MFT > /dev/null':32} {t:7.3f} s")
if subprocess.run(["which", "fls"], stdout=subprocess.DEVNULL).returncode == 0:
    fls_time = timed(["fls", "-r", "-m", "/", img], repeats=3)
    print(f"{'fls -r -m / (whole volume)':32} {fls_time:7.3f} s   {records / fls_time:12,.0f} records/s")
for label, extra in (("-csv", ["-csv"]), ("-csv -filter_ext txt", ["-csv", "-filter_ext", "txt"]),
                     ("-filepath_only", ["-filepath_only"]), ("default layout", []),
                     ("-csvperpath", ["-csvperpath"]), ("-jsonl", ["-jsonl"]),
                     ("-jsonl_timeline", ["-jsonl_timeline"])):
    command = [brindle, "-mftfile", mft, "-quiet"] + extra
    t = timed(command)
    rss = peak_rss_kib(command)
    budget = 64 * 1024 + records * 100 / 1024
    print(f"{'brindle ' + label:32} {t:7.3f} s   {records / t:12,.0f} records/s   peak RSS {rss / 1024:6.1f} MiB"
          f" (budget {budget / 1024:.1f} MiB)")

# The same walk from the volume image, against fls on that image.
for threads in (["-threads", "1"], []):
    t = timed([brindle, "-image", img, "-quiet", "-csv"] + threads, repeats=5)
    label = " ".join(["brindle -image -csv"] + threads)
    print(f"{label:32} {t:7.3f} s   {records / t:12,.0f} records/s   {t / fls_time:5.2f}x the time of fls")

# Content digests: every file's unnamed stream read and hashed (100,000
# small resident streams, and the $MFT and $LogFile streams of about 100 MiB).
# Against the coreutils tools over the same bytes (the files copied out):
# best of nine, as the times are short.
tools = {}
files = os.path.join(folder, "hashed-files")
for tool in ("md5sum", "sha1sum", "sha256sum"):
    tools[tool] = timed(["sh", "-c", f"find {files} -type f -print0 | xargs -0 {tool} > /dev/null"], repeats=9)
    print(f"{tool + ' (same bytes)':32} {tools[tool]:7.3f} s")
slowest = max(tools, key=tools.get)
for hashes, tool in (("md5", "md5sum"), ("md5|sha1|sha256", slowest)):
    for threads in ("1", None):
        command = [brindle, "-image", img, "-quiet", "-hashfile", hashes] + (["-threads", threads] if threads else [])
        t = timed(command, repeats=9)
        label = f"brindle -hashfile {hashes}" + (" -threads 1" if threads else "")
        print(f"{label:44} {t:7.3f} s   {records / t:12,.0f} records/s   {t / tools[tool]:5.2f}x {tool}")

# Index slack: every $I30 index of the volume read again after the walk.
t = timed([brindle, "-image", img, "-quiet", "-csv", "-indx_slack"])
print(f"{'brindle -image -csv -indx_slack':32} {t:7.3f} s   {records / t:12,.0f} records/s")

# The change journal alone (one MFT entry walked): 32 MiB of records behind a
# 32 MiB hole, every parent path resolved through the MFT.
journal = os.path.join(folder, "bench.usnjrnl")
for label, command in (("-usnjrnl (image)", ["-image", os.path.join(folder, "bench-usn.img"), "-usnjrnl"]),
                       ("-usnfile (extracted $J)", ["-mftfile", mft, "-usnfile", journal])):
    t = timed([brindle, "-quiet", "-csv", "-mftstart", "0", "-mftrange", "1"] + command)
    print(f"{'brindle ' + label:32} {t:7.3f} s   {32 / t:12.1f} MiB of journal records/s")

# Carving: every free cluster of the volume is read and scanned.
with open(img, "rb") as f:
    boot = f.read(512)
cluster = int.from_bytes(boot[11:13], "little") * boot[13]
t = timed([brindle, "-image", img, "-quiet", "-csv", "-filter_unalloc_clusters"])
size = os.path.getsize(img)
print(f"{'brindle -filter_unalloc_clusters':32} {t:7.3f} s   {size / t / 1e9:12.2f} GB/s of volume scanned"
      f" (cluster {cluster} bytes; free space of a sparse image reads from the page cache)")
# The volume acquired to a compressed E01 (once, beside the volume): brindle
# through libewf against fls on the same E01.
e01 = os.path.join(folder, "bench.E01")
if not os.path.exists(e01) and subprocess.run(["which", "ewfacquire"], stdout=subprocess.DEVNULL).returncode == 0:
    subprocess.run(["ewfacquire", "-u", "-q", "-c", "fast", "-S", "8GiB", "-t", os.path.join(folder, "bench"), img],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
if os.path.exists(e01):
    t_fls = timed(["fls", "-r", "-m", "/", e01], repeats=1)
    t = timed([brindle, "-image", e01, "-quiet", "-csv"])
    print(f"{'fls -r -m / bench.E01':32} {t_fls:7.3f} s")
    print(f"{'brindle -image bench.E01 -csv':32} {t:7.3f} s   {t / t_fls:12.2f} x the time of fls")
PY
