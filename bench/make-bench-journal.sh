#!/usr/bin/env bash
# Adds a change journal to the bench volume: 32 MiB of version 2 records
# behind a 32 MiB hole, as $Extend\$UsnJrnl:$J, and keeps the same bytes as
# an extracted file:
#
#   OUT/bench-usn.img   bench.img with the journal
#   OUT/bench.usnjrnl   the $J stream (hole and records)
#
# Usage (as root, after make-bench-volume.sh): bash bench/make-bench-journal.sh [OUT]
# The records name the bench volume's files, read from its $MFT, with random
# reasons, so their parent paths all resolve.
set -euo pipefail
dir=${1:-/tmp/brindle-bench}
[[ -f $dir/bench.img ]] || { echo "run bench/make-bench-volume.sh $dir first" >&2; exit 1; }
cp --sparse=always "$dir/bench.img" "$dir/bench-usn.img"
python3 - "$dir/records.bin" "$dir/bench.mft" <<'PY'
import random, struct, sys
random.seed(7)
# (file reference, parent reference) of every name in the $MFT: the type,
# length and value offset of each attribute, $FILE_NAME's parent first in
# its value. Good enough for records whose names lie in the first sector.
files = []
mft = open(sys.argv[2], 'rb').read()
for at in range(0, len(mft), 1024):
    record = mft[at:at + 1024]
    if record[:4] != b'FILE' or not record[22] & 1:
        continue
    sequence = struct.unpack_from('<H', record, 16)[0]
    offset = struct.unpack_from('<H', record, 20)[0]
    while offset + 24 <= 1024:
        kind, length = struct.unpack_from('<II', record, offset)
        if kind == 0xFFFFFFFF or length == 0:
            break
        if kind == 0x30:
            value = offset + struct.unpack_from('<H', record, offset + 20)[0]
            files.append((sequence << 48 | at // 1024, struct.unpack_from('<Q', record, value)[0]))
            break
        offset += length
hole = 32 << 20
out = bytearray()
usn = hole
when = 133800000000000000
while len(out) < (32 << 20) - 4096:
    page = bytearray()
    while True:
        name = ('file_%06d_changed.txt' % random.randrange(1000000)).encode('utf-16-le')
        length = (60 + len(name) + 7) & ~7
        if len(page) + length > 4096:
            break
        entry, parent = random.choice(files)
        when += random.randrange(1, 100000)
        body = struct.pack('<IHHQQqqIIIIHH', length, 2, 0, entry, parent, usn + len(out) + len(page),
                           when, random.choice([0x100, 0x2, 0x80000002, 0x200, 0x80000200, 0x1000, 0x2000]), 0, 0,
                           0x20, len(name), 60) + name
        page += body + b'\0' * (length - len(body))
    out += page + b'\0' * (4096 - len(page))
open(sys.argv[1], 'wb').write(bytes(out))
PY
mnt=$(mktemp -d)
# Waiting for a driver that stays in the foreground makes sure it has written
# everything back when the image is read.
ntfs-3g -o no_detach,streams_interface=windows "$dir/bench-usn.img" "$mnt" &
driver=$!
until mountpoint -q "$mnt"; do sleep 0.05; done
touch "$mnt/usnjrnl"
python3 - "$mnt/usnjrnl:\$J" "$dir/records.bin" <<'PY'
import os, sys
fd = os.open(sys.argv[1], os.O_WRONLY | os.O_CREAT)
os.lseek(fd, 32 << 20, 0)
os.write(fd, open(sys.argv[2], 'rb').read())
os.close(fd)
PY
mv "$mnt/usnjrnl" "$mnt/\$Extend/\$UsnJrnl"
umount "$mnt"
wait "$driver"
rmdir "$mnt"
{ truncate -s $((32 << 20)) "$dir/bench.usnjrnl"; cat "$dir/records.bin" >>"$dir/bench.usnjrnl"; }
rm "$dir/records.bin"
