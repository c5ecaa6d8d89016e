#!/usr/bin/env bash
# Makes the committed seed corpus: small file pairs, their patches written by our own qpt tool, packed
# in each fuzz target's input layout (see the comment at the top of each target).
#   fuzz/make_corpus.sh QPT_BINARY
set -euo pipefail
qpt=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$here"/corpus/*/seed-*
mkdir -p "$here/corpus/apply" "$here/corpus/roundtrip" "$here/corpus/copyroad"
python3 - "$qpt" "$work" "$here/corpus" <<'PY'
import os, random, struct, subprocess, sys
qpt, work, corpus = sys.argv[1:4]
rng = random.Random(2026)
def noise(n):
    return bytes(0 if rng.random() < 0.25 else rng.randrange(256) for _ in range(n))
pairs = [(b"", b""), (b"abc", b"axc"), (b"a", b"ab"), (b"ab", b"a"), (b"", b"\x01\x02\x03"),
         (b"", b"\x00\x00\x00"), (b"same", b"same"), (bytes(130), bytes(129) + b"\x01")]
for n in (5, 40, 127, 128, 300, 700):
    a = noise(n)
    b = bytearray(a)
    for i in range(0, n, max(1, n // 5)):
        b[i] ^= rng.randrange(1, 256)
    pairs.append((a, bytes(b) + noise(rng.randrange(0, 20))))
for k, (a, b) in enumerate(pairs):
    src, tgt, pat = (os.path.join(work, x) for x in ("s", "t", "p.qpt"))
    open(src, "wb").write(a)
    open(tgt, "wb").write(b)
    subprocess.check_call([qpt, "create", src, tgt, pat])
    patch = open(pat, "rb").read()
    for flags, inp, cap in ((0, a, len(b)), (1, b, len(a) + 3), (2, a, 0)):
        with open(os.path.join(corpus, "apply", "seed-%02d-%d" % (k, flags)), "wb") as f:
            f.write(struct.pack("<BHH", flags, cap, len(inp)) + inp + patch)
    with open(os.path.join(corpus, "roundtrip", "seed-%02d" % k), "wb") as f:
        f.write(struct.pack("<H", len(a)) + a + b)
# The copy road's shapes, in its target's layout: flags, parameter, the source's and the target's size
# (edge, offset), then changes (edge, offset, pieces and stride, length, bytes).
shapes = {
    "equal": (0, 0, (3, 0), (3, 0), []),
    "across-the-buffer": (0, 0, (3, 0), (3, 0), [(1, 0, 0, 11, 7)]),
    "at-the-buffer-end": (0, 0, (3, 0), (3, 0), [(0, 0, 0, 9, 7), (2, 0, 0, 0, 9)]),
    "63-page-runs": (0, 0, (4, 0), (4, 0), [(0, 100, 128 + 62, 0, 5)]),
    "64-page-runs": (0, 0, (4, 0), (4, 0), [(0, 100, 128 + 63, 0, 5)]),
    "at-the-chunk-edge": (0, 0, (6, 8), (6, 8), [(6, 0xfe, 64 + 3, 3, 3)]),
    "grown-past-the-chunk": (0, 0, (5, 0), (7, 0), [(6, 0xf0, 0, 3, 3)]),
    "shrunk-past-the-chunk": (8, 0, (7, 0), (6, 0xff), [(4, 0, 0, 13, 1)]),
    "empty-output": (0, 0, (1, 0), (0, 0), []),
    "empty-input": (0, 0, (0, 0), (1, 5), [(0, 0, 0, 3, 0)]),
    "damaged": (16, 0, (2, 0), (2, 0), [(0, 3, 2, 2, 4)]),
    "damaged-backwards": (8 | 16, 0, (2, 7), (2, 0), [(0, 3, 2, 2, 4)]),
    "short-copies": (1, 3, (3, 0), (3, 9), [(1, 0, 0, 9, 7)]),
    "no-copy": (2, 1, (3, 0), (3, 9), [(1, 0, 0, 9, 7)]),
    "no-copy-later": (3, 1, (6, 8), (6, 8), [(6, 0, 0, 3, 3)]),
    "copy-fails": (4, 1, (6, 8), (6, 8), [(6, 0, 0, 3, 3)]),
    "input-ends": (5, 0, (3, 0), (3, 0), [(1, 0, 0, 3, 7)]),
    "no-progress": (32, 0, (2, 3), (2, 0), [(0, 1, 0, 5, 0)]),
    "disk-full-in-the-copy": (64, 5, (6, 8), (6, 8), [(6, 0, 0, 3, 3)]),
    "disk-full-in-a-whole-chunk": (64, 4, (5, 0), (5, 0), [(0, 100, 128 + 63, 0, 5)]),
    "disk-full-growing": (64, 3, (2, 0), (4, 0), [(0, 9, 0, 1, 1)]),
    "six-changes": (0, 0, (7, 0), (7, 16), [(0, 0, 0, 0, 1), (2, 0xff, 0, 1, 2), (4, 0, 128 + 7, 0, 3),
                                            (5, 0, 64 + 20, 9, 0), (6, 0xfe, 0, 4, 5), (7, 0, 0, 15, 6)]),
}
for name, (flags, parameter, source, target, changes) in shapes.items():
    with open(os.path.join(corpus, "copyroad", "seed-" + name), "wb") as f:
        f.write(bytes([flags, parameter, *source, *target]) + b"".join(bytes(c) for c in changes))
PY
echo "corpus: $(ls "$here/corpus/apply" | wc -l) apply seeds," \
  "$(ls "$here/corpus/roundtrip" | wc -l) round-trip seeds," \
  "$(ls "$here/corpus/copyroad" | wc -l) copy-road seeds"
