# The batch in two tables, plots, a picture per input and one page, also
# when some of it failed.


rule summary:
    input:
        summary_inputs,
    output:
        summary=report(f"{RESULTS}/summary.csv", caption="../report/summary.rst", category="Summary"),
        best=report(f"{RESULTS}/best.csv", caption="../report/best.rst", category="Summary"),
    params:
        records=combination_records(),
        defaults=DEFAULTS,
    log:
        f"{RESULTS}/logs/summary.log",
    conda:
        "../envs/scripts.yaml"
    script:
        "../scripts/summarize.py"


rule plots:
    input:
        summary=f"{RESULTS}/summary.csv",
        best=f"{RESULTS}/best.csv",
    output:
        **{
            name: report(path, caption=f"../report/{name}.rst", category="Plots")
            for name, path in plot_files().items()
        },
    params:
        defaults=DEFAULTS,
        grid=GRID,
    log:
        f"{RESULTS}/logs/plots.log",
    conda:
        "../envs/scripts.yaml"
    script:
        "../scripts/plot_summary.py"


rule input_picture:
    input:
        best=f"{RESULTS}/best.csv",
    output:
        report(PICTURE, caption="../report/input_picture.rst", category="Inputs", subcategory="{input_name}"),
    params:
        record=lambda wildcards: input_record(wildcards.input_name),
    log:
        f"{RESULTS}/logs/pictures/{{input_name}}.log",
    conda:
        "../envs/scripts.yaml"
    script:
        "../scripts/input_picture.py"


rule summary_page:
    input:
        summary=f"{RESULTS}/summary.csv",
        best=f"{RESULTS}/best.csv",
        **plot_files(),
        pictures=picture_files(),
    output:
        f"{RESULTS}/summary.html",
    log:
        f"{RESULTS}/logs/summary_page.log",
    conda:
        "../envs/scripts.yaml"
    script:
        "../scripts/summary_page.py"
