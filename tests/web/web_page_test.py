#!/usr/bin/python3
"""ordana.html in a browser (Debian's chromium or firefox-esr, headless, or WebKitGTK's MiniBrowser), opened from
the disk and driven as a user would: a workbook of each format chosen through the file input, the sheet,
"Prelucrarea datelor"; the workbook handed back as a download under its own name, judged by xlrd, openpyxl and
odfpy (the table "Indici"/"Valoare" with the values the native ordana-cli prints for the same file) and compared
with what the native ordana-cli saves (.xls byte for byte, .xlsx and .ods entry for entry). Then every message
of the error paths that can happen in the page, a workbook dropped on the page, the save in place through the
File System Access API (its picker answered by a stand-in, which a headless browser cannot otherwise answer),
closing and reopening the window; and no request leaves the page.

    web_page_test.py [--browser chromium|firefox|webkit] ORDANA_HTML NATIVE_ORDANA_CLI FIXTURES_DIR OUTPUT_DIR

Exit status 77 (skipped) when the native ordana-cli is not built.
"""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from browser import Browser, Recorder  # noqa: E402

arguments = sys.argv[1:]
browser = "chromium"
if arguments[:1] == ["--browser"]:
    browser, arguments = arguments[1], arguments[2:]
page, native, fixtures, output = (Path(a).resolve() for a in arguments[:4])
if not native.exists():
    print("skipped: no native ordana-cli at", native)
    sys.exit(77)
output.mkdir(parents=True, exist_ok=True)

LABELS = ["bogatia de specii", "indicele Simpson (D)", "indicele Simpson (1-D)", "indicele Simpson (1/D)",
          "indicele Shannon", "echitatea ptr. Shannon", "indicele Brillouin", "indicele Berger-Parker",
          "indicele McIntosh", "indicele Margalef", "indicele Menhinick", "indicele Gleason"]
KEYS = ["speciesRichness", "simpsonD", "simpsonOneMinusD", "simpsonInverse", "shannonH", "shannonEvenness",
        "brillouin", "bergerParker", "mcIntosh", "margalef", "menhinick", "gleason"]

failures = []
passed = []


def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what, flush=True)
    (passed if ok else failures).append(what)


def js(value):
    return json.dumps(value)


# What the page shows, in one look.
STATE = """(() => { const $ = (id) => document.getElementById(id); return {
  status: $('stare').textContent, path: $('locatie').value, sheets: [...$('foaia').options].map((o) => o.text),
  selected: $('foaia').selectedIndex, listEnabled: !$('foaia').disabled, calcEnabled: !$('prelucrare').disabled,
  box: $('mesaj').open ? {caption: $('mesaj-titlu').textContent, text: $('mesaj-text').textContent,
                          detail: $('mesaj-detaliu').textContent,
                          buttons: [...$('mesaj-butoane').children].map((b) => b.textContent)} : null,
  windowShown: !$('fereastra').hidden }; })()"""


def state(b):
    return b.evaluate(STATE)


def close_box(b):
    b.click("#mesaj-butoane button")
    b.until("!document.getElementById('mesaj').open")


def choose(b, path):
    """Through the file input; done once the path box names it, or a box is up (the page reads files
    asynchronously, so the earlier workbook's name may still stand for a moment)."""
    b.set_files("#fisier", [str(path)])
    b.until("document.getElementById('locatie').value === %s || document.getElementById('mesaj').open"
            % js(path.name))


def pick_sheet(b, name):
    b.evaluate("(() => { const s = document.getElementById('foaia'); s.selectedIndex = "
               "[...s.options].findIndex((o) => o.text === %s); "
               "s.dispatchEvent(new Event('change')); })()" % js(name))


def native_run(path, sheet):
    r = subprocess.run([str(native), "--json", "--sheet", sheet, str(path)], capture_output=True, text=True,
                       timeout=120)
    return r.returncode, [json.loads(line) for line in r.stdout.splitlines() if line.startswith("{")]


def read_table(path, kind, sheet):
    """The last table "Indici"/"Valoare" of the sheet, as an independent reader sees it: names and values."""
    rows = []
    if kind == "xls":
        import xlrd
        s = xlrd.open_workbook(str(path)).sheet_by_name(sheet)
        rows = [[s.cell_value(r, c) for c in range(s.ncols)] for r in range(s.nrows)]
    elif kind == "xlsx":
        import openpyxl
        s = openpyxl.load_workbook(str(path))[sheet]
        rows = [[c.value for c in row] for row in s.iter_rows()]
    else:
        from odf.opendocument import load
        from odf.table import Table, TableCell, TableRow
        from odf.namespaces import OFFICENS, TABLENS
        doc = load(str(path))
        table = [t for t in doc.spreadsheet.getElementsByType(Table) if t.getAttribute("name") == sheet][0]
        for row in table.getElementsByType(TableRow):
            cells = []
            for cell in row.getElementsByType(TableCell):
                repeat = int(cell.attributes.get((TABLENS, "number-columns-repeated"), "1"))
                kind_ = cell.attributes.get((OFFICENS, "value-type"))
                value = float(cell.attributes.get((OFFICENS, "value"))) if kind_ == "float" else str(cell)
                cells += [value] * min(repeat, 64)
            repeat = int(row.attributes.get((TABLENS, "number-rows-repeated"), "1"))
            rows += [cells] * min(repeat, 64)
    for r in range(len(rows)):
        for c in range(len(rows[r]) - 1):
            if rows[r][c] == "Indici" and rows[r][c + 1] == "Valoare":
                column = c
                top = r
    names = [rows[top + k][column] for k in range(1, 13)]
    values = [rows[top + k][column + 1] for k in range(1, 13)]
    return names, values


def same_package(a, b):
    with zipfile.ZipFile(a) as za, zipfile.ZipFile(b) as zb:
        if [i.filename for i in za.infolist()] != [i.filename for i in zb.infolist()]:
            return False
        return all(za.read(x) == zb.read(y) for x, y in zip(za.infolist(), zb.infolist()))


def whole_job(b, fixture, sheet, work):
    """The job on one workbook in the page, judged against the native ordana-cli on a copy of it."""
    kind = fixture.suffix[1:]
    choose(b, fixture)
    s = state(b)
    check(s["box"] is None and s["path"] == fixture.name and s["calcEnabled"],
          "%s: chosen, its name in the path box, the first sheet read" % fixture.name)
    r = subprocess.run([str(native), "--list", str(fixture)], capture_output=True, text=True, timeout=60)
    # FILE, NAME and the kind of sheet, by tabs; the page lists the data sheets.
    listed = [line.split("\t") for line in r.stdout.splitlines() if line]
    check(s["sheets"] == [f[1] for f in listed if f[2] == "date"],
          "%s: the data sheets the native ordana-cli lists: %s" % (fixture.name, s["sheets"]))
    check(s["status"] == " Selectati datele si apoi apasati butonul de prelucrare a datelor!",
          "%s: the status asks for the processing" % fixture.name)
    pick_sheet(b, sheet)
    b.click("#prelucrare")
    name, guid = b.wait_download()
    downloaded = work / ("page-" + fixture.name)  # openpyxl judges a file by its name's ending
    shutil.copy(guid, downloaded)
    s = state(b)
    check(name == fixture.name, "%s: handed back as a download under its own name (%s)" % (fixture.name, name))
    check(s["status"] == " Prelucrare efectuata; descarcat ca " + fixture.name,
          "%s: the status says it was downloaded: %r" % (fixture.name, s["status"]))
    copy = work / ("native-" + fixture.name)
    shutil.copy(fixture, copy)
    rc, printed = native_run(copy, sheet)
    check(rc == 0 and len(printed) == 1, "%s: the native ordana-cli did the same job" % fixture.name)
    names, values = read_table(downloaded, kind, sheet)
    check(names == LABELS, "%s: %s reads the table's names" % (fixture.name, {"xls": "xlrd", "xlsx": "openpyxl",
                                                                            "ods": "odfpy"}[kind]))
    expected = [float(printed[0][k]) for k in KEYS]
    check(all(abs(float(v) - e) <= 1e-12 * max(1.0, abs(e)) for v, e in zip(values, expected)),
          "%s: the values are the native ordana-cli's: %s" % (fixture.name, values[:3]))
    same = Path(downloaded).read_bytes() == copy.read_bytes() if kind == "xls" else same_package(downloaded, copy)
    check(same, "%s: saved as the native ordana-cli saves it (%s)" % (
        fixture.name, "byte for byte" if kind == "xls" else "entry for entry"))
    return downloaded


def estimates(b, work):
    """The check box ticked: the estimates table beside the indices in the saved workbook, the report shown in
    the page and named in the status."""
    fixture = fixtures / "basic-libreoffice.xlsx"
    choose(b, fixture)
    b.evaluate("document.getElementById('estimatori').checked || document.getElementById('estimatori').click()")
    pick_sheet(b, "Date")
    b.click("#prelucrare")
    name, guid = b.wait_download()
    saved = work / ("estimates-" + fixture.name)
    shutil.copy(guid, saved)
    s = state(b)
    check(s["status"].startswith(" Prelucrare efectuata - raportul: ") and
          s["status"].endswith("; descarcat ca " + fixture.name), "estimates: the status names the report and "
          "the download: %r" % s["status"])
    import openpyxl
    sheet = openpyxl.load_workbook(str(saved))["Date"]
    texts = {c.value for row in sheet.iter_rows() for c in row if isinstance(c.value, str)}
    check({"Indici", "Estimator", "ES", "Metoda"} <= texts, "estimates: openpyxl reads both tables")
    shown = b.evaluate("!document.getElementById('raport').hidden && "
                       "document.getElementById('raport-cadru').srcdoc.includes('Chao')")
    check(bool(shown), "estimates: the report is shown in the page")
    b.screenshot(str(output / "estimates.png"))
    b.evaluate("document.getElementById('estimatori').click()")


def error_paths(b, work):
    not_workbook = work / "nu-este-registru.xlsx"
    not_workbook.write_bytes(b"SPECIA;ABUNDENTA\nQuercus;3\n")
    cases = fixtures / "cases-xlwt.xls"
    # A good workbook first: the failures below must undo or keep its state as the window does.
    choose(b, fixtures / "basic-libreoffice.xls")
    choose(b, not_workbook)
    s = state(b)
    check(s["box"] is not None and s["box"]["caption"] == "Deschiderea fisierului Excel"
          and s["box"]["text"] == "Parola nu s-a introdus sau e incorecta " and s["box"]["buttons"] == ["OK"],
          "not a workbook: the opening box (1004): %s" % s["box"])
    check(s["box"] and "nu-este-registru.xlsx" in s["box"]["detail"] and "/registre/" not in s["box"]["detail"],
          "not a workbook: the engine's reason names the file by its name alone")
    close_box(b)
    s = state(b)
    check(s["sheets"] == [] and s["path"] == "" and not s["calcEnabled"],
          "not a workbook: list and path emptied, the processing disabled")
    b.screenshot(str(output / "error-1004.png"))

    choose(b, cases)
    for sheet, number in (("TextRau", 13), ("Depasire", 6)):
        pick_sheet(b, sheet)
        s = state(b)
        check(s["box"] is not None and s["box"]["caption"] == "Accesarea fisierului Excel"
              and s["box"]["text"].startswith("Eroarea: %d\n" % number) and len(s["box"]["text"]) > 12,
              "%s: the reading box with the number and the description: %s" % (sheet, s["box"]))
        close_box(b)
    pick_sheet(b, "GolA2")
    check(state(b)["calcEnabled"], "an empty sample reads")
    b.click("#prelucrare")
    s = state(b)
    check(s["box"] is not None and s["box"]["caption"] == "Eroare la scrierea in fisier"
          and s["box"]["text"].startswith("Eroare : 9"), "the computation's failure: %s" % s["box"])
    close_box(b)
    check(state(b)["status"] == " Procesare...", "after a failed calculation the status stays ' Procesare...'")
    check(cases.name not in b.download_names(), "a failed calculation hands nothing back")

    # Listed (rows 1 and 2 are sound), then refused at the reading: a shared string numbered "inf".
    choose(b, fixtures / "hostile-sst_index_inf.xlsx")
    s = state(b)
    check(s["box"] is not None and s["box"]["caption"] == "Accesarea  fisierului Excel"
          and s["box"]["text"] == "Fisier inaccesibil" and "celula A2" in s["box"]["detail"],
          "a sheet the engine refuses to read (1004): %s" % s["box"])
    b.screenshot(str(output / "error-reading.png"))
    close_box(b)
    # The dialog cancelled after a good choice changes nothing.
    choose(b, fixtures / "basic-libreoffice.ods")
    before = state(b)
    b.evaluate("document.getElementById('fisier').dispatchEvent(new Event('cancel'))")
    check(state(b) == before, "the file dialog cancelled: nothing changes, no box")


# A stand-in for the browser's picker and the handle it gives: the page's own code asks for permission, checks
# the file, writes it through a writable that puts it in place on close. Its file lives in the page.
FSA = """(() => {
  window.fsa = {log: [], written: null, permission: 'granted', changeBeforeWrite: false};
  window.showOpenFilePicker = async () => {
    const bytes = Uint8Array.from(atob(%s), (c) => c.charCodeAt(0));
    let file = new File([bytes], %s, {lastModified: 1700000000000});
    const handle = {
      kind: 'file', name: file.name,
      getFile: async () => file,
      queryPermission: async () => 'prompt',
      requestPermission: async () => { fsa.log.push('permission'); return fsa.permission; },
      createWritable: async () => {
        if (fsa.changeBeforeWrite) throw new Error('should not write');
        const parts = [];
        return {write: async (b) => { parts.push(b); }, abort: async () => {},
                close: async () => { fsa.written = btoa(String.fromCharCode(...new Uint8Array(
                                         await new Blob(parts).arrayBuffer())));
                                     file = new File(parts, file.name, {lastModified: 1700000009000}); }};
      },
    };
    window.fsaTouch = () => { file = new File([bytes, new Uint8Array([0])], file.name,
                                              {lastModified: 1700000005000}); };
    return [handle];
  };
})()"""


def dropped(b):
    """A workbook dropped on the page is chosen as the file input chooses it (the drop made in the page: neither
    driver can drag a file from the desktop)."""
    fixture = fixtures / "basic-libreoffice.ods"
    b.evaluate("""(() => { const bytes = Uint8Array.from(atob(%s), (c) => c.charCodeAt(0));
        const data = new DataTransfer(); data.items.add(new File([bytes], %s));
        document.body.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));
        })()""" % (js(base64.b64encode(fixture.read_bytes()).decode()), js(fixture.name)))
    b.until("document.getElementById('locatie').value === %s || document.getElementById('mesaj').open"
            % js(fixture.name))
    s = state(b)
    check(s["box"] is None and s["path"] == fixture.name and "Lista" in s["sheets"] and s["calcEnabled"],
          "dropped on the page: chosen, its sheets listed: %s" % s["sheets"])


def save_in_place(b, work):
    fixture = fixtures / "basic-libreoffice.xlsx"
    b.evaluate(FSA % (js(base64.b64encode(fixture.read_bytes()).decode()), js(fixture.name)))
    b.click("#fisier")
    b.until("document.getElementById('locatie').value === %s" % js(fixture.name))
    b.click("#prelucrare")
    b.until("document.getElementById('stare').textContent.includes(';')")
    s = state(b)
    check(s["status"] == " Prelucrare efectuata; salvat pe loc", "in place: the status says so: %r" % s["status"])
    written = b.evaluate("fsa.written")
    saved = work / "in-place.xlsx"
    saved.write_bytes(base64.b64decode(written or ""))
    names, _ = read_table(saved, "xlsx", "Date")
    check(names == LABELS and b.evaluate("fsa.log") == ["permission"],
          "in place: permission asked, the workbook written with its table (openpyxl)")

    # Changed on the disk since it was read: refused, nothing written.
    b.evaluate("(fsa.written = null, fsaTouch(), fsa.changeBeforeWrite = true)")
    b.click("#prelucrare")
    b.until("document.getElementById('mesaj').open")
    s = state(b)
    check(s["box"]["caption"] == "Eroare la scrierea in fisier"
          and s["box"]["text"] == "Fisierul este in uz sau este protejat la scriere"
          and "a fost schimbat de alt program" in s["box"]["detail"] and b.evaluate("fsa.written") is None,
          "in place: a file changed since it was read is refused, nothing written: %s" % s["box"])
    check(s["status"] == " Prelucrare efectuata; registrul nu a fost scris", "in place refused: the status")
    close_box(b)


def network(b):
    fetched = b.evaluate("""new Promise((done) => {
        let violation = null;
        document.addEventListener('securitypolicyviolation', (e) => { violation = e.violatedDirective; });
        fetch('http://127.0.0.1:9/x').then(() => done('fetched'),
            () => setTimeout(() => done('refused ' + violation), 100)); })""")
    check(fetched.startswith("refused connect-src") or fetched.startswith("refused default-src"),
          "the page's policy forbids a request: " + fetched)
    outside = [u for u in b.requests() if not (u == page.as_uri() or u.startswith("data:") or
                                               u.startswith("blob:"))]
    blocked = [u for u in outside if u == "http://127.0.0.1:9/x"]
    check(outside == blocked, "no request left the page but the probe the policy refused: %s" % outside)
    # The recorder hears a request when one is made: a page from a loopback server of the test's own, opened last.
    import http.server
    import threading

    # Threaded: a connection the browser opens ahead and leaves idle must not hold up the request, nor the end.
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    canary = "http://127.0.0.1:%d/canary" % server.server_port
    try:
        b.open(canary)
        b.pump(0.2)
        check(canary in b.requests(), "the recorder hears a request made: %s" % canary)
    finally:
        server.shutdown()
        server.server_close()


def main():
    downloads = tempfile.mkdtemp(prefix="ordana-web-downloads-")
    work = Path(tempfile.mkdtemp(prefix="ordana-web-"))
    b = Browser(downloads, browser)
    try:
        b.open(page.as_uri())
        b.until("document.getElementById('stare').textContent !== ''")
        s = state(b)
        check(s["status"] == " Selectati fisierul si apoi foaia ce contine datele!" and not s["calcEnabled"]
              and not s["listEnabled"], "opened: the load step's status, list and processing disabled")
        check(b.evaluate("document.getElementById('titlu').textContent") ==
              "  Calculul indicilor de evaluare a biodiversitatii", "the window's caption")
        b.screenshot(str(output / "opened.png"))
        for fixture in ("basic-libreoffice.xls", "basic-libreoffice.xlsx", "basic-libreoffice.ods"):
            whole_job(b, fixtures / fixture, "Lista", work)
        b.screenshot(str(output / "done.png"))
        estimates(b, work)
        error_paths(b, work)
        # Closing the window and opening it again: the controls as the load step leaves them.
        b.click("#inchide")
        check(not state(b)["windowShown"], "'Inchide modulul' closes the window")
        b.click("#redeschide")
        s = state(b)
        check(s["windowShown"] and s["sheets"] == [] and s["path"] == "" and not s["calcEnabled"]
              and s["status"] == " Selectati fisierul si apoi foaia ce contine datele!", "reopened afresh")
        dropped(b)
        save_in_place(b, work)
        check(b.problems() == [], "no error in the page's console: %s" % b.problems()[:3])
        network(b)
    finally:
        b.close()
        shutil.rmtree(downloads, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (len(passed), len(failures)))
    sys.exit(1 if failures else 0)


main()
