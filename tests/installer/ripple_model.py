#!/usr/bin/env python3
"""An independent model of the installer's ripple banner.

Takes the arguments of ripple-trace and prints what ripple-trace must print,
computed from the rules alone: single-precision steps rounded after every
operation (each double result rounded to single, which for one +, -, * or /
of two singles gives the single-precision result), ties to even, 8-bit wrap;
drips computed exactly (decimal, 40 digits) and clamped to -127 ... 127.
"""
import struct
import sys
from decimal import Decimal, getcontext, ROUND_HALF_EVEN

N = 256
RADIUS = 12
DAMPING = struct.unpack('<f', bytes.fromhex('6f12033b'))[0]  # 0x3B03126F
OFFSETS = [(0, -2), (-1, -1), (0, -1), (1, -1), (-2, 0), (-1, 0),
           (1, 0), (2, 0), (-1, 1), (0, 1), (1, 1), (0, 2)]


def single(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


wraps = 0


def wrap8(v):
    global wraps
    if not -128 <= v <= 127:
        wraps += 1
    v &= 0xFF
    return v - 256 if v >= 128 else v


def drip(write, x, y, depth):
    getcontext().prec = 40
    for j in range(y - RADIUS, y + RADIUS):
        for i in range(x - RADIUS, x + RADIUS + 1):
            if not (0 <= i < N - 1 and 0 <= j < N - 1):
                continue
            d2 = (i - x) ** 2 + (j - y) ** 2
            if d2 >= RADIUS * RADIUS:
                continue
            exact = (Decimal(RADIUS) - Decimal(d2).sqrt()) * depth / RADIUS
            value = int(exact.quantize(Decimal(1), rounding=ROUND_HALF_EVEN))
            write[j][i] = max(-127, min(127, value))


def step(read, write):
    for j in range(2, N - 2):
        rows = [read[j + dy] for dy in range(-2, 3)]
        out = write[j]
        for i in range(2, N - 2):
            total = sum(rows[dy + 2][i + dx] for dx, dy in OFFSETS)
            v = single(float(total) / 6.0)
            v = single(v - out[i])
            v = single(v - single(v * DAMPING))
            out[i] = wrap8(round(v))


def paint(read, colour):
    red, green, blue = colour
    clamp = lambda c: max(0, min(255, c))
    return [' '.join('%02X%02X%02X' % (clamp(red + h), clamp(green + h), clamp(blue + h))
                     for h in row) for row in read]


def main(args):
    read = [[0] * N for _ in range(N)]
    write = [[0] * N for _ in range(N)]
    colour = (255, 255, 255)
    pixels = None
    n = 0
    while n < len(args):
        a = args[n]
        if a == '--drip':
            drip(write, int(args[n + 1]), int(args[n + 2]), 16)
            n += 3
            continue
        if a in ('--step', '--steps'):
            count = 1 if a == '--step' else int(args[n + 1])
            for _ in range(count):
                step(read, write)
                read, write = write, read
                pixels = paint(read, colour)
            n += 1 if a == '--step' else 2
            continue
        if a == '--colour':
            c = int(args[n + 1], 16)
            colour = ((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF)
            n += 2
            continue
        sys.exit('ripple_model: unknown argument %s' % a)
    out = []
    for name, field in (('ReadBuffer', read), ('WriteBuffer', write)):
        out.append(name)
        out.extend(' '.join(str(c) for c in row) for row in field)
    out.append('Pixels')
    out.extend(pixels if pixels is not None else ['none'])
    sys.stdout.write('\n'.join(out) + '\n')
    sys.stderr.write('wrapped %d\n' % wraps)


if __name__ == '__main__':
    main(sys.argv[1:])
