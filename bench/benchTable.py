#!/usr/bin/env python3
"""Turns the benchmark binary's JSON output into the one table that
scripts/bench.sh prints: every recording case beside its hand-written floor
from the same run, and the output files' throughput.

Usage: benchTable.py RESULTS.json
Medians are taken over the repetitions of each benchmark."""

import json
import statistics
import sys

RATIO_TARGET = 1.2      # a recording case against its floor
FLAT_TARGET = 1.5       # saveTrace per record, 8 or 64 buffers against 1
TOTAL_RECORDS = 1_000_000

# (key, label): key/lib and key/floor are the benchmark names.
RECORDING = [
    ("fc_rx", "traceRx, FC frame, FC preset"),
    ("els_rx", "traceRx, ELS frame, ELS + FC presets"),
    ("eth_rx", "traceRx, Ethernet frame, Ethernet preset"),
    ("fc_tx_port", "traceTx with a port, FC frame, FC preset"),
    ("no_match_1", "frame matching none of 1 filter"),
    ("no_match_8", "frame matching none of 8 filters"),
    ("no_match_64", "frame matching none of 64 filters"),
    ("device_event", "traceDeviceEvent"),
    ("manual", "beginTrace, 2 x addToTrace, endTrace"),
    ("fc_rx_mirrored", "traceRx, FC preset, mirrored to syslog"),
    ("fc_rx_mirrored_socket", "traceRx, FC preset, mirrored through the non-blocking socket"),
    ("fc_rx_mirrored_unread", "traceRx, FC preset, non-blocking socket that nobody reads"),
    ("fc_rx_persistent", "traceRx, FC preset, ring kept in a file"),
    ("fc_rx_followed", "traceRx, FC preset, ring kept in a file and followed (floor: not followed)"),
]
# Cases measured against another library case instead of a hand-written
# floor, and how close they must come to it.
FLOOR_OF = {"fc_rx_followed": ("fc_rx_persistent/lib", 1.05)}
OUTPUT = [("save", "saveTrace"), ("dump", "debugDump")]
# tracereplay over 3,000,000 frames; the sorted cases' peak RSS against the
# in-order run's plus the default sort memory.
REPLAY = [
    ("replay/in_order", "tracereplay, 3 M frames in time order"),
    ("replay/one_late", "tracereplay, 3 M frames, one late (sorted whole)"),
    ("replay/shuffled", "tracereplay, 3 M frames shuffled (sorted whole)"),
]
REPLAY_FRAMES = 3_000_000
SORT_MEMORY = 64 << 20
SORT_SLACK = 4 << 20    # the merge's read buffers and the heap's own overhead
BUFFER_COUNTS = [1, 8, 64]

TIME_SCALE_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def medians(results):
    """run name -> {field: median over its repetitions}"""
    runs = {}
    for bench in results["benchmarks"]:
        if bench.get("run_type") != "iteration" or "error_occurred" in bench:
            continue
        name = bench["run_name"].split("/iterations:")[0].split("/real_time")[0]
        runs.setdefault(name, []).append(bench)
    table = {}
    for name, reps in runs.items():
        scale = TIME_SCALE_NS[reps[0]["time_unit"]]
        row = {"reps": len(reps)}
        for field in ("real_time", "cpu_time"):
            row[field] = statistics.median(r[field] * scale for r in reps)
        for field in ("allocs", "items_per_second", "bytes_per_second", "file_bytes", "wall_ms",
                      "peak_rss"):
            if field in reps[0]:
                row[field] = statistics.median(r[field] for r in reps)
        table[name] = row
    return table


def ns(value):
    return f"{value:.1f} ns" if value < 1000 else f"{value / 1000:.2f} us"


def allocs(value):
    return "0" if value == 0 else f"{value:.3g}"


def verdict(ok):
    return "met" if ok else "MISSED"


def recording_rows(table):
    rows = []
    clock = table.get("clock/gettimeofday")
    if clock:
        rows.append(["gettimeofday alone", "", ns(clock["cpu_time"]), "", allocs(clock["allocs"]),
                     "", ""])
    for key, label in RECORDING:
        floor_name, ratio_target = FLOOR_OF.get(key, (key + "/floor", RATIO_TARGET))
        lib = table.get(key + "/lib")
        floor = table.get(floor_name)
        if not lib or not floor:
            continue
        ratio = lib["cpu_time"] / floor["cpu_time"]
        no_alloc = lib["allocs"] == 0
        target = (f"<= {ratio_target}x: {verdict(ratio <= ratio_target)}; "
                  f"no alloc: {verdict(no_alloc)}")
        rows.append([label, ns(lib["cpu_time"]), ns(floor["cpu_time"]), f"{ratio:.2f}",
                     f"{allocs(lib['allocs'])} (floor {allocs(floor['allocs'])})", "", target])
    return rows


def output_rows(table):
    rows = []
    for key, label in OUTPUT:
        base = table.get(f"{key}_1")
        for count in BUFFER_COUNTS:
            row = table.get(f"{key}_{count}")
            if not row:
                continue
            per_record = row["cpu_time"] / TOTAL_RECORDS
            flat = per_record / (base["cpu_time"] / TOTAL_RECORDS) if base else float("nan")
            throughput = (f"{row['items_per_second'] / 1e6:.2f} M records/s, "
                          f"{row['bytes_per_second'] / 1e6:.0f} MB/s "
                          f"({row['file_bytes'] / 1e6:.1f} MB file; "
                          f"wall {row['wall_ms']:.0f} ms)")
            target = ""
            if key == "save" and count != 1:
                target = f"per record <= {FLAT_TARGET}x of 1 buffer: {verdict(flat <= FLAT_TARGET)}"
            plural = "buffer" if count == 1 else "buffers"
            rows.append([f"{label}, {count} {plural}, 1,000,000 records",
                         f"{row['cpu_time'] / 1e6:.0f} ms ({per_record:.0f} ns/record)", "",
                         f"{flat:.2f}", allocs(row["allocs"]), throughput, target])
    return rows


def replay_rows(table):
    rows = []
    base = table.get("replay/in_order")
    for key, label in REPLAY:
        row = table.get(key)
        if not row:
            continue
        mib = row["peak_rss"] / (1 << 20)
        throughput = f"{row['items_per_second'] / 1e6:.2f} M frames/s, peak RSS {mib:.0f} MiB"
        target = ""
        if base and key != "replay/in_order":
            ceiling = (base["peak_rss"] + SORT_MEMORY + SORT_SLACK) / (1 << 20)
            target = (f"peak RSS <= in order + sort memory + 4 MiB ({ceiling:.0f} MiB): "
                      f"{verdict(mib <= ceiling)}")
        rows.append([label, f"{row['real_time'] / 1e6:.0f} ms (wall)", "", "", "", throughput,
                     target])
    return rows


def cpu_model():
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1]) as f:
        results = json.load(f)
    table = medians(results)
    reps = max((row["reps"] for row in table.values()), default=0)
    context = results.get("context", {})
    print(f"{cpu_model()}, {context.get('num_cpus', '?')} cores at "
          f"{context.get('mhz_per_cpu', '?')} MHz; medians of {reps} repetitions; "
          f"CPU time of the calling thread")
    print()
    header = ["Case", "Library", "Floor", "Ratio", "Allocs/op", "Throughput", "Target"]
    rows = recording_rows(table) + output_rows(table) + replay_rows(table)
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(["---", "---:", "---:", "---:", "---:", "---", "---"]) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
