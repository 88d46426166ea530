"""The results as they are kept: bench.json with every sample, bench.md with the table."""
import json
import os


def render_markdown(result):
    """The table of build/bench.md from the result record."""
    m = result["machine"]
    out = ["# Zelvantic benchmarks", "",
           "Each figure beside a baseline measured in the same run on the same machine. Timed "
           "figures are medians with their range and number of runs.", "",
           "Machine: %s, %s cores, %s; %s; kernel %s. Load average %s at the start, %s at the "
           "end. Run %s, %.0f s in all." % (m["cpu"], m["nproc"], m["memory"], m["wine"],
                                            m["kernel"], m["load_start"], m["load_end"], m["date"],
                                            m["seconds"]),
           "",
           "Measured under Wine: %s. Sizes are always the shipped 32-bit build's." %
           m.get("build", "the shipped 32-bit build"),
           ""]
    if result.get("quick"):
        out += ["A quick run (--quick): fewer and shorter runs, a smoke test, not a record.", ""]
    out += ["| Figure | Agent | Baseline | Ratio / margin | Target | Met |",
           "|---|---|---|---|---|---|"]
    for f in result["figures"]:
        met = {True: "yes", False: "**no**", None: "–"}[f.get("met")]
        out.append("| %s | %s | %s | %s | %s | %s |" % (f["name"], f["agent"], f["baseline"],
                                                       f.get("compare", "–"), f["target"], met))
    notes = [f for f in result["figures"] if f.get("note")]
    if notes:
        out += ["", "Notes:", ""]
        out += ["- %s: %s" % (f["name"], f["note"]) for f in notes]
    if result.get("errors"):
        out += ["", "Errors:", ""] + ["- %s" % e for e in result["errors"]]
    return "\n".join(out) + "\n"


def save_samples(result, folder):
    """bench.json as it stands: written before the table too, so the samples outlive it."""
    with open(os.path.join(folder, "bench.json"), "w") as f:
        json.dump(result, f, indent=1)


def write_results(result, folder):
    """bench.json and bench.md into folder, the table on standard output too; the exit code:
    1 when a step or a figure failed."""
    save_samples(result, folder)
    table = render_markdown(result)
    with open(os.path.join(folder, "bench.md"), "w") as f:
        f.write(table)
    print(table)
    missed = [f["name"] for f in result["figures"] if f["met"] is False]
    print("bench: %d figures, %d missed their target%s; %s and %s written in %.0f s" % (
        len(result["figures"]), len(missed), (": " + ", ".join(missed)) if missed else "",
        os.path.join(folder, "bench.md"), os.path.join(folder, "bench.json"),
        result["machine"]["seconds"]))
    return 1 if result["errors"] else 0
