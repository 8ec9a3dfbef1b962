#!/usr/bin/env python3
"""Turns the JSON of bench/run into the tables of docs/BENCHMARKS.md and the scaling plot.

usage: report.py RESULT.json TRIMMED.json BENCHMARKS.md PLOT.png

TRIMMED.json receives the context and the medians of RESULT.json (the file that is committed).

Only the part of BENCHMARKS.md between the "results" markers is rewritten; the text around it
is kept. Every number in that part comes from RESULT.json.
"""
import json
import sys

BEGIN = "<!-- results:begin (written by bench/report.py from bench/run; do not edit) -->"
END = "<!-- results:end -->"

# The other libraries' columns, as bench/Columns.h lists them (read from the results' context).
OTHERS = []
LABELS = {}


def read_columns(context):
    """Fills OTHERS and LABELS from the "columns" entry that kelxml_bench writes."""
    for entry in context.get("columns", "").split(";"):
        if "=" not in entry:
            continue
        name, label = entry.split("=", 1)
        if name.startswith("other:"):
            name = name[len("other:"):]
            OTHERS.append(name)
        LABELS[name] = label


def load(path):
    with open(path) as f:
        data = json.load(f)
    results, spread = {}, {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") not in ("median", "cv"):
            continue
        parts = [p for p in b["run_name"].split("/")
                 if ":" not in p and p not in ("manual_time", "real_time")]
        case, column = "/".join(parts[:-1]), parts[-1]
        if b.get("aggregate_name") == "cv":
            spread[(case, column)] = b["cpu_time"]
        else:
            results.setdefault(case, {})[column] = b
    return data, results, spread


def trim(data, path):
    """Keeps the context and the medians (and single runs): the committed result stays small."""
    kept = [b for b in data["benchmarks"]
            if b.get("run_type") != "aggregate" or b.get("aggregate_name") in ("median", "cv")]
    with open(path, "w") as f:
        json.dump({"context": data["context"], "benchmarks": kept}, f, indent=1)
        f.write("\n")


def section_noise(spread):
    noisy = sorted(((cv, case, column) for (case, column), cv in spread.items()
                    if cv > 0.10 and column in ("kel", "raw", "raw_ascii", "raw_fresh")
                    and not case.startswith("memory_")), reverse=True)
    if not noisy:
        return "Every case varied by less than 10 % (CPU time) between repetitions."
    cells = ", ".join(f"{case}/{column} {cv * 100:.0f} %" for cv, case, column in noisy)
    return ("Cases whose CPU time varied by more than 10 % between repetitions (coefficient of "
            f"variation), to be read with care: {cells}.")


def to_ms(b, key):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b[key] * scale


def fmt(v, digits=3):
    if v is None:
        return "–"
    if v >= 100:
        return f"{v:,.0f}"
    return f"{v:.{digits}g}"


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return a / b


def verdict(r, limit):
    if r is None:
        return "–"
    return f"{r:.2f} {'✓' if r <= limit else '✗'}"


def value(results, case, column, key="cpu_time"):
    b = results.get(case, {}).get(column)
    if b is None or b.get("error_occurred"):
        return None
    if key in ("cpu_time", "real_time"):
        return to_ms(b, key)
    return b.get(key)


def table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    out += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(out)


def section_load(results):
    cases = [("load_file_1MB", "1 MB record file, from disk"),
             ("load_memory_1MB", "1 MB record file, from memory"),
             ("load_file_50MB", "50 MB record file, from disk")]
    cols = ["kel", "raw"] + OTHERS
    rows = []
    for case, label in cases:
        row = [label]
        for c in cols:
            ms = value(results, case, c)
            mbs = value(results, case, c, "bytes_per_second")
            row.append("–" if ms is None else f"{fmt(ms)} ms ({fmt(mbs / 1e6 if mbs else None)} MB/s)")
        row.append(verdict(ratio(value(results, case, "kel"), value(results, case, "raw")), 1.05))
        rows.append(row)
    return table(["load (CPU time per load, throughput)", "Kel_XML", "raw Xerces"] + OTHERS +
                 ["Kel_XML / raw (target ≤ 1.05)"], rows)


def section_count(results):
    cases = [("count_file_1MB", "1 MB record file"), ("count_file_50MB", "50 MB record file")]
    rows = []
    for case, label in cases:
        row = [label] + [("–" if value(results, case, c) is None else f"{fmt(value(results, case, c))} ms")
                         for c in ("kel", "raw_sax", "raw")]
        row.append(verdict(ratio(value(results, case, "kel"), value(results, case, "raw_sax")), 1.2))
        rows.append(row)
    return table(["count the Record elements (CPU time)", "GetNbElementsInFile", "raw SAX2 handler",
                  "raw DOM, load and count", "Kel_XML / raw SAX2 (target ≤ 1.2)"], rows)


def section_small(results):
    cases = [("small_load_memory_1KB", "1 KB configuration, from memory"),
             ("small_load_file_1KB", "1 KB configuration, from disk")]
    cols = ["kel", "raw", "raw_fresh"] + OTHERS
    rows = []
    for case, label in cases:
        row = [label] + [fmt(None if value(results, case, c) is None else value(results, case, c) * 1e3)
                         for c in cols]
        row.append(verdict(ratio(value(results, case, "kel"), value(results, case, "raw")), 1.2))
        row.append(fmt(ratio(value(results, case, "kel"), value(results, case, "raw_fresh"))))
        rows.append(row)
    return table(["10,000 loads (µs CPU per load)", "Kel_XML", "raw, parser reused", "raw, new parser per load"] +
                 OTHERS + ["Kel_XML / raw reused (target ≤ 1.2)", "Kel_XML / raw new parser"], rows)


def section_validated(results):
    case = "validated_load_memory_1KB"
    cols = [("unvalidated", "unvalidated (plain Load)"), ("well_formed", "well-formed only"),
            ("xsd_named_cached", "XSD named by the caller, parsed once"),
            ("xsd_by_document", "XSD named by the document, read every load"),
            ("dtd_named_cached", "DTD named by the caller, parsed once"),
            ("dtd_by_document", "DTD named by the document, read every load")]
    if value(results, case, "unvalidated") is None:
        return "(not measured in this run)"
    base = value(results, case, "unvalidated")
    rows = []
    for c, label in cols:
        v = value(results, case, c)
        r = ratio(v, base)
        target = c.endswith("_cached")
        rows.append([label, fmt(None if v is None else v * 1e3), verdict(r, 1.3) if target else fmt(r)])
    return table(["10,000 loads of the 1 KB configuration, from memory", "µs CPU per load",
                  "/ unvalidated (target ≤ 1.3 for the cached ones)"], rows)


def section_reads(results):
    cases = [("attributes_typed", "typed attributes of every record (int, hex, float, bool, text)"),
             ("child_values", "GetChildValue: Name, Count, Amount, Enabled of every record"),
             ("loop_elements", "LoopElements Records\\Record, 3 attributes projected"),
             ("dictionary", "o_GetDictionaryFromNode of every record"),
             ("count_recursive", "GetNbChildInNode(root, \"Record\")"),
             ("element_text", "GetValue (whole text) of every record")]
    cols = ["kel", "raw", "raw_ascii"] + OTHERS
    rows = []
    for case, label in cases:
        row = [label] + [fmt(value(results, case, c)) for c in cols]
        row.append(verdict(ratio(value(results, case, "kel"), value(results, case, "raw")), 1.3))
        row.append(verdict(ratio(value(results, case, "kel"), value(results, case, "raw_ascii")), 1.3))
        rows.append(row)
    return table(["read over the 1 MB file (ms CPU per pass)", "Kel_XML", "raw Xerces", "raw + ASCII shortcut"] +
                 OTHERS + ["Kel_XML / raw (target ≤ 1.3)", "Kel_XML / raw + ASCII"], rows)


SPEEDUPS = [("pool_load_memory_1KB", "load the 1 KB configuration again (µs)", "system", "pool", 1e3),
            ("pool_load_memory_1MB", "load the 1 MB record file again (ms)", "system", "pool", 1),
            ("pool_load_memory_2400KB", "load a 2.4 MB record file again (ms)", "system", "pool", 1),
            ("pool_single_load_file_50MB", "one load of the 50 MB file, new parser (ms)", "system", "pool", 1),
            ("walk_tag_search_1MB", "tag search below the root of the 1 MB tree (ms)", "parent", "stack", 1),
            ("walk_text_1MB", "text of the whole 1 MB tree, mixed content (ms)", "parent", "stack", 1),
            ("walk_depth_check_1MB", "depth check of the 1 MB tree, as before Save (ms)", "parent", "stack", 1)]


def section_speedups(results):
    rows = []
    for case, label, before, after, scale in SPEEDUPS:
        b, a = value(results, case, before), value(results, case, after)
        rows.append([label, f"{before}: {fmt(None if b is None else b * scale)}",
                     f"{after}: {fmt(None if a is None else a * scale)}", fmt(ratio(a, b))])
    return table(["case (CPU per operation)", "before", "after", "after / before"], rows)


WALKS = ["count_recursive", "count_direct", "first_sub_node", "first_node", "loop_elements", "dictionary",
         "array_of_values", "element_text"]
SIZES = ["10k", "40k", "160k"]


def per_child(results, walk, size, column):
    return value(results, f"scale_{walk}/{size}", column, "ns_per_child")


def section_scale(results):
    rows = []
    for walk in WALKS:
        kel = [per_child(results, walk, s, "kel") for s in SIZES]
        raw = [per_child(results, walk, s, "raw") for s in SIZES]
        ascii_ = [per_child(results, walk, s, "raw_ascii") for s in SIZES]
        worst = max((r for r in (ratio(k, a) for k, a in zip(kel, raw)) if r is not None), default=None)
        worst_ascii = max((r for r in (ratio(k, a) for k, a in zip(kel, ascii_)) if r is not None), default=None)
        kel_growth, raw_growth = ratio(kel[-1], kel[0]), ratio(raw[-1], raw[0])
        rows.append([walk] + [fmt(v) for v in kel] + [fmt(v) for v in raw] +
                    [verdict(worst, 1.3), verdict(worst_ascii, 1.3), fmt(kel_growth), fmt(raw_growth),
                     verdict(ratio(kel[-1], kel[1]), 1.3)])
    header = (["walk (ns CPU per child)"] + [f"Kel_XML {s}" for s in SIZES] + [f"raw {s}" for s in SIZES] +
              ["worst Kel_XML / raw (≤ 1.3)", "worst Kel_XML / raw + ASCII", "Kel_XML 160k / 10k",
               "raw 160k / 10k", "Kel_XML 160k / 40k (linear ≤ 1.3; a walk by index: ≈ 4)"])
    return table(header, rows)


def section_edit(results):
    cases = [("build_1MB", "build the 1 MB document (AddNewElementNode, AddNewAttribute, AddChildNodeValue, ModifyAttribute)"),
             ("save_pretty_1MB", "Save pretty-printed"),
             ("save_canonical_1MB", "Save canonical")]
    cols = ["kel", "raw", "raw_plain"] + OTHERS
    rows = []
    for case, label in cases:
        row = [label]
        for c in cols:
            cpu, wall = value(results, case, c), value(results, case, c, "real_time")
            row.append("–" if cpu is None else f"{fmt(cpu)} / {fmt(wall)}")
        row.append(verdict(ratio(value(results, case, "kel"), value(results, case, "raw")), 1.3))
        rows.append(row)
    return table(["edit and save (ms CPU / ms wall)", "Kel_XML", "raw Xerces (same atomic write)",
                  "raw, serializer straight to file"] + OTHERS + ["Kel_XML / raw (CPU)"], rows)


def mb(kb):
    return None if kb is None else kb / 1024


def section_memory(results):
    rows = []
    case = "memory_peak_load_50MB"
    for c in ["kel", "raw"] + OTHERS:
        peak, base = value(results, case, c, "peak_kb"), value(results, case, c, "baseline_kb")
        if peak is None:
            continue
        rows.append([c, fmt(mb(peak)), fmt(mb(peak - base)), fmt(value(results, case, c, "real_time"))])
    peak = table(["library", "peak resident MB", "growth over start MB", "load time ms (wall)"], rows)

    rows = []
    case = "memory_million_reads"
    for c, label in [("kel", "Kel_XML: GetValue, GetAttributeValue, GetChildValue"),
                     ("raw", "raw Xerces, own text walk"),
                     ("raw_textcontent", "raw Xerces with getTextContent (for contrast)")]:
        before, after = value(results, case, c, "rss_before_kb"), value(results, case, c, "rss_after_kb")
        if before is None:
            continue
        rows.append([label, fmt(mb(before)), fmt(mb(after)), fmt(after - before)])
    reads = table(["1,000,000 rounds of three reads", "resident before MB", "after MB", "growth KiB"], rows)

    rows = []
    case = "memory_10000_load_edit_save"
    for c, label in [("kel", "one object for every cycle"), ("kel_fresh", "a new object per cycle")]:
        at100 = value(results, case, c, "rss_at_100_kb")
        if at100 is None:
            continue
        rows.append([label, fmt(mb(at100)), fmt(mb(value(results, case, c, "rss_at_1000_kb"))),
                     fmt(mb(value(results, case, c, "rss_end_kb"))), fmt(value(results, case, c, "growth_kb")),
                     fmt(value(results, case, c, "real_time") / 1e3)])
    cycles = table(["10,000 × Load, edit, Save", "resident after 100 MB", "after 1,000 MB", "after 10,000 MB",
                    "growth 100 → 10,000 KiB", "total s"], rows)
    return peak, reads, cycles


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    xs = [10000, 40000, 160000]
    fig, axes = plt.subplots(2, 4, figsize=(16, 7.5), sharex=True)
    for ax, walk in zip(axes.flat, WALKS):
        for column, style, label in [("kel", "o-", "Kel_XML"), ("raw", "s--", "raw Xerces"),
                                     ("raw_ascii", "^:", "raw + ASCII shortcut")]:
            ys = [per_child(results, walk, s, column) for s in SIZES]
            if all(y is not None for y in ys):
                ax.plot(xs, ys, style, label=label)
        ax.set_title(walk)
        ax.set_xscale("log")
        ax.set_xticks(xs)
        ax.set_xticklabels(["10k", "40k", "160k"])
        ax.set_ylim(bottom=0)
        ax.grid(True, alpha=0.3)
    for ax in axes[:, 0]:
        ax.set_ylabel("ns CPU per child")
    for ax in axes[-1, :]:
        ax.set_xlabel("children of the element")
    axes.flat[0].legend(fontsize=8)
    fig.suptitle("Walks over one element: time per child (flat = linear)")
    fig.tight_layout()
    fig.savefig(path, dpi=80)


def main():
    result_path, trimmed_path, doc_path, plot_path = sys.argv[1:5]
    data, results, spread = load(result_path)
    context = data["context"]
    read_columns(context)
    trim(data, trimmed_path)
    plot(results, plot_path)
    peak, reads, cycles = section_memory(results)
    caches = ", ".join(f"L{c['level']} {c['type'].lower()} {c['size'] // 1024} KiB" for c in context.get("caches", []))
    text = f"""{BEGIN}

Run of {context.get('started', context.get('date'))} UTC, library at commit `{context.get('commit', '?')}`,
on `{context.get('host_name')}`:
{context.get('cpu_model', '?')}, `nproc` = {context.get('nproc', context.get('num_cpus'))},
{context.get('mhz_per_cpu')} MHz, {caches}. Load average before the run: {context.get('load_before', '?')}.
Median of {context.get('repetitions', '?')} repetitions (cases marked "single run" below ran once).
Compiler flags: Release (`-O3 -DNDEBUG`); library under test built the same way.

{section_noise(spread)}

### Loading

{section_load(results)}

### Counting without a tree

{section_count(results)}

### Speed-ups: the parser's block pool, the walks' own stack

Measured against the code they replaced, in the same run. Loads: the library's parser set-up,
parsing from memory (the 50 MB file from disk), with memory from the process-wide manager
(`system`) or from the object's `BlockPool` (`pool`). Walks: climbing with `getParentNode`
(`parent`) or keeping a stack of ancestors (`stack`), over the loaded 1 MB record file.

{section_speedups(results)}

### Per-load set-up: 10,000 loads of the 1 KB configuration

{section_small(results)}

### Validated loads: 10,000 loads of the 1 KB configuration

{section_validated(results)}

### Reading the 1 MB record file

{section_reads(results)}

### Scaling: one element with 10k, 40k and 160k children

{section_scale(results)}

![time per child of every walk](bench-scaling.png)

### Building and saving a 1 MB document

{section_edit(results)}

### Memory

Peak resident size while loading the 50 MB record file (one process per library):

{peak}

Growth of the resident size over a million rounds of reads on a loaded document:

{reads}

Load, edit (add an element and an attribute, change it, remove a child) and save, 10,000 times
(single run; saves go to memory-backed storage so that disk flushes do not dominate):

{cycles}

{END}"""
    try:
        with open(doc_path) as f:
            current = f.read()
    except FileNotFoundError:
        current = f"# Benchmarks\n\n{BEGIN}\n{END}\n"
    if BEGIN in current and END in current:
        head, rest = current.split(BEGIN, 1)
        tail = rest.split(END, 1)[1]
        current = head + text + tail
    else:
        current = current.rstrip("\n") + "\n\n" + text + "\n"
    with open(doc_path, "w") as f:
        f.write(current)


if __name__ == "__main__":
    main()
