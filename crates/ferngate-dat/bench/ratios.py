#!/usr/bin/env python3
"""Turns ferngate_bench's Google Benchmark JSON output into the ratios of issue 6.

    ratios.py RESULTS_JSON RATIOS_JSON

Writes RATIOS_JSON, an object with exactly the keys of KEYS, and prints a Markdown table of
them with their targets and a pass or fail mark, then a table of every measured pair.

How the numbers are made:
- Each benchmark's time is the median over its repetitions: CPU time of the benchmark thread
  for everything in process, wall time for the child process (check/program).
- A ratio is "peer time / our time" (higher is better) from those medians. Every arm of a
  pair produces the same output bytes, so it is also "our throughput / peer throughput".
- Size sweeps (DXT at 256, 512 and 1024 pixels a side; JPEG the same) report the median of
  the per-size ratios, which is the ratio at the middle size unless that one is out of line.
- lrs_vs_reference is the median over the four payloads; lrs_vs_lz4_dxt5 and
  lrs_vs_lz4_repetitive are single payloads.
- check_fetch_share is the median share of the in-process walk's time spent in get_file (both
  on the monotonic clock); check_peak_rss_mib the median peak resident set of
  texture_format_coverage run on the archive. The walk of the same archive with adjacent blocks
  is printed after the tables, outside the keys.
Only the standard library is used.
"""

import json
import statistics
import sys

SIDES = (256, 512, 1024)
LRS_PAYLOADS = ("dxt5_512", "flat_bgra_256", "dxt1_512", "repetitive")
PLAIN_FORMATS = ("R8G8B8", "A8R8G8B8", "R5G6B5", "A4R4G4B4", "A8", "CustomLscapeR8G8B8",
                 "CustomLscapeAlpha")

KEYS = (
    "dxt1_vs_squish", "dxt3_vs_squish", "dxt5_vs_squish", "dxt1_vs_reference",
    "dxt5_vs_reference", "lrs_vs_lz4_dxt5", "lrs_vs_lz4_repetitive", "lrs_vs_reference",
    "jpeg_rgb_vs_turbojpeg", "jpeg_grey_vs_turbojpeg", "chain_adjacent_vs_single_pread",
    "chain_shuffled_vs_two_reads_per_block", "check_peak_rss_mib", "check_fetch_share",
)

# (comparison, bound, what the number means); the RSS bound depends on the archive.
TARGETS = {
    "dxt1_vs_squish": (">=", 5.5, "squish::Decompress loop time / decompress_dxt1 time"),
    "dxt3_vs_squish": (">=", 5.0, "squish::Decompress loop time / decompress_dxt3 time"),
    "dxt5_vs_squish": (">=", 5.5, "squish::Decompress loop time / decompress_dxt5 time"),
    "dxt1_vs_reference": (">=", 24.0, "per-texel reference time / decompress_dxt1 time"),
    "dxt5_vs_reference": (">=", 20.0, "per-texel reference time / decompress_dxt5 time"),
    "lrs_vs_lz4_dxt5": (">=", 0.45, "LZ4_decompress_safe time / decompress_lrs time, DXT5 512²"),
    "lrs_vs_lz4_repetitive": (">=", 0.65,
                              "LZ4_decompress_safe time / decompress_lrs time, repetitive"),
    "lrs_vs_reference": (">=", 3.0, "byte-at-a-time reference time / decompress_lrs time"),
    "jpeg_rgb_vs_turbojpeg": (">=", 0.97, "tjDecompress2 time / to_rgba8 time, colour"),
    "jpeg_grey_vs_turbojpeg": (">=", 1.2, "tjDecompress2 time / to_rgba8 time, greyscale"),
    "chain_adjacent_vs_single_pread": (">=", 0.3,
                                       "one pread of the area / get_file, adjacent blocks"),
    "chain_shuffled_vs_two_reads_per_block": (
        ">=", 1.8, "two preads per block / get_file, shuffled blocks"),
    "check_peak_rss_mib": ("<=", None, "peak RSS of texture_format_coverage, MiB"),
    "check_fetch_share": ("<=", 0.25, "share of the walk's time spent in get_file"),
}

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def base_name(run_name):
    """The benchmark's own name, without the suffixes the library adds."""
    return "/".join(part for part in run_name.split("/") if ":" not in part and part != "real_time")


def load(path):
    """Median time (ns) and median counters of each benchmark, from its repetitions."""
    with open(path, encoding="utf-8") as f:
        results = json.load(f)
    runs = {}
    errors = {}
    for entry in results.get("benchmarks", []):
        if entry.get("run_type") != "iteration":
            continue
        name = base_name(entry.get("run_name", entry["name"]))
        if entry.get("error_occurred"):
            errors[name] = entry.get("error_message", "error")
            continue
        field = "real_time" if "/real_time" in entry["name"] else "cpu_time"
        time_ns = entry[field] * UNIT_NS[entry.get("time_unit", "ns")]
        run = runs.setdefault(name, {"times": [], "counters": {}})
        run["times"].append(time_ns)
        for key, value in entry.items():
            if key in ("name", "run_name", "run_type", "family_index", "per_family_instance_index",
                       "repetitions", "repetition_index", "threads", "iterations", "real_time",
                       "cpu_time", "time_unit", "aggregate_name", "label"):
                continue
            if isinstance(value, (int, float)) and not isinstance(value, bool):
                run["counters"].setdefault(key, []).append(value)
    medians = {}
    for name, run in runs.items():
        medians[name] = {
            "time": statistics.median(run["times"]),
            "repetitions": len(run["times"]),
            "counters": {k: statistics.median(v) for k, v in run["counters"].items()},
        }
    return medians, errors, results.get("context", {})


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    medians, errors, _ = load(argv[1])

    pairs = []  # (group, case, peer name, our name, ratio or None)

    def ratio(peer, ours):
        if peer in medians and ours in medians and medians[ours]["time"] > 0:
            return medians[peer]["time"] / medians[ours]["time"]
        return None

    def pair(group, case, peer, ours):
        value = ratio(peer, ours)
        pairs.append((group, case, peer, ours, value))
        return value

    def median_of(values):
        present = [v for v in values if v is not None]
        # A missing case makes the aggregate missing rather than quietly different.
        return statistics.median(present) if present and len(present) == len(values) else None

    out = {}
    for n in (1, 3, 5):
        for peer in ("squish", "reference"):
            out[f"dxt{n}_vs_{peer}"] = median_of(
                [pair(f"dxt{n}_vs_{peer}", f"{s}²", f"dxt{n}/{peer}/{s}", f"dxt{n}/ours/{s}")
                 for s in SIDES])
    lz4 = {p: pair("lrs_vs_lz4", p, f"lrs/lz4/{p}", f"lrs/ours/{p}") for p in LRS_PAYLOADS}
    out["lrs_vs_lz4_dxt5"] = lz4["dxt5_512"]
    out["lrs_vs_lz4_repetitive"] = lz4["repetitive"]
    out["lrs_vs_reference"] = median_of(
        [pair("lrs_vs_reference", p, f"lrs/reference/{p}", f"lrs/ours/{p}") for p in LRS_PAYLOADS])
    for kind in ("rgb", "grey"):
        out[f"jpeg_{kind}_vs_turbojpeg"] = median_of(
            [pair(f"jpeg_{kind}_vs_turbojpeg", f"{s}²", f"jpeg_{kind}/turbojpeg/{s}",
                  f"jpeg_{kind}/ours/{s}") for s in SIDES])
    out["chain_adjacent_vs_single_pread"] = pair(
        "chain", "adjacent vs single pread", "chain/single_pread/adjacent", "chain/get_file/adjacent")
    out["chain_shuffled_vs_two_reads_per_block"] = pair(
        "chain", "shuffled vs two reads per block", "chain/two_reads_per_block/shuffled",
        "chain/get_file/shuffled")
    pair("chain", "adjacent vs two reads per block", "chain/two_reads_per_block/adjacent",
         "chain/get_file/adjacent")
    pair("chain", "shuffled vs single pread", "chain/single_pread/shuffled",
         "chain/get_file/shuffled")
    for f in PLAIN_FORMATS:
        pair("plain_vs_memcpy", f, "plain/any/memcpy", f"plain/{f}/ours")

    walk = medians.get("check/walk/sample")
    adjacent_walk = medians.get("check/walk/adjacent")
    program = medians.get("check/program/sample")
    out["check_fetch_share"] = walk["counters"].get("fetch_share") if walk else None
    out["check_peak_rss_mib"] = program["counters"].get("peak_rss_mib") if program else None
    largest = walk["counters"].get("largest_record_mib") if walk else None
    rss_bound = 64 + 2 * largest if largest is not None else None

    assert set(KEYS) <= set(out)
    ratios = {key: (round(out[key], 4) if out[key] is not None else None) for key in KEYS}
    with open(argv[2], "w", encoding="utf-8") as f:
        json.dump(ratios, f, indent=2)
        f.write("\n")

    print("| key | value | target | | meaning |")
    print("|---|---:|---|---|---|")
    failed = 0
    for key in KEYS:
        op, bound, meaning = TARGETS[key]
        if key == "check_peak_rss_mib":
            bound = rss_bound
        value = out[key]
        if value is None or bound is None:
            mark = "n/a"
            failed += 1
        else:
            ok = value >= bound if op == ">=" else value <= bound
            mark = "pass" if ok else "FAIL"
            failed += 0 if ok else 1
        shown = "—" if value is None else f"{value:.3f}" if value < 10 else f"{value:.1f}"
        target = "—" if bound is None else f"{op} {bound:.3g}"
        print(f"| `{key}` | {shown} | {target} | {mark} | {meaning} |")
    print(f"\n{len(KEYS) - failed} of {len(KEYS)} targets met.")

    print("\nEvery pair (peer time / our time, medians):\n")
    print("| comparison | case | ratio | peer median | our median |")
    print("|---|---|---:|---:|---:|")
    for group, case, peer, ours, value in pairs:
        shown = "—" if value is None else f"{value:.3f}"
        peer_t = format_time(medians[peer]["time"]) if peer in medians else "—"
        our_t = format_time(medians[ours]["time"]) if ours in medians else "—"
        print(f"| {group} | {case} | {shown} | {peer_t} | {our_t} |")

    if walk or program:
        print("\nThe whole check on the sample archive (medians):\n")
        if walk:
            c = walk["counters"]
            print(f"- in-process walk: {format_time(walk['time'])} CPU, "
                  f"{c.get('fetch_share', 0):.1%} of it in get_file, "
                  f"{c.get('textures', 0):.0f} texture records, "
                  f"{c.get('failures', 0):.0f} failures; largest record "
                  f"{c.get('largest_record_mib', 0):.2f} MiB stored + RGBA8")
        if adjacent_walk:
            c = adjacent_walk["counters"]
            print(f"- in-process walk of the same archive with every file's blocks adjacent: "
                  f"{format_time(adjacent_walk['time'])} CPU, "
                  f"{c.get('fetch_share', 0):.1%} of it in get_file")
        if program:
            c = program["counters"]
            print(f"- texture_format_coverage: {format_time(program['time'])} wall, "
                  f"{c.get('child_cpu_ms', 0) / 1000:.2f} s CPU, "
                  f"peak RSS {c.get('peak_rss_mib', 0):.1f} MiB")
    if errors:
        print("\nBenchmarks that did not run:")
        for name, message in sorted(errors.items()):
            print(f"- {name}: {message}")
    return 0


def format_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


if __name__ == "__main__":
    sys.exit(main(sys.argv))
