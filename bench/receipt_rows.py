"""The rows of a one-metre receipt bitmap the benchmarks print: 576 x 8,000
dots at 203 dpi, one bit per dot (1 is ink), with blank space, text-like
lines, rules and bars, and blocks of noise like a dithered picture. The
same seed gives the same receipt.

    python3 bench/receipt_rows.py OUT.pbm   writes it as a one-bit PBM
"""
import random
import sys

WIDTH, HEIGHT = 576, 8000  # one metre at 203 dpi
STRIDE = WIDTH // 8


def receipt_rows(seed=1):
    """HEIGHT rows of STRIDE bytes each."""
    rng = random.Random(seed)
    rows = []
    while len(rows) < HEIGHT:
        kind = rng.random()
        if kind < 0.15:    # blank space (text lines bring more)
            rows += [bytes(STRIDE)] * rng.randint(8, 60)
        elif kind < 0.80:  # a line of text: 24 rows of glyph-like columns
            line = [bytearray(STRIDE) for _ in range(24)]
            for column in range(rng.randint(10, 48)):
                x = column * 12
                for r in range(3, 21):
                    for dx in range(1, 10):
                        if rng.random() < 0.35:
                            line[r][(x + dx) // 8] |= 0x80 >> ((x + dx) % 8)
            rows += [bytes(r) for r in line]
        elif kind < 0.95:  # a rule or a bar code
            row = bytearray(STRIDE)
            for x in range(WIDTH):
                if (x // rng.choice([2, 3, 4])) % 2 == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            rows += [bytes(row)] * rng.randint(2, 80)
        else:              # a block of noise, like a dithered picture
            rows += [bytes(rng.getrandbits(8) for _ in range(STRIDE))
                     for _ in range(rng.randint(40, 200))]
    return rows[:HEIGHT]


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(b"P4\n%d %d\n" % (WIDTH, HEIGHT))
        out.write(b"".join(receipt_rows()))
