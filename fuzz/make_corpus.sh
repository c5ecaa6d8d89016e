#!/usr/bin/env bash
# Makes the committed seed corpus: small file pairs, their patches written by our own qpt tool, packed
# in each fuzz target's input layout (see the comment at the top of each target).
#   fuzz/make_corpus.sh QPT_BINARY
set -euo pipefail
qpt=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$here/corpus"
mkdir -p "$here/corpus/apply" "$here/corpus/roundtrip"
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
PY
echo "corpus: $(ls "$here/corpus/apply" | wc -l) apply seeds, $(ls "$here/corpus/roundtrip" | wc -l) round-trip seeds"
