#!/usr/bin/env python3
"""Fits the PNG encoder's gates to measured pictures.

    build/bench/corvanta_codec_bench --gate-data=gates.jsonl --pictures=bench/pictures
    bench/png_gates.py gates.jsonl [--leave-out=NAME,...] [--margin=0.003]

For every setting of the steps below, a gate is the highest ratio to zlib
on the sample at which no picture came out more than --bound above zlib on
the whole, less --margin; samples of one band get gates of their own (no
higher). Prints the steps as the encoder's settings take them, then what
the encoder would do with them on each set (speed-up over zlib in
processor time, bytes, worst picture, pictures above the bound, pictures
left to zlib), and the same with each set's gates fitted to the other
sets only, which tells how far the gates carry to pictures they were not
fitted to. Pictures whose names contain a --leave-out word are measured
but not fitted to.
"""
import argparse
import json
import math
from collections import defaultdict

# The encoder's steps: level, then the ways tried there (0 None, 1 Up, 2 per row).
STEPS = [(1, [1, 2]), (2, [0, 2]), (5, [0, 2]), (6, [0, 2]), (7, [0]), (9, [0])]
SMALLEST_SAMPLED = 64 << 10  # zlibUpToBytes: smaller pictures go to zlib untried


def key(level, way):
    return '%d_%d' % (level, way)


def fit(lines, bound, margin):
    def gates(subset):
        out = {}
        for level, ways in STEPS:
            for way in ways:
                k = key(level, way)
                over = [l['S'][k] / l['S']['z'] for l in subset
                        if l['W'][k][0] > bound * l['Z']]
                out[k] = math.floor(((min(over) if over else 2.0) - margin) * 1000 - 1e-9)
        return out
    many = gates([l for l in lines if l['S']['bands'] > 1])
    one = gates([l for l in lines if l['S']['bands'] == 1])
    return many, {k: min(many[k], one[k]) for k in many}


def choose(line, many, one):
    """The setting, the processor seconds and the bytes the encoder would spend."""
    if line['fb'] <= SMALLEST_SAMPLED:
        return 'zlib', line['Zt'], line['Z']
    gates = many if line['S']['bands'] > 1 else one
    share = line['S']['n'] / line['fb']
    seconds = share * (line['Zt'] + sum(line['ft']))  # zlib and the filters on the sample
    for level, ways in STEPS:
        best = None
        for way in ways:
            k = key(level, way)
            seconds += share * line['W'][k][1]
            sampled = line['S'][k]
            if sampled * 1000 <= line['S']['z'] * gates[k] and (best is None or sampled < best[0]):
                best = (sampled, k, way)
        if best:
            k = best[1]
            return k, seconds + line['W'][k][1] + line['ft'][best[2]], line['W'][k][0]
    return 'zlib', seconds + line['Zt'], line['Z']


def report(lines, gates_of, bound):
    sums = defaultdict(lambda: {'zt': 0.0, 't': 0.0, 'z': 0, 'b': 0, 'worst': 0.0, 'over': 0,
                                'left': 0, 'n': 0})
    for line in lines:
        many, one = gates_of(line)
        setting, seconds, size = choose(line, many, one)
        s = sums[line['set']]
        s['zt'] += line['Zt']
        s['t'] += seconds
        s['z'] += line['Z']
        s['b'] += size
        ratio = size / line['Z']
        s['worst'] = max(s['worst'], ratio)
        s['over'] += ratio > bound
        s['left'] += setting == 'zlib'
        s['n'] += 1
    for name in sorted(sums):
        s = sums[name]
        print('  %-22s %4d  %5.2fx  bytes %.3f  worst %.3f  above %d  left to zlib %d' % (
            name, s['n'], s['zt'] / s['t'], s['b'] / s['z'], s['worst'], s['over'], s['left']))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('data')
    parser.add_argument('--leave-out', default='')
    parser.add_argument('--margin', type=float, default=0.003)
    parser.add_argument('--bound', type=float, default=1.03)
    args = parser.parse_args()
    lines = [json.loads(l) for l in open(args.data) if l.strip()]
    words = [w for w in args.leave_out.split(',') if w]
    fitted = [l for l in lines if not any(w in l['name'] for w in words)]
    many, one = fit(fitted, args.bound, args.margin)
    print('trials = {{')
    for level, ways in STEPS:
        row = lambda g: ', '.join(str(g[key(level, w)]) if w in ways else '0' for w in range(3))
        print('    {%d, {%s}, {%s}},' % (level, row(many), row(one)))
    print('}};')
    print('the sets with these gates:')
    report(lines, lambda l: (many, one), args.bound)
    print('each set with gates fitted to the others:')
    base = lambda name: name.split('/')[0]
    by_set = {b: fit([l for l in fitted if base(l['set']) != b], args.bound, args.margin)
              for b in {base(l['set']) for l in lines}}
    report(lines, lambda l: by_set[base(l['set'])], args.bound)


if __name__ == '__main__':
    main()
