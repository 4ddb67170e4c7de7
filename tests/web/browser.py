"""Debian's chromium, headless, driven over the DevTools protocol (python3-websocket): a fresh profile per
run, every request the page makes recorded, downloads kept in a folder of the run's own."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import time

import websocket

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"


class Browser:
    def __init__(self, downloads):
        self.profile = tempfile.mkdtemp(prefix="ordana-chromium-")
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", "--no-default-browser-check",
             "--user-data-dir=" + self.profile, "--remote-debugging-port=0", "--window-size=1000,800",
             *os.environ.get("ORDANA_CHROMIUM_FLAGS", "").split(), "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        url = None
        deadline = time.time() + 60
        while time.time() < deadline and url is None:
            line = self.process.stderr.readline()
            if not line and self.process.poll() is not None:
                raise RuntimeError("chromium did not start")
            found = re.search(r"DevTools listening on (ws://\S+)", line)
            if found:
                url = found.group(1)
        if url is None:
            raise RuntimeError("chromium gave no DevTools address")
        self.socket = websocket.create_connection(url, timeout=120, suppress_origin=True)
        self.next_id = 0
        self.events = []
        self.downloads = downloads
        self.call("Browser.setDownloadBehavior", behavior="allowAndName", downloadPath=downloads, eventsEnabled=True)
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Network", "Log"):
            self.send(domain + ".enable")

    def close(self):
        try:
            self.socket.close()
        finally:
            self.process.kill()
            self.process.wait()
            shutil.rmtree(self.profile, ignore_errors=True)

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.socket.send(json.dumps(message))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def send(self, method, **params):
        """A command to the page."""
        return self.call(method, session=self.session, **params)

    def pump(self, seconds):
        """Takes in the events of the next seconds."""
        self.socket.settimeout(seconds)
        try:
            while True:
                reply = json.loads(self.socket.recv())
                if "method" in reply:
                    self.events.append(reply)
        except websocket.WebSocketTimeoutException:
            pass
        finally:
            self.socket.settimeout(120)

    def evaluate(self, expression, wait=True):
        result = self.send("Runtime.evaluate", expression=expression, awaitPromise=wait, returnByValue=True,
                           userGesture=True)
        if "exceptionDetails" in result:
            raise RuntimeError("page: %s" % json.dumps(result["exceptionDetails"])[:2000])
        return result["result"].get("value")

    def until(self, expression, seconds=60):
        """Waits until the expression is true in the page; returns its value."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            self.pump(0.05)
        raise AssertionError("timed out waiting for: " + expression)

    def open(self, url):
        self.send("Page.navigate", url=url)
        self.until("document.readyState === 'complete'")

    def click(self, selector):
        """A real click of the mouse on the element's middle: a user's gesture, as the browser judges it."""
        box = self.evaluate("(() => { const r = document.querySelector(%s).getBoundingClientRect();"
                            " return [r.x + r.width / 2, r.y + r.height / 2]; })()" % json.dumps(selector))
        for kind in ("mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", type=kind, x=box[0], y=box[1], button="left", clickCount=1)

    def set_files(self, selector, paths):
        document = self.send("DOM.getDocument")["root"]["nodeId"]
        node = self.send("DOM.querySelector", nodeId=document, selector=selector)["nodeId"]
        self.send("DOM.setFileInputFiles", nodeId=node, files=list(paths))

    def screenshot(self, path):
        import base64
        data = self.send("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def requests(self):
        return [e["params"]["request"]["url"] for e in self.events if e["method"] == "Network.requestWillBeSent"]

    def problems(self):
        """Exceptions thrown and errors logged in the page."""
        found = []
        for e in self.events:
            if e["method"] == "Runtime.exceptionThrown":
                found.append(json.dumps(e["params"]["exceptionDetails"])[:500])
            elif e["method"] == "Log.entryAdded" and e["params"]["entry"]["level"] == "error":
                found.append(e["params"]["entry"]["text"])
            elif e["method"] == "Runtime.consoleAPICalled" and e["params"]["type"] == "error":
                found.append(json.dumps(e["params"]["args"])[:500])
        return found

    def wait_download(self, seconds=60):
        """The next completed download: the name the page gave it, and where it is."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            names = {e["params"]["guid"]: e["params"]["suggestedFilename"] for e in self.events
                     if e["method"] == "Browser.downloadWillBegin"}
            for e in self.events:
                if e["method"] == "Browser.downloadProgress" and e["params"]["state"] == "completed" \
                        and not e.get("seen"):
                    e["seen"] = True
                    return names.get(e["params"]["guid"]), os.path.join(self.downloads, e["params"]["guid"])
            self.pump(0.1)
        raise AssertionError("no download completed")
