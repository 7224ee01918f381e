"""results/summary.html: the summary table and the plots in one page that
needs nothing else, written by the batch itself (Snakemake's own --report
fetches its page's scripts from the web when it is made)."""
import base64
import csv
import datetime
import html
import os


def image_tag(path, title):
    with open(path, "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    return f'<figure><img alt="{html.escape(title)}" src="data:image/png;base64,{data}"><figcaption>{html.escape(title)}</figcaption></figure>'


def table(rows, columns):
    head = "".join(f"<th>{html.escape(c)}</th>" for c in columns)
    body = []
    for row in rows:
        cells = "".join(f"<td>{html.escape(row[c])}</td>" for c in columns)
        body.append(
            f'<tr class="{html.escape(row["status"].replace(" ", "-"))}">{cells}</tr>'
        )
    return (
        f"<table><thead><tr>{head}</tr></thead><tbody>{''.join(body)}</tbody></table>"
    )


def write_page(summary, fmeasure, precision_recall, path):
    with open(summary, newline="") as f:
        reader = csv.DictReader(f)
        columns, rows = reader.fieldnames, list(reader)
    complete = sum(r["status"] == "complete" for r in rows)
    made = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    page = f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>strellix batch</title>
<style>
body {{ font-family: sans-serif; margin: 2em; }}
table {{ border-collapse: collapse; font-size: 0.85em; }}
th, td {{ border: 1px solid #ccc; padding: 0.2em 0.5em; text-align: right; }}
td:first-child, td:nth-child(2), td:nth-child(3), td:last-child {{ text-align: left; }}
tr.failed {{ background: #fdd; }} tr.not-run {{ background: #eee; }}
figure {{ display: inline-block; margin: 1em; }}
</style></head><body>
<h1>strellix batch</h1>
<p>{complete} of {len(rows)} runs complete; {html.escape(os.path.abspath(summary))}, {made}.</p>
{table(rows, columns)}
{image_tag(fmeasure, "F-measure per input and parameter set")}
{image_tag(precision_recall, "Precision against recall")}
</body></html>
"""
    with open(path + ".tmp", "w") as f:
        f.write(page)
    os.replace(path + ".tmp", path)


if __name__ == "__main__" and "snakemake" in globals():
    write_page(
        snakemake.input.summary,
        snakemake.input.fmeasure,
        snakemake.input.precision_recall,
        snakemake.output[0],
    )
