#!/usr/bin/env bash
# Writes the seed corpora under fuzz/corpus/<target>/ from the fixture
# volumes, using The Sleuth Kit to find the structures (istat, icat, blkcat).
# Seeds are kept small: slices of records and single structures, not images.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fixtures=$here/../tests/fixtures
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for name in journal.usnjrnl journal.many-indx basic.mft sector4k.mft streams.mft basic.img streams.img partitions-mbr.bin partitions-gpt.bin gpt.img mbr.img; do
  xz -dc "$fixtures/$name.xz" > "$work/$name"
done
corpus=$here/corpus
rm -rf "$corpus"
mkdir -p "$corpus"/{mft_file,volume_image,container,journal,run_list,lznt1,security,partition,vmdk,index,options}

python3 - "$work" "$corpus" <<'PY'
import struct, sys, os
work, corpus = sys.argv[1], sys.argv[2]
def put(target, name, data):
    with open(os.path.join(corpus, target, name), 'wb') as f: f.write(data)

# $MFT slices: the system records and a run of user records, each behind
# two selector bytes (layout, extras).
for mft, size in (('basic.mft', 1024), ('sector4k.mft', 4096), ('streams.mft', 1024)):
    data = open(os.path.join(work, mft), 'rb').read()
    count = 24 if size == 1024 else 8
    put('mft_file', mft + '.system', bytes([1, 0]) + data[:count * size])
    put('mft_file', mft + '.users', bytes([2, 0x1f]) + data[64 * size:(64 + count) * size])

# Run lists: every non-resident attribute of the first 128 records of basic.
data = open(os.path.join(work, 'basic.mft'), 'rb').read()
seen = set()
for entry in range(128):
    record = data[entry * 1024:(entry + 1) * 1024]
    if record[:4] != b'FILE': continue
    at = struct.unpack_from('<H', record, 20)[0]
    while at + 16 <= 1024:
        kind, length = struct.unpack_from('<II', record, at)
        if kind == 0xFFFFFFFF or length < 16 or at + length > 1024: break
        if record[at + 8] == 1:
            attribute = record[at:at + length]
            if attribute not in seen:
                seen.add(attribute)
                put('run_list', 'basic-%d-%x' % (entry, kind), attribute)
        at += length

# Volume images: no patch, then the boot sector and the root's record
# written over with their own bytes (so offsets aim at real structures).
image = open(os.path.join(work, 'basic.img'), 'rb').read()
cluster = struct.unpack_from('<H', image, 11)[0] * image[13]
mft = struct.unpack_from('<Q', image, 48)[0] * cluster
def patch(offset, chunk): return struct.pack('<IB', offset, len(chunk)) + chunk
for base in range(4):
    put('volume_image', 'plain-%d' % base, bytes([1, 0, base]))
put('volume_image', 'boot', bytes([1, 0x10, 0]) + patch(0, image[:64]))
put('volume_image', 'root', bytes([2, 0x05, 0]) + patch(mft + 5 * 1024, image[mft + 5 * 1024:][:200]))
put('volume_image', 'carve', bytes([1, 0, 4]))
# The journal's records without its leading hole, and the first INDX block
# of a directory whose deleted entries stay in slack.
journal = open(os.path.join(work, 'journal.usnjrnl'), 'rb').read()
first = (len(journal) - len(journal.lstrip(b'\0'))) & ~7
put('journal', 'usn-csv', bytes([1, 0, 0]) + journal[first:])
put('journal', 'usn-jsonl', bytes([12, 0, 0]) + journal[first:])
put('journal', 'indx-csv', bytes([1, 0, 1]) + open(os.path.join(work, 'journal.many-indx'), 'rb').read()[:4096])
for base, name in enumerate(('vmdk-stream', 'e01', 'qcow2', 'vhd')):
    put('container', name, bytes([base | 4]))
for base, name in enumerate(('vhd-differencing', 'vhdx-differencing', 'qcow2-overlay', 'vhdx')):
    put('container', name, bytes([base | 8 | 4]))

# Partition tables: the first 64 sectors of each partitioned disk.
for disk in ('partitions-mbr.bin', 'partitions-gpt.bin', 'gpt.img', 'mbr.img'):
    put('partition', disk, open(os.path.join(work, disk), 'rb').read()[:64 * 512])

put('options', 'csv', b'-mftfile\0m\0-csv\0-filter_ext\0txt|log\0-dateformat\0mm/dd/yyyy')
put('options', 'script', b'-image "disk one.img" -offset 1048576 -bodyfile\r\n-filter_start_time 2020-01-01\n')
put('options', 'cpu', b'-mftfile\0m\0-cpu\x002\0-out\0r.csv\0-csvl2t\0-username\0u')
PY

# $SDS entries and the root directory's index block, from the volume.
icat "$work/basic.img" 9-128-2 > "$work/sds"
head -c 4096 "$work/sds" > "$corpus/security/basic-sds"
icat "$work/basic.img" 5-160-5 > "$work/indx"
head -c 4096 "$work/indx" > "$corpus/index/basic-root-indx"
# A compressed unit: the first 16 clusters that the compressed text file holds.
first=$(istat "$work/streams.img" 67 | awk '/^Type: \$DATA/{d=1; next} d && NF {print $1; exit}')
blkcat "$work/streams.img" "$first" 16 > "$work/unit"
{ printf '\x01'; cat "$work/unit"; } > "$corpus/lznt1/streams-text"

# A small VMware sparse disk (the volume's first 64 KiB) when qemu-img is here.
if command -v qemu-img >/dev/null; then
  head -c 65536 "$work/basic.img" > "$work/small.raw"
  qemu-img convert -f raw -O vmdk "$work/small.raw" "$corpus/vmdk/basic-64k.vmdk"
fi
du -sh "$corpus"
