#!/usr/bin/env python3
"""Summarises bench/run.sh's raw lines "placement server figure value": one
name=value line per figure (median, min and max over the runs), then the ratios
and the targets."""
import statistics
import sys
from collections import defaultdict

values = defaultdict(list)
with open(sys.argv[1]) as f:
    for line in f:
        placement, server, figure, value = line.split()
        values[(placement, server, figure)].append(float(value))

median = {k: statistics.median(v) for k, v in values.items()}
for (placement, server, figure), v in sorted(values.items()):
    print(f"{placement}.{server}.{figure}={statistics.median(v):.4g} "
          f"min={min(v):.4g} max={max(v):.4g} runs={len(v)}")


def get(placement, server, figure):
    return median.get((placement, server, figure))


def ratio(name, a, b):
    if a is not None and b:
        print(f"{name}={a / b:.3f}")
        return a / b
    return None


targets = []
ours = ["ours_headless", "ours_window"]
# With --platform, our servers are named NAME@PLATFORM: the same ratios for each.
platforms = sorted({s.partition("@")[2] for (_, s, _) in values if s.startswith("ours_")})
for n, suffix in enumerate([f"@{p}" if p else "" for p in platforms] or [""]):
    H, W = "ours_headless" + suffix, "ours_window" + suffix
    peers = ["tftpd_hpa", "dnsmasq", "limit"] if n == 0 else []
    for placement in sorted({k[0] for k in values}):
        limit = get(placement, "lockstep", "mib_s")
        for server in [H, W] + peers:
            for fig in ["get16", "put16"]:
                ratio(f"{placement}.{server}.{fig}_ratio_to_lockstep",
                      get(placement, server, f"{fig}_mib_s"), limit)
            for fig in ["c20", "c100"]:
                ratio(f"{placement}.{server}.{fig}_ratio_to_poll_limit",
                      get(placement, server, f"{fig}_mib_s"), get(placement, "limit", f"{fig}_mib_s"))
            ratio(f"{placement}.{server}.small1k_time_ratio_to_poll_limit",
                  get(placement, server, "small1k_us_per_file"),
                  get(placement, "limit", "small1k_us_per_file"))
        for server in [H, W]:
            ratio(f"{placement}.{server}.c100_ratio_to_dnsmasq",
                  get(placement, server, "c100_mib_s"), get(placement, "dnsmasq", "c100_mib_s"))
            ratio(f"{placement}.{server}.small1k_time_ratio_to_dnsmasq",
                  get(placement, server, "small1k_us_per_file"),
                  get(placement, "dnsmasq", "small1k_us_per_file"))
        for fig in ["get16_mib_s", "put16_mib_s", "c20_mib_s", "c100_mib_s"]:
            h, w = get(placement, H, fig), get(placement, W, fig)
            if h and w:
                print(f"{placement}.window_cost_pct.{fig}={(h - w) / h * 100:.1f}")
        h, w = get(placement, H, "small1k_us_per_file"), get(
            placement, W, "small1k_us_per_file")
        if h and w:
            print(f"{placement}.window_cost_pct.small1k_us_per_file={(w - h) / h * 100:.1f}")

        # The targets are set for the window open; the headless figures stand in for
        # them when the build has no window.
        server = W if get(placement, W, "get16_mib_s") else H

        def target(name, ok):
            if ok is not None:
                targets.append(f"target.{placement}.{server}.{name}={'met' if ok else 'missed'}")

        for fig in ["get16", "put16"]:
            v = get(placement, server, f"{fig}_mib_s")
            target(f"{fig}_at_least_0.9_of_lockstep", None if v is None or not limit else v >= 0.9 * limit)
        v, d = get(placement, server, "c100_mib_s"), get(placement, "dnsmasq", "c100_mib_s")
        target("c100_at_least_dnsmasq", None if v is None or d is None else v >= d)
        v, d = get(placement, server, "small1k_us_per_file"), get(placement, "dnsmasq", "small1k_us_per_file")
        target("small1k_no_slower_than_dnsmasq", None if v is None or d is None else v <= d)
        v = get(placement, server, "mem_growth_kib_per_transfer")
        target("mem_growth_at_most_16k_per_transfer", None if v is None else v <= 16)
        h, w = get(placement, H, "c100_mib_s"), get(placement, W, "c100_mib_s")
        if h and w:
            target("window_cost_at_most_5pct", (h - w) / h <= 0.05)

        # The native platform's own targets, headless (the engine's figures without the
        # window's work): one stream at least the better of tftpd-hpa and dnsmasq and 0.95
        # of the poll limit; many streams and small files at least dnsmasq.
        server = H

        def better(fig, higher=True):
            vals = [x for x in (get(placement, s, fig) for s in ["tftpd_hpa", "dnsmasq"]) if x]
            return (max(vals) if higher else min(vals)) if vals else None

        v, b, p = get(placement, server, "get16_mib_s"), better("get16_mib_s"), get(
            placement, "limit", "get16_mib_s")
        target("native_get16_at_least_best_peer", None if v is None or b is None else v >= b)
        target("native_get16_at_least_0.95_of_poll_limit", None if v is None or not p else v >= 0.95 * p)
        for fig in ["c20", "c100"]:
            v, d = get(placement, server, f"{fig}_mib_s"), get(placement, "dnsmasq", f"{fig}_mib_s")
            target(f"native_{fig}_at_least_dnsmasq", None if v is None or d is None else v >= d)
        v, d = get(placement, server, "small1k_us_per_file"), get(placement, "dnsmasq", "small1k_us_per_file")
        target("native_small1k_no_slower_than_dnsmasq", None if v is None or d is None else v <= d)
        v = get(placement, server, "mem_growth_kib_per_transfer")
        target("native_mem_growth_at_most_8k_per_transfer", None if v is None else v <= 8)

# Scale (--only scale): the figures at each number of live transfers over those at the
# fewest, ours over dnsmasq's at the same number, and the targets: time (and CPU) per
# block within 10 % of the fewest's, growth at most 8 KiB per live transfer from 1,000 on
# (with a handful held, the growth is a page of the allocator more or less).
scale = defaultdict(dict)  # (placement, server) -> {n: {figure: median}}
for (placement, server, figure), m in median.items():
    if figure.startswith("scale") and "." in figure:
        n, fig = figure[len("scale"):].split(".", 1)
        scale[(placement, server)].setdefault(int(n), {})[fig] = m
for (placement, server), by_n in sorted(scale.items()):
    fewest = min(by_n)
    ours_here = server in ours

    def scale_target(name, ok):
        if ours_here:
            targets.append(f"target.{placement}.{server}.{name}={'met' if ok else 'missed'}")

    for n in sorted(by_n):
        if n != fewest:
            for fig in ["us_per_block", "cpu_us_per_block"]:
                r = ratio(f"{placement}.{server}.scale{n}.{fig}_ratio_to_scale{fewest}",
                          by_n[n].get(fig), by_n[fewest].get(fig))
                if r is not None:
                    scale_target(f"scale{n}.{fig}_within_1.10_of_scale{fewest}", r <= 1.10)
        g = by_n[n].get("growth_kib_per_transfer")
        if g is not None and n >= 1000:
            scale_target(f"scale{n}.growth_at_most_8k_per_transfer", g <= 8)
        peer = scale.get((placement, "dnsmasq"), {}).get(n, {})
        if ours_here:
            for fig in ["us_per_block", "cpu_us_per_block", "growth_kib_per_transfer"]:
                ratio(f"{placement}.{server}.scale{n}.{fig}_ratio_to_dnsmasq",
                      by_n[n].get(fig), peer.get(fig))

# Negotiated (--only negotiated): every figure over the best peer's at the same figure and
# placement (with a window, atftpd's: dnsmasq and tftpd-hpa have no windowsize), the
# window's cost against headless, and the targets: ours at least that peer on every
# figure, the window at most 5 % below headless.
negotiated_peers = ["dnsmasq", "tftpd_hpa", "atftpd"]
negotiated = sorted({f for (_, _, f) in median if f.startswith("b1468_")},
                    key=lambda f: (f.endswith("c100_mib_s"), len(f), f))
for placement in sorted({k[0] for k in values}):
    for fig in negotiated:
        short = fig[:-len("_mib_s")]
        windowed = "_w" in fig
        peers = {s: get(placement, s, fig) for s in (["atftpd"] if windowed else negotiated_peers)}
        peers = {s: v for s, v in peers.items() if v is not None}
        if not peers:
            continue
        best = max(peers, key=peers.get)
        versus = "atftpd" if windowed else "best_peer"
        if not windowed:
            print(f"{placement}.{short}.best_peer={best}")
        for server in ours + negotiated_peers:
            r = ratio(f"{placement}.{server}.{short}_ratio_to_{versus}",
                      get(placement, server, fig), peers[best])
            if server in ours and r is not None:
                targets.append(f"target.{placement}.{server}.{short}_at_least_{versus}="
                               f"{'met' if r >= 1 else 'missed'}")
        h, w = get(placement, "ours_headless", fig), get(placement, "ours_window", fig)
        if h and w:
            print(f"{placement}.window_cost_pct.{fig}={(h - w) / h * 100:.1f}")
            targets.append(f"target.{placement}.ours_window.{short}_window_cost_at_most_5pct="
                           f"{'met' if (h - w) / h <= 0.05 else 'missed'}")

for t in targets:
    print(t)
