#!/usr/bin/env python3
"""Turns the JSON of bench/run into the tables of docs/BENCHMARKS.md and the scaling plot.

usage: report.py RESULT.json TRIMMED.json BENCHMARKS.md PLOT.png

TRIMMED.json receives the context and the medians of RESULT.json (the file that is committed).
Only the part of BENCHMARKS.md between the "results" markers is rewritten; every number in it
comes from RESULT.json.
"""
import json
import sys

BEGIN = "<!-- results:begin (written by bench/report.py from bench/run; do not edit) -->"
END = "<!-- results:end -->"
LABELS, OTHERS = {}, []  # from the "columns" entry of the results' context (bench/Columns.h)


def load(path):
    with open(path) as f:
        data = json.load(f)
    for entry in data["context"].get("columns", "").split(";"):
        if "=" in entry:
            name, label = entry.split("=", 1)
            if name.startswith("other:"):
                name = name[len("other:"):]
                OTHERS.append(name)
            LABELS[name] = label
    results, spread = {}, {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") not in ("median", "cv"):
            continue
        parts = [p for p in b["run_name"].split("/") if ":" not in p and p != "manual_time"]
        key = ("/".join(parts[:-1]), parts[-1])
        if b.get("aggregate_name") == "cv":
            spread[key] = b["cpu_time"]
        elif not b.get("error_occurred"):
            results[key] = b
    return data, results, spread


def trim(data, path):
    """Keeps the context and the medians (and single runs): the committed result stays small."""
    kept = [b for b in data["benchmarks"]
            if b.get("run_type") != "aggregate" or b.get("aggregate_name") in ("median", "cv")]
    with open(path, "w") as f:
        json.dump({"context": data["context"], "benchmarks": kept}, f, indent=1)
        f.write("\n")


def fmt(v, digits=3):
    if v is None:
        return "–"
    return f"{v:,.0f}" if abs(v) >= 100 else f"{v:.{digits}g}"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def ms(results, case, column):
    """Median CPU time in ms (manual time for the memory cases, which is the child's CPU)."""
    b = results.get((case, column))
    if b is None:
        return None
    key = "real_time" if case.startswith("memory_") else "cpu_time"
    return b[key] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]


def mbs(results, case, column):
    """MB (10^6 bytes) per CPU second."""
    b = results.get((case, column))
    if b is None:
        return None
    return b.get("mb_per_cpu_s") if case.startswith("memory_") else b.get("bytes_per_second", 0) / 1e6


def peak(results, case, column):
    b = results.get(("memory_" + case, column))
    return None if b is None else b["peak_kb"] / 1024


def table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    return "\n".join(out + ["| " + " | ".join(r) + " |" for r in rows])


def timed(results, case, column):
    t = ms(results, case, column)
    return "–" if t is None else f"{fmt(t)} ({fmt(mbs(results, case, column))})"


def columns_of(results, case, wanted):
    return [c for c in wanted if (case, c) in results]


def section_load(results):
    cases = [(f"load_{src}_{size}", f"{size}, from {'disk' if src == 'file' else 'memory'}")
             for size in ("1MB", "20MB") for src in ("file", "memory")]
    cols = ["kel", "raw", "kel_fresh", "raw_fresh"] + OTHERS
    rows = [[label] + [timed(results, case, c) for c in cols] +
            [fmt(ratio(ms(results, case, "kel"), ms(results, case, "raw"))),
             fmt(ratio(ms(results, case, "kel_fresh"), ms(results, case, "raw_fresh")))] for case, label in cases]
    return table(["load: ms CPU (MB/s)"] + [LABELS.get(c, c) for c in cols] +
                 ["Kel_XML / raw, kept", "Kel_XML / raw, new"], rows)


LADDER = ["raw_nosec", "raw", "bounded", "pooled", "srcofs", "source", "notes", "kel"]


def section_ladder(results):
    case = "load_memory_20MB"
    base = ms(results, case, "raw_nosec")
    rows, previous = [], None
    for c in LADDER:
        t = ms(results, case, c)
        label = "+ the security manager (the raw baseline)" if c == "raw" else \
            "+ the rest of Load (the library's Load)" if c == "kel" else LABELS.get(c, c)
        rows.append([label, fmt(t), fmt(ratio(t, base)),
                     "–" if None in (previous, t, base) else f"{(t - previous) / base:+.3f}"])
        previous = t
    return table(["20 MB from memory, one parser kept", "ms CPU", "/ raw without security manager",
                  "step"], rows)


def section_stream(results):
    cases = [(f"stream_{what}_{size}", f"{label}, {size}") for what, label in
             (("count", "count the Records (GetNbElementsInFile)"),
              ("attributes", "3 attributes and the text of every Record (StreamRecords)")) for size in ("1MB", "50MB")]
    cols = ["kel", "raw_sax", "libxml2_reader"]
    rows = [[label] + [timed(results, case, c) for c in cols] +
            [fmt(ratio(ms(results, case, "kel"), ms(results, case, "raw_sax")))] for case, label in cases]
    return table(["streaming: ms CPU (MB/s)"] + [LABELS[c] for c in cols] + ["Kel_XML / raw SAX2"], rows)


def section_memory(results):
    cases = sorted({case[len("memory_"):] for case, _ in results if case.startswith("memory_")},
                   key=lambda c: (c.rsplit("_", 1)[0], dict(SIZES)[c.rsplit("_", 1)[1]]))
    cols = [c for c in ["kel", "raw", "raw_sax"] + OTHERS if any(("memory_" + k, c) in results for k in cases)]
    rows = [[case] + ["–" if peak(results, case, c) is None else
                      f"{fmt(peak(results, case, c))} ({fmt(mbs(results, 'memory_' + case, c))})" for c in cols]
            for case in cases]
    return table(["peak resident MB (MB per CPU s), one process each"] + [LABELS.get(c, c) for c in cols], rows)


def section_validate(results):
    case = "validate_1000_small"
    base = ms(results, case, "raw_sax")
    rows = [[LABELS[c], fmt(None if ms(results, case, c) is None else ms(results, case, c)),
             fmt(ratio(ms(results, case, c), base))] for c in ("kel", "kel_load", "raw_sax")]
    rows[0][0] = "Kel_XML Validate, no tree"
    small = table(["1,000 documents of 1 KB, one cached schema", "µs CPU per document", "/ raw SAX2"], rows)
    case = "validate_named_schemas"
    base = ms(results, case, "raw_sax")
    rows = [[label, fmt(ms(results, case, c)), fmt(ratio(ms(results, case, c), base))]
            for c, label in (("kel", "Kel_XML Validate (E_LOAD_VALIDATE)"),
                             ("raw_sax", "raw Xerces SAX2 handler, the same settings, loading the schemas"))]
    named = table(["a document naming 24 schemas, each importing one of 236 KB, read at every parse",
                   "ms CPU", "/ raw SAX2"], rows)
    return small + "\n\n" + named


def section_other(results):
    cases = [("save_pretty_1MB", "Save pretty-printed (atomic, flushed)"),
             ("xpath_by_id_1MB", "XPath //Record[@id='123']"),
             ("xpath_count_over_1MB", "XPath count(//Record[Count > 100])")]
    rows = [[label] + [fmt(ms(results, case, c)) for c in ("kel", "raw", "libxml2")] +
            [fmt(ratio(ms(results, case, "kel"), ms(results, case, "raw")))] for case, label in cases]
    return table(["on the loaded 1 MB tree (ms CPU)", "Kel_XML", "raw Xerces", "libxml2", "Kel_XML / raw"], rows)


def section_noise(spread):
    noisy = sorted(((cv, f"{case}/{col}") for (case, col), cv in spread.items() if cv > 0.10), reverse=True)
    if not noisy:
        return "Every case varied by less than 10 % (CPU time) between repetitions."
    return ("Cases whose CPU time varied by more than 10 % between repetitions (coefficient of variation): " +
            ", ".join(f"{name} {cv * 100:.0f} %" for cv, name in noisy) + ".")


SIZES = [("1MB", 1), ("20MB", 20), ("50MB", 50), ("2GB", 2000)]
SERIES = [("load_file", "kel", "Load, Kel_XML"), ("load_file", "raw", "Load, raw DOM"),
          ("load_file", "libxml2", "Load, libxml2"),
          ("stream_count", "kel", "count, Kel_XML"), ("stream_count", "raw_sax", "count, raw SAX2"),
          ("stream_attributes", "kel", "attributes, Kel_XML"), ("stream_attributes", "raw_sax", "attributes, raw SAX2"),
          ("stream_attributes", "libxml2_reader", "attributes, xmlTextReader")]


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    fig, (speed, memory) = plt.subplots(1, 2, figsize=(13, 5))
    for prefix, column, label in SERIES:
        xs, ys, ps = [], [], []
        for size, mb in SIZES:
            case = f"{prefix}_{size}"
            rate = mbs(results, case, column) or mbs(results, "memory_" + case, column)
            if rate is not None:
                xs.append(mb)
                ys.append(rate)
                ps.append(peak(results, case, column))
        style = "o-" if column == "kel" else "s--"
        if xs:
            speed.plot(xs, ys, style, label=label)
            memory.plot([x for x, p in zip(xs, ps) if p], [p for p in ps if p], style, label=label)
    for ax, title, unit in ((speed, "Throughput", "MB per CPU second"), (memory, "Peak resident size", "MB")):
        ax.set_xscale("log")
        ax.set_xticks([mb for _, mb in SIZES])
        ax.set_xticklabels([s for s, _ in SIZES])
        ax.set_xlabel("record file")
        ax.set_ylabel(unit)
        ax.set_title(title)
        ax.grid(True, alpha=0.3)
    memory.set_yscale("log")
    memory.set_yticks([16, 32, 64, 128, 256, 512])
    memory.yaxis.set_major_formatter(matplotlib.ticker.ScalarFormatter())
    speed.legend(fontsize=8, loc="center right")
    fig.tight_layout()
    fig.savefig(path, dpi=80)


def main():
    result_path, trimmed_path, doc_path, plot_path = sys.argv[1:5]
    data, results, spread = load(result_path)
    context = data["context"]
    trim(data, trimmed_path)
    plot(results, plot_path)
    text = f"""{BEGIN}

Run of {context.get('started', context.get('date'))} UTC, library at commit `{context.get('commit', '?')}`,
{context.get('cpu_model', '?')}, `nproc` = {context.get('nproc', context.get('num_cpus'))}; load average
before the run {context.get('load_before', '?')}. Median of {context.get('repetitions', '?')} repetitions
(the memory cases: one run each). Release build (`-O3 -DNDEBUG`).

{section_noise(spread)}

### Loading

{section_load(results)}

### The load's ladder

{section_ladder(results)}

### Streaming

{section_stream(results)}

### Memory and throughput per file size

{section_memory(results)}

![throughput and peak memory per file size](bench-scaling.png)

### Validating many small documents

{section_validate(results)}

### Saving and XPath

{section_other(results)}

{END}"""
    with open(doc_path) as f:
        current = f.read()
    if BEGIN in current and END in current:
        head, rest = current.split(BEGIN, 1)
        current = head + text + rest.split(END, 1)[1]
    else:
        current = current.rstrip("\n") + "\n\n" + text + "\n"
    with open(doc_path, "w") as f:
        f.write(current)


if __name__ == "__main__":
    main()
