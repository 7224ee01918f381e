# The batch in one table and two plots, also when some of it failed.
import runpy


rule summary:
    input:
        summary_inputs,
    output:
        report(RESULTS + "/summary.csv", caption="../report/summary.rst", category="Summary"),
    params:
        records=combination_records(),
    script:
        "../scripts/summarize.py"


rule plots:
    input:
        RESULTS + "/summary.csv",
    output:
        fmeasure=report(RESULTS + "/plots/fmeasure.png", caption="../report/fmeasure.rst", category="Plots"),
        precision_recall=report(
            RESULTS + "/plots/precision_recall.png", caption="../report/precision_recall.rst", category="Plots"
        ),
    script:
        "../scripts/plot_summary.py"


rule summary_page:
    input:
        summary=RESULTS + "/summary.csv",
        fmeasure=RESULTS + "/plots/fmeasure.png",
        precision_recall=RESULTS + "/plots/precision_recall.png",
    output:
        RESULTS + "/summary.html",
    script:
        "../scripts/summary_page.py"


def script_function(name, function):
    """A function of one of workflow/scripts, for the summary after a failure."""
    return runpy.run_path(os.path.join(workflow.basedir, "scripts", name + ".py"))[function]


def summarize_after_failure():
    """A failed job ends the batch (with --keep-going after every other job
    that could run); the summary, plots and page then report what finished
    and mark what did not. The batch still ends as failed."""
    path = RESULTS + "/summary.csv"
    plots = RESULTS + "/plots/fmeasure.png", RESULTS + "/plots/precision_recall.png"
    try:
        rows = script_function("summarize", "write_summary")(combination_records(), path)
        script_function("plot_summary", "plot_summary")(path, *plots)
        script_function("summary_page", "write_page")(path, *plots, RESULTS + "/summary.html")
    except Exception as e:  # the batch has failed already; say why there is no summary
        logger.error(f"could not write {path} after the failure: {e}")
        return
    failed = [f"{r['input']}/{r['parameters']}" for r in rows if r["status"] != "complete"]
    logger.error(f"{path} written: {len(rows) - len(failed)} of {len(rows)} complete; not complete: {', '.join(failed)}")
