#!/usr/bin/python3
"""ordana-cli.exe under Wine against the Linux build's ordana-cli, on copies of the same fixtures.

Both print the same --list and --json lines (Windows ends them with CR LF, as its console programs do) and
exit alike; .xls files are saved byte for byte alike; .xlsx and .ods packages hold the same entries in the same
order, with the same bytes once inflated (the Windows build deflates with zlib, the Linux one with ISA-L).
A workbook held by a Windows program is refused with its cause and left as it was.

    cli_windows_end_to_end.py WINE_RUN ORDANA_CLI_EXE LINUX_ORDANA_CLI FIXTURES_DIR
"""

import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

WORKBOOKS = ["basic-libreoffice.xls", "basic-gnumeric.xls", "cases-xlwt.xls", "basic-libreoffice.xlsx",
             "basic-gnumeric.xlsx", "mixed-sheets.xlsx", "basic-libreoffice.ods", "basic-gnumeric.ods",
             "basic-odfpy.ods", "not-text.xls"]
# The same workbook in a folder and under a name with diacritics, named on the command line as a user types it.
RENAMED = ("basic-gnumeric.xlsx", "Date teren \u0219i \u021b\u0103ri/Specii p\u0103dure.xlsx")

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(command, folder):
    r = subprocess.run(command, cwd=folder, capture_output=True, timeout=300)
    return r.returncode, r.stdout.replace(b"\r\n", b"\n"), r.stderr.replace(b"\r\n", b"\n")


def same_package(a, b):
    with zipfile.ZipFile(a) as za, zipfile.ZipFile(b) as zb:
        ia, ib = za.infolist(), zb.infolist()
        if [i.filename for i in ia] != [i.filename for i in ib]:
            return "entries differ"
        for x, y in zip(ia, ib):
            if za.read(x) != zb.read(y):
                return x.filename + " differs"
            if x.compress_type != y.compress_type:
                return x.filename + " is compressed otherwise"
    return None


def main():
    wine, exe, linux, fixtures = (str(Path(a).resolve()) for a in sys.argv[1:5])
    fixtures = Path(fixtures)
    if not Path(linux).exists():
        print("SKIP: the Linux build's ordana-cli is missing:", linux)
        return 77
    with tempfile.TemporaryDirectory(prefix="ordana-win-e2e-") as tmp:
        lin, win = Path(tmp, "linux"), Path(tmp, "windows")
        for d in (lin, win):
            d.mkdir()
            for w in WORKBOOKS:
                shutil.copy(fixtures / w, d / w)
            (d / RENAMED[1]).parent.mkdir()
            shutil.copy(fixtures / RENAMED[0], d / RENAMED[1])
        # A sheet name with diacritics reaches the program, and its messages, whole.
        for args in (["--list"], ["--dry-run", "--sheet", "P\u0103dure Neagr\u0103"], ["--json"]):
            started = time.monotonic()
            rl, ol, el = run([linux] + args + WORKBOOKS + [RENAMED[1]], lin)
            middle = time.monotonic()
            rw, ow, ew = run([wine, exe] + args + WORKBOOKS + [RENAMED[1]], win)
            print(f"{' '.join(args)}: Linux {middle - started:.2f} s, Wine {time.monotonic() - middle:.2f} s")
            check(rl == rw, f"{args}: exit {rl} on Linux, {rw} under Wine")
            check(ol == ow, f"{args}: output differs\n{ol.decode()}\n---\n{ow.decode()}")
            check(el == ew, f"{args}: messages differ\n{el.decode()}\n---\n{ew.decode()}")
            check("Neagr\u0103".encode() in ew or args[0] != "--dry-run", "the sheet's name is not in the messages")
        check(RENAMED[1].encode() in ow, "the name with diacritics is not in the output")
        for w in WORKBOOKS + [RENAMED[1]]:
            a, b = lin / w, win / w
            if w.endswith(".xls"):
                check(a.read_bytes() == b.read_bytes(), w + ": saved bytes differ")
            else:
                why = same_package(a, b)
                check(why is None, f"{w}: {why}")
        # LibreOffice's lock file beside a workbook: refused, named, untouched.
        target = "basic-libreoffice.xlsx"
        shutil.copy(fixtures / target, win / target)
        (win / (".~lock." + target + "#")).write_text("ana,PC,ana,09.12.2026 10:00,file:///;")
        rw, ow, ew = run([wine, exe, target], win)
        check(rw != 0, "a workbook held by LibreOffice was processed")
        check(b".~lock." in ew, "the refusal does not name the lock file: " + ew.decode())
        check((win / target).read_bytes() == (fixtures / target).read_bytes(), "a held workbook was changed")
    print("all alike" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
