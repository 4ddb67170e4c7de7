#!/usr/bin/python3
"""Makes the one self-contained page: the template with the styles, the page's script, the module's script and
its WebAssembly (base64) and the icon put in place. No file beside it is ever asked for.

    inline.py TEMPLATE STYLE PAGE_JS MODULE_JS MODULE_WASM ICON OUTPUT
"""
import base64
import sys

template, style, page, module, wasm, icon, output = sys.argv[1:8]


def text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def b64(path):
    with open(path, "rb") as f:
        return base64.b64encode(f.read()).decode("ascii")


parts = {
    "@STYLE@": text(style),
    "@PAGE@": text(page),
    "@MODULE@": text(module),
    "@WASM@": b64(wasm),
    "@ICON@": b64(icon),
}
html = text(template)
# One pass over the template, so that a placeholder's text inside an inlined part is left alone.
pieces = []
at = 0
while True:
    starts = [(html.find(k, at), k) for k in parts if html.find(k, at) >= 0]
    if not starts:
        pieces.append(html[at:])
        break
    where, key = min(starts)
    pieces += [html[at:where], parts[key]]
    at = where + len(key)
result = "".join(pieces)
# A script's text ends at the first "</script": none of ours may hold one.
for name in ("@PAGE@", "@MODULE@"):
    if "</script" in parts[name].lower():
        sys.exit("inline.py: %s holds </script" % name)
with open(output, "w", encoding="utf-8") as f:
    f.write(result)
