# Each input probed once, then segmented with each parameter set into its
# own directory.


# The input's frames (sources) or its ground truth (truth) in one small
# file, which the other jobs depend on instead of every file.
rule stamp:
    input:
        lambda wildcards: source_files(wildcards) if wildcards.files == "sources" else groundtruth_files(wildcards),
    output:
        f"{INPUT_DIR}/{{files}}.json",
    log:
        f"{INPUT_DIR}/logs/{{files}}.log",
    conda:
        "../envs/scripts.yaml"
    threads: 1
    resources:
        mem_mb=BATCH["memory_overhead_mb"],
        runtime=10,
    script:
        "../scripts/stamp.py"


# Frame size, frame count and the library's memory estimate with the
# defaults, from which every set's memory and time limit are worked out.
# Cheap, so it runs where snakemake runs, also on a cluster.
rule probe:
    input:
        f"{INPUT_DIR}/sources.json",
    output:
        f"{INPUT_DIR}/probe.json",
    log:
        f"{INPUT_DIR}/logs/probe.log",
    params:
        strellix=STRELLIX,
        arguments=probe_arguments,
    conda:
        "../envs/scripts.yaml"
    threads: 1
    resources:
        mem_mb=BATCH["memory_overhead_mb"],
        runtime=10,
    shell:
        "{params.strellix:q} probe {params.arguments:q} > {output:q} 2> {log:q}"


# The masks are kept, or (outputs.masks false) deleted once every job that
# reads them is done; snakemake makes them again should one of those jobs
# have to run again.
MASKS = directory(f"{RUN_DIR}/masks")


rule segment:
    input:
        probe=f"{INPUT_DIR}/probe.json",
        frames=f"{INPUT_DIR}/sources.json",
    output:
        run=f"{RUN_DIR}/run.json",
        seed=f"{RUN_DIR}/background.png",
        cost=f"{RUN_DIR}/cost.json",
        masks=MASKS if OUTPUTS["masks"] else temp(MASKS),
    log:
        f"{LOG_DIR}/segment.log",
    params:
        strellix=STRELLIX,
        arguments=segment_arguments,
        videos=[name for name, on in (("masks.mkv", OUTPUTS["mask_video"]), ("overlay.mp4", OUTPUTS["overlay"])) if on],
    conda:
        "../envs/scripts.yaml"
    threads: BATCH["threads"]
    resources:
        mem_mb=segment_memory_mb,
        runtime=segment_runtime,
    script:
        "../scripts/segment.py"
