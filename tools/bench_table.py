#!/usr/bin/env python3
"""Prints the table of tools/bench.sh from the outputs of one run, in the order the benchmarks ran.

A benchmark's TABLE lines (bench/bench_table.h) give its rows. A Google Benchmark program that
prints none gives a row per benchmark from its JSON: the time, its counters, and the ratio to the
hand-written benchmark named beside it below, measured in the same run.
"""
import json
import os
import re
import sys

# A benchmark measured through the system, and the hand-written one that does the same work.
BASELINES = {
    "BM_InboxRefresh": "BM_InboxListByHand",
    "BM_AcceptPlanThroughWindow": "BM_AcceptPlanHandWritten",
    "BM_TrainingExtractionThroughWindow": "BM_TrainingExtractionHandWritten",
    "BM_ExportWorkerList/10000": "BM_HandWrittenSheet/10000",
}


def time_text(entry):
    return f"{entry['real_time']:.1f} {entry['time_unit']}"


def counters(entry):
    skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
            "real_time", "cpu_time", "time_unit", "family_index", "per_family_instance_index", "aggregate_name",
            "error_occurred", "error_message", "label"}
    return ", ".join(f"{k} {v:.4g}" for k, v in entry.items() if k not in skip and isinstance(v, (int, float)))


def rows_of(folder, name):
    rows = []
    text = os.path.join(folder, name + ".txt")
    if os.path.exists(text):
        with open(text, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("TABLE|"):
                    rows.append(line.rstrip("\n").split("|")[1:5])
    if rows:
        return rows
    path = os.path.join(folder, name + ".json")
    if not os.path.exists(path):
        return [[name, "did not run", "", ""]]
    with open(path, encoding="utf-8") as f:
        # Named without Google Benchmark's "/iterations:N".
        entries = {re.sub(r"/iterations:\d+$", "", e["name"]): e for e in json.load(f).get("benchmarks", [])}
    for key, entry in entries.items():
        if entry.get("error_occurred"):
            rows.append([f"{name} {key}", "failed: " + entry.get("error_message", ""), "", ""])
            continue
        measured = time_text(entry)
        extra = counters(entry)
        if extra:
            measured += f" ({extra})"
        base = entries.get(BASELINES.get(key, ""))
        if base:
            rows.append([f"{name} {key}", measured, time_text(base), f"{entry['real_time'] / base['real_time']:.2f}"])
        else:
            rows.append([f"{name} {key}", measured, "", ""])
    return rows


def main():
    folder, names = sys.argv[1], sys.argv[2:]
    print("| figure | measured | baseline (hand-written) | ratio |")
    print("|---|---|---|---|")
    for name in names:
        for figure, measured, baseline, ratio in rows_of(folder, name):
            print(f"| {figure} | {measured} | {baseline} | {ratio} |")


if __name__ == "__main__":
    main()
