# Each input with each parameter set: a probe that sizes the run, then the
# run itself into its own directory.


# Frame size, frame count and the library's memory estimate for the run; the
# segment job's memory and time limit come from it. Cheap, so it runs where
# snakemake runs, also on a cluster.
rule probe:
    input:
        source_files,
    output:
        RUN_DIR + "/probe.json",
    log:
        LOG_DIR + "/probe.log",
    params:
        strellix=STRELLIX,
        arguments=probe_arguments,
    threads: 1
    resources:
        mem_mb=config["memory_overhead_mb"],
        runtime=10,
    shell:
        "{params.strellix:q} probe {params.arguments:q} > {output:q} 2> {log:q}"


rule segment:
    input:
        probe=RUN_DIR + "/probe.json",
        frames=source_files,
    output:
        run=RUN_DIR + "/run.json",
        seed=RUN_DIR + "/background.png",
        cost=RUN_DIR + "/cost.json",
    log:
        LOG_DIR + "/segment.log",
    params:
        strellix=STRELLIX,
        arguments=segment_arguments,
    threads: config["threads"]
    resources:
        mem_mb=segment_memory_mb,
        runtime=segment_runtime,
    script:
        "../scripts/segment.py"
