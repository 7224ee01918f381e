# The masks of an input with ground truth, scored: metrics.json with each
# frame's counts and the tuning and held-out parts, and the example frame's
# mask and ground truth for the input's picture.


rule evaluate:
    input:
        run=f"{RUN_DIR}/run.json",
        masks=f"{RUN_DIR}/masks",
        truth=f"{INPUT_DIR}/truth.json",
    output:
        metrics=f"{RUN_DIR}/metrics.json",
        mask=f"{RUN_DIR}/example_mask.png",
        truth=f"{RUN_DIR}/example_truth.png",
    log:
        f"{LOG_DIR}/evaluate.log",
    params:
        strellix=STRELLIX,
        shadow_value=lambda wildcards: PARAMETER_SETS[wildcards.parameter_set].get("shadow_value", 0),
        sequence=lambda wildcards: INPUTS[wildcards.input_name]["groundtruth"],
        roi=lambda wildcards: roi_file(wildcards.input_name) or "",
        score=lambda wildcards: INPUTS[wildcards.input_name].get("score", []),
    conda:
        "../envs/scripts.yaml"
    threads: 1
    resources:
        mem_mb=evaluate_memory_mb,
        runtime=evaluate_runtime,
    script:
        "../scripts/evaluate.py"
