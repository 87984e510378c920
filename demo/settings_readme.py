#!/usr/bin/python3
"""Writes the table of suggested settings (core/suggested_settings.tsv) into
docs/settings.md between its two "suggested-settings" marker lines, or with --check
fails when the page's copy differs from the table."""
import argparse
import sys

BEGIN = ("<!-- suggested-settings: written by demo/settings_readme.py "
         "from core/suggested_settings.tsv -->")
END = "<!-- end of suggested-settings -->"


def markdown(tsv_path):
    rows = [line.rstrip("\n").split("\t") for line in open(tsv_path) if not line.startswith("#")]
    header, data = rows[0], rows[1:]
    column = {name: k for k, name in enumerate(header)}
    lines = ["| noise sigma | velnor reads | suggested options | PSNR noisy | defaults "
             "| suggested | best of the grid | SSIM noisy / defaults / suggested |",
             "|---|---|---|---|---|---|---|---|"]
    for row in data:
        get = lambda name: row[column[name]]
        lines.append(f"| {get('sigma')} | {get('estimate')} | `--strength {get('strength')} --threshold1 "
                     f"{get('threshold1')} --threshold2 {get('threshold2')}` | "
                     f"{get('noisy_db')} dB | {get('defaults_db')} dB | {get('rule_db')} dB | {get('best_db')} dB | "
                     f"{get('noisy_ssim')} / {get('defaults_ssim')} / {get('rule_ssim')} |")
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
