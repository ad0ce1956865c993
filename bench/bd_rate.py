#!/usr/bin/env python3
"""Bjøntegaard rate difference of one encoder's rate-distortion points
against another's: how many more bytes (negative: fewer) the first needs for
the same quality, averaged over the quality range both cover.

Usage: bd_rate.py METRIC FILE
FILE holds lines "encoder bytes ssim psnr" (any order, several points per
encoder); METRIC is ssim or psnr. SSIM is fitted in decibels,
-10 log10(1 - SSIM), where its curves are close to straight.
Prints "<first> vs <second>: +12.3 %" for the first two encoders named.
"""
import math
import sys


def solve(matrix, vector):
    """Gaussian elimination with partial pivoting."""
    n = len(vector)
    a = [row[:] + [vector[i]] for i, row in enumerate(matrix)]
    for col in range(n):
        pivot = max(range(col, n), key=lambda r: abs(a[r][col]))
        a[col], a[pivot] = a[pivot], a[col]
        for r in range(n):
            if r != col and a[col][col] != 0:
                f = a[r][col] / a[col][col]
                a[r] = [x - f * y for x, y in zip(a[r], a[col])]
    return [a[i][n] / a[i][i] for i in range(n)]


def fit_cubic(xs, ys):
    """Least-squares cubic (or lower when there are fewer points) y(x)."""
    degree = min(3, len(xs) - 1)
    powers = [[x ** p for p in range(degree + 1)] for x in xs]
    normal = [[sum(row[i] * row[j] for row in powers) for j in range(degree + 1)] for i in range(degree + 1)]
    rhs = [sum(row[i] * y for row, y in zip(powers, ys)) for i in range(degree + 1)]
    return solve(normal, rhs)


def integral(coefficients, lo, hi):
    return sum(c / (p + 1) * (hi ** (p + 1) - lo ** (p + 1)) for p, c in enumerate(coefficients))


def bd_rate(first, second):
    """first, second: lists of (bytes, quality). Percent more bytes for first."""
    (r1, q1), (r2, q2) = zip(*first), zip(*second)
    r1, q1, r2, q2 = list(r1), list(q1), list(r2), list(q2)
    lo, hi = max(min(q1), min(q2)), min(max(q1), max(q2))
    if hi <= lo:
        return None
    p1 = fit_cubic(q1, [math.log(r) for r in r1])
    p2 = fit_cubic(q2, [math.log(r) for r in r2])
    average = (integral(p1, lo, hi) - integral(p2, lo, hi)) / (hi - lo)
    return (math.exp(average) - 1) * 100


def main():
    metric, path = sys.argv[1], sys.argv[2]
    points, order = {}, []
    for line in open(path):
        fields = line.split()
        if len(fields) < 4:
            continue
        name, size, ssim, psnr = fields[0], float(fields[1]), float(fields[2]), float(fields[3])
        quality = -10 * math.log10(max(1e-9, 1 - ssim)) if metric == "ssim" else psnr
        if name not in points:
            points[name] = []
            order.append(name)
        points[name].append((size, quality))
    first, second = order[0], order[1]
    value = bd_rate(points[first], points[second])
    print(f"{first} vs {second}: " + ("no common range" if value is None else f"{value:+.1f} %"))


if __name__ == "__main__":
    main()
