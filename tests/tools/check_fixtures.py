#!/usr/bin/python3
"""Checks the committed fixtures with xlrd (through xls_dump), so a regenerated set that lost content is caught.

    /usr/bin/python3 tests/tools/check_fixtures.py tests/fixtures
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xls_dump  # noqa: E402

FIXTURES = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "fixtures")

DIACRITICS = "Pădure în Țara Bârsei, școală, înșiruire: ăâîșț ĂÂÎȘȚ"
OTHER = "Ωμέγα, 日本語, €, ß, naïve"


def load(name):
    return xls_dump.dump(os.path.join(FIXTURES, name))


def cells(d, sheet):
    s = next(s for s in d["sheets"] if s["name"] == sheet)
    return {c["ref"]: c for c in s["cells"]}


class BasicWorkbooks(unittest.TestCase):
    PRODUCERS = ["basic-xlwt.xls", "basic-libreoffice.xls", "basic-gnumeric.xls"]

    def test_sheet_list(self):
        for name in self.PRODUCERS:
            with self.subTest(name):
                d = load(name)
                self.assertEqual(d["biff_version"], 80)
                sheets = [(s["name"], s["kind"], s["visibility"]) for s in d["all_sheets"]]
                expected = [("Date", "worksheet", "visible"), ("Note", "worksheet", "visible"),
                            ("Lista", "worksheet", "visible"), ("Ascunsa", "worksheet", "hidden")]
                if name != "basic-xlwt.xls":
                    # Neither LibreOffice 7.4 nor Gnumeric writes a chart sheet: the source's chart sheet comes
                    # out as a worksheet holding the chart.
                    expected.append(("Grafic", "worksheet", "visible"))
                expected.append(("Plin", "worksheet", "visible"))
                self.assertEqual(sheets, expected)
                self.assertEqual(d["window1"]["active_tab"], 0)

    def test_values(self):
        for name in self.PRODUCERS:
            with self.subTest(name):
                d = load(name)
                date = cells(d, "Date")
                self.assertEqual([date[r]["value"] for r in ("A1", "B1", "B2", "B3", "B4", "B5")],
                                 ["SPECIA", "ABUNDENTA", 10, 20, 30, 40])
                self.assertNotIn("C1", date)
                note = cells(d, "Note")
                self.assertEqual(note["B1"]["value"], 3.25)
                self.assertEqual(note["B4"]["type"], "boolean")
                self.assertEqual((note["B5"]["type"], note["B5"]["value"]), ("error", "#DIV/0!"))
                if name != "basic-xlwt.xls":  # xlwt stores no formula results
                    self.assertEqual(note["B2"]["value"], -3.75)
                    self.assertEqual(note["B3"]["value"], "abcd")
                self.assertGreater(len(note["B7"]["value"]), 9000)
                self.assertEqual(note["A8"]["value"], DIACRITICS)
                self.assertEqual(note["B8"]["value"], OTHER)
                self.assertIn([5, 6, 1, 4], next(s for s in d["sheets"] if s["name"] == "Note")["merged"])
                lista = cells(d, "Lista")
                self.assertEqual((lista["A1"]["value"], lista["B1"]["value"]), ("specia", "abundenta"))
                self.assertEqual((lista["B4"]["type"], lista["B4"]["value"]), ("text", "5"))
                plin = cells(d, "Plin")
                self.assertEqual((plin["C1"]["value"], plin["D1"]["value"]), ("Observatii", "Locatie"))
                self.assertNotIn("E1", plin)
                self.assertEqual(cells(d, "Ascunsa")["B3"]["value"], 9)


class OtherFixtures(unittest.TestCase):
    def test_excel95_is_biff5(self):
        d = load("basic-excel95.xls")
        self.assertEqual(d["biff_version"], 50)
        self.assertEqual(cells(d, "Date")["B5"]["value"], 40)

    def test_refused(self):
        for name, reason in [("password-libreoffice.xls", "encrypted"), ("not-empty.xls", "0 bytes"),
                             ("not-text.xls", "Expected BOF"), ("not-png.xls", "Expected BOF")]:
            with self.subTest(name), self.assertRaises(Exception) as ctx:
                load(name)
            self.assertIn(reason, str(ctx.exception))

    def test_formatting(self):
        d = load("formatted-xlwt.xls")
        self.assertEqual(d["window1"]["active_tab"], 1)
        tabel = next(s for s in d["sheets"] if s["name"] == "Tabel")
        self.assertTrue(tabel["selected"] and tabel["active"])
        self.assertEqual({k: v["width"] for k, v in tabel["columns"].items()}, {"A": 5814, "B": 2742})
        c = cells(d, "Tabel")
        self.assertEqual((c["A1"]["bold"], c["A1"]["align"]), (True, "center"))
        self.assertEqual((c["B2"]["format"], c["B3"]["format"]), ("0", "0.000"))
        self.assertEqual(c["A3"]["borders"], {"left": 1, "right": 0, "top": 0, "bottom": 1})
        self.assertEqual(c["A2"]["align"], "left")


if __name__ == "__main__":
    unittest.main(verbosity=1)
