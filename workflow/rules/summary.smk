# The batch in two tables, plots, a picture per input and one page, also
# when some of it failed.
import runpy


rule summary:
    input:
        summary_inputs,
    output:
        summary=report(RESULTS + "/summary.csv", caption="../report/summary.rst", category="Summary"),
        best=report(RESULTS + "/best.csv", caption="../report/best.rst", category="Summary"),
    params:
        records=combination_records(),
        defaults=DEFAULTS,
    script:
        "../scripts/summarize.py"


rule plots:
    input:
        summary=RESULTS + "/summary.csv",
        best=RESULTS + "/best.csv",
    output:
        **{
            name: report(path, caption=f"../report/{name}.rst", category="Plots")
            for name, path in plot_files().items()
        },
    params:
        defaults=DEFAULTS,
        grid=GRID,
    script:
        "../scripts/plot_summary.py"


rule input_picture:
    input:
        best=RESULTS + "/best.csv",
    output:
        report(PICTURE, caption="../report/input_picture.rst", category="Inputs", subcategory="{input_name}"),
    params:
        record=lambda wildcards: input_record(wildcards.input_name),
    script:
        "../scripts/input_picture.py"


rule summary_page:
    input:
        summary=RESULTS + "/summary.csv",
        best=RESULTS + "/best.csv",
        **plot_files(),
        pictures=picture_files(),
    output:
        RESULTS + "/summary.html",
    script:
        "../scripts/summary_page.py"


def script_function(name, function):
    """A function of one of workflow/scripts, for the summary after a failure."""
    return runpy.run_path(os.path.join(workflow.basedir, "scripts", name + ".py"))[function]


def summarize_after_failure():
    """A failed job ends the batch (with --keep-going after every other job
    that could run); the tables, plots, pictures and page then report what
    finished and mark what did not. The batch still ends as failed."""
    path, best = RESULTS + "/summary.csv", RESULTS + "/best.csv"
    try:
        rows = script_function("summarize", "write_summary")(combination_records(), DEFAULTS, path, best)
        script_function("plot_summary", "plot_summary")(path, best, DEFAULTS, GRID, plot_files())
        draw = script_function("input_picture", "draw")
        for name in INPUTS:
            draw(input_record(name), best, PICTURE.format(input_name=name))
        script_function("summary_page", "write_page")(
            path, best, plot_files(), picture_files(), RESULTS + "/summary.html"
        )
    except Exception as e:  # the batch has failed already; say why there is no summary
        logger.error(f"could not write {path} after the failure: {e}")
        return
    failed = [f"{r['input']}/{r['parameters']}" for r in rows if r["status"] != "complete"]
    logger.error(f"{path} written: {len(rows) - len(failed)} of {len(rows)} complete; not complete: {', '.join(failed)}")
