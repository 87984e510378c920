#!/usr/bin/python3
"""Writes the table of measured settings (core/suggested_settings.tsv) into
docs/settings.md between its two "suggested-settings" marker lines, one grid per
kind of plane, or with --check fails when the page's copy differs from the table."""
import argparse
import sys

BEGIN = ("<!-- suggested-settings: written by demo/settings_readme.py "
         "from core/suggested_settings.tsv -->")
END = "<!-- end of suggested-settings -->"


def markdown(tsv_path):
    rows = [line.rstrip("\n").split("\t") for line in open(tsv_path) if not line.startswith("#")]
    header, data = rows[0], rows[1:]
    column = {name: k for k, name in enumerate(header)}
    lines = []
    for kind in ("luma", "chroma"):
        nodes = [r for r in data if r[column["plane"]] == kind]
        details = list(dict.fromkeys(r[column["detail"]] for r in nodes))
        estimates = list(dict.fromkeys(r[column["estimate"]] for r in nodes))
        cell = {(r[column["estimate"]], r[column["detail"]]):
                "/".join(r[column[k]] for k in ("strength", "threshold1", "threshold2"))
                for r in nodes}
        if lines:
            lines.append("")
        lines.append(f"| {kind}: noise \\ detail | " + " | ".join(details) + " |")
        lines.append("|---" * (len(details) + 1) + "|")
        for e in estimates:
            lines.append(f"| {e} | " + " | ".join(cell[(e, d)] for d in details) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tsv", default="core/suggested_settings.tsv")
    parser.add_argument("--page", default="docs/settings.md")
    parser.add_argument("--check", action="store_true", help="only compare")
    args = parser.parse_args()
    text = open(args.page).read()
    if BEGIN not in text or END not in text:
        sys.exit(f"{args.page}: the suggested-settings markers are missing")
    before, rest = text.split(BEGIN, 1)
    after = rest.split(END, 1)[1]
    updated = f"{before}{BEGIN}\n{markdown(args.tsv)}\n{END}{after}"
    if args.check:
        if updated != text:
            sys.exit(f"{args.page}: the settings table differs from {args.tsv}; "
                     "run demo/settings_readme.py")
        return
    open(args.page, "w").write(updated)


if __name__ == "__main__":
    main()
