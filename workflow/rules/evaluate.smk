# The masks of an input with ground truth, scored: metrics.json beside them.


rule evaluate:
    input:
        run=RUN_DIR + "/run.json",
        truth=lambda wildcards: groundtruth_files(wildcards),
    output:
        RUN_DIR + "/metrics.json",
    log:
        LOG_DIR + "/evaluate.log",
    params:
        strellix=STRELLIX,
        sequence=lambda wildcards: INPUTS[wildcards.input_name]["groundtruth"],
        roi=lambda wildcards: roi_file(wildcards.input_name) or "",
        score=lambda wildcards: INPUTS[wildcards.input_name].get("score", []),
    threads: 1
    resources:
        mem_mb=evaluate_memory_mb,
        runtime=evaluate_runtime,
    script:
        "../scripts/evaluate.py"
