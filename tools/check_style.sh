#!/usr/bin/env bash
# Formatting and lint, as CI checks them; fails when any check fails, after
# running them all:
#   - clang-format (the project's .clang-format) over every C++ file,
#   - black over every Python file (Debian's black),
#   - the include floors of the sources (tools/check_includes.py),
#   - snakemake --lint on the batch workflow (tools/lint_workflow.sh).
# Only the tree's own files are checked (those git knows, or, outside a git
# checkout, those under the source folders), never build directories.
#
#   tools/check_style.sh      exit 0 when clean
set -uo pipefail
cd "$(dirname "$0")/.."

# The tree's files with one of the given extensions, NUL-separated.
tree_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    local patterns=()
    for extension in "$@"; do patterns+=("*.$extension"); done
    git ls-files -z -- "${patterns[@]}"
  else
    local names=()
    for extension in "$@"; do names+=(-o -name "*.$extension"); done
    find src include python tools bench tests fuzz examples workflow -type f \( -false "${names[@]}" \) -print0
  fi
}

status=0
echo "== clang-format"
tree_files cpp h hpp inc | xargs -0 -r clang-format --dry-run -Werror || status=1
echo "== black"
tree_files py | xargs -0 -r black --check --quiet || status=1
echo "== include floors"
/usr/bin/python3 tools/check_includes.py . || status=1
echo "== snakemake --lint"
bash tools/lint_workflow.sh || status=1
if [ $status -ne 0 ]; then
  echo "check_style: formatting or lint failed (see above)"
fi
exit $status
