"""results/summary.html: one page that needs nothing else (no script, no
file beside it, no network), made to be read at 1280 pixels: the best
sets beside the defaults, a picture per input, the plots, and last (it
may run to hundreds of rows) the table with its key columns, the rest
behind a switch. Numbers show three
significant digits; the CSV files keep them all."""
import contextlib
import base64
import csv
import datetime
import html
import math
import os

from batch import PARAMETERS
from scores import number
from summarize import KEY_COLUMNS

BEST_HEADINGS = {
    "input": "input",
    "parameters": "set chosen on the tuning part",
    "tuning_f": "its F, tuning part",
    "held_out_f": "its F, held-out part",
    "defaults_held_out_f": "defaults' F, held-out part",
}
STYLE = """
body { font-family: sans-serif; margin: 1em auto; max-width: 1240px; padding: 0 1em; }
table { border-collapse: collapse; font-size: 0.85em; margin: 0.5em 0 1.5em; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.45em; text-align: right; vertical-align: top; }
th { background: #f4f4f4; text-align: center; }
td.text { text-align: left; max-width: 22em; overflow-wrap: anywhere; }
tr.failed { background: #fdd; } tr.not-run { background: #eee; } td.warned { background: #fff3cd; }
#more:not(:checked) ~ table .more { display: none; }
label { font-size: 0.9em; }
figure { margin: 1em 0; } figure img { max-width: 100%; height: auto; border: 1px solid #eee; }
figcaption { font-size: 0.9em; color: #444; }
"""


def shown(value):
    """Three significant digits, without an exponent; text as it is."""
    x = number(value)
    if math.isnan(x):
        return value
    if x == 0 or abs(x) >= 100:
        return str(round(x))
    return f"{x:.{max(0, 2 - math.floor(math.log10(abs(x))))}f}"


def cell(row, column, classes=""):
    text = row.get(column, "")
    if column == "note":
        classes += " text" + (" warned" if text else "")
    elif column in ("input", "parameters", "status"):
        classes += " text"
        text = text.replace(",", ",\u200b")  # a set's name may break after a comma
    else:
        text = shown(text)
    return f'<td class="{classes.strip()}" title="{html.escape(row.get(column, ""))}">{html.escape(text)}</td>'


def table(rows, columns, more=(), headings=None):
    """The rows with `columns` always shown and `more` behind the switch."""
    head = "".join(
        f"<th>{html.escape((headings or {}).get(c, c))}</th>" for c in columns
    )
    head += "".join(f'<th class="more">{html.escape(c)}</th>' for c in more)
    body = []
    for row in rows:
        cells = "".join(cell(row, c) for c in columns) + "".join(
            cell(row, c, "more") for c in more
        )
        body.append(
            f'<tr class="{html.escape(row.get("status", "").replace(" ", "-"))}">{cells}</tr>'
        )
    return (
        f"<table><thead><tr>{head}</tr></thead><tbody>{''.join(body)}</tbody></table>"
    )


def figure(path, caption):
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        data = base64.b64encode(f.read()).decode("ascii")
    alt = html.escape(caption)
    return f'<figure><img alt="{alt}" src="data:image/png;base64,{data}"><figcaption>{alt}</figcaption></figure>'


def read_rows(path):
    with open(path, newline="") as f:
        reader = csv.DictReader(f)
        return reader.fieldnames, list(reader)


def write_page(summary, best, plots, pictures, path):
    columns, rows = read_rows(summary)
    _, best_rows = read_rows(best)
    # The note, where warnings and failures are, stays in view.
    shown_columns = KEY_COLUMNS + ["note"]
    more = [c for c in columns if c not in shown_columns]
    complete = sum(r["status"] == "complete" for r in rows)
    made = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    captions = {
        "fmeasure": "F-measure of every parameter set, per input",
        "precision_recall": "Precision against recall, a colour per input",
        "parameters": "F-measure against each parameter that varies: the best F reached with each value",
        "heatmap": "F-measure over the grid's first two parameters (the best over the others)",
    }
    best_table = (
        "<h2>Best sets</h2><p>Chosen on the first half of each input's scored frames (the tuning part), "
        "scored on the second half (the held-out part); the mean row chooses one set for all inputs.</p>"
        + table(best_rows, list(BEST_HEADINGS), headings=BEST_HEADINGS)
        if best_rows
        else ""
    )
    page = f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>strellix batch</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>{STYLE}</style></head><body>
<h1>strellix batch</h1>
<p>{complete} of {len(rows)} runs complete; {html.escape(os.path.abspath(summary))}, {made}.</p>
{best_table}
<h2>Inputs</h2>
{"".join(figure(p, os.path.splitext(os.path.basename(p))[0]) for p in pictures)}
<h2>Plots</h2>
{"".join(figure(p, captions[k]) for k, p in plots.items())}
<h2>Runs</h2>
<input type="checkbox" id="more"><label for="more"> all columns ({len(more)} more: {", ".join(m for m in more if m in PARAMETERS)}, other metrics, times, costs)</label>
{table(rows, shown_columns, more)}
</body></html>
"""
    with open(path + ".tmp", "w") as f:
        f.write(page)
    os.replace(path + ".tmp", path)


if __name__ == "__main__" and "snakemake" in globals():
    # Messages (matplotlib's warnings, a traceback) go into the job's log.
    with open(snakemake.log[0], "w") as log, contextlib.redirect_stderr(log):
        write_page(
            snakemake.input.summary,
            snakemake.input.best,
            {
                k: v
                for k, v in snakemake.input.items()
                if k in ("fmeasure", "precision_recall", "parameters", "heatmap")
            },
            snakemake.input.pictures,
            snakemake.output[0],
        )
