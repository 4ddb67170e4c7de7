"""Debian's chromium (over the DevTools protocol) and firefox-esr (over WebDriver BiDi), headless, through
python3-websocket, and WebKitGTK's MiniBrowser (Safari's engine, WebKit with JavaScriptCore) over classic
WebDriver on a virtual screen: a fresh profile per run, every request the page makes recorded, downloads kept
in a folder of the run's own. All offer the same few acts of a user (open, click, choose files) and looks
(evaluate, screenshot, downloads, problems, requests)."""
import base64
import glob
import http.server
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request

import websocket

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
FIREFOX = shutil.which("firefox-esr") or shutil.which("firefox") or "/usr/bin/firefox-esr"


def start(command, pattern):
    """The browser's process and the address its debugging line names; the rest of its stderr is drained so
    a talkative browser never blocks on a full pipe."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    url = None
    deadline = time.time() + 60
    while time.time() < deadline and url is None:
        line = process.stderr.readline()
        if not line and process.poll() is not None:
            raise RuntimeError("%s did not start" % command[0])
        found = re.search(pattern, line)
        if found:
            url = found.group(1)
    if url is None:
        process.kill()
        raise RuntimeError("%s gave no debugging address" % command[0])
    threading.Thread(target=lambda: [None for _ in process.stderr], daemon=True).start()
    return process, url


class Driver:
    """What every browser's driver shares: waiting on the page, and a click where the element is."""

    def until(self, expression, seconds=60):
        """Waits until the expression is true in the page; returns its value."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            value = self.evaluate(expression)
            if value:
                return value
            self.pump(0.05)
        raise AssertionError("timed out waiting for: " + expression)

    def click(self, selector):
        """A real click of the mouse on the element's middle: a user's gesture, as the browser judges it."""
        x, y = self.evaluate("(() => { const r = document.querySelector(%s).getBoundingClientRect();"
                             " return [r.x + r.width / 2, r.y + r.height / 2]; })()" % json.dumps(selector))
        self.press(x, y)

    def take(self, path):
        """A finished download moved aside, so the next download of the same name keeps its name."""
        self.taken.append(os.path.basename(path))
        aside = os.path.join(self.downloads, "taken-%d" % len(self.taken))
        os.rename(path, aside)
        return os.path.basename(path), aside


# The W3C pointer actions of a left click at a point of the viewport, as both WebDriver dialects take them.
def left_click(x, y):
    return [{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
             "actions": [{"type": "pointerMove", "x": int(x), "y": int(y), "origin": "viewport"},
                         {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}]


class Chromium(Driver):
    def __init__(self, downloads):
        self.profile = tempfile.mkdtemp(prefix="ordana-chromium-")
        self.process, url = start(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", "--no-default-browser-check",
             "--user-data-dir=" + self.profile, "--remote-debugging-port=0", "--window-size=1000,800",
             *os.environ.get("ORDANA_CHROMIUM_FLAGS", "").split(), "about:blank"],
            r"DevTools listening on (ws://\S+)")
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

    def open(self, url):
        self.send("Page.navigate", url=url)
        self.until("document.readyState === 'complete'")

    def press(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def set_files(self, selector, paths):
        document = self.send("DOM.getDocument")["root"]["nodeId"]
        node = self.send("DOM.querySelector", nodeId=document, selector=selector)["nodeId"]
        self.send("DOM.setFileInputFiles", nodeId=node, files=list(paths))

    def screenshot(self, path):
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

    def download_names(self):
        """The names the page gave every download begun so far."""
        return [e["params"]["suggestedFilename"] for e in self.events if e["method"] == "Browser.downloadWillBegin"]


# Downloads go to the run's folder without asking; the remote agent's own recommended preferences already keep
# the browser from updating itself and from its start-up pages.
FIREFOX_PREFERENCES = {
    "browser.download.dir": None, "browser.download.folderList": 2, "browser.download.useDownloadDir": True,
    "browser.download.always_ask_before_handling_new_types": False, "browser.download.start_downloads_in_tmp_dir": False,
    "browser.download.alwaysOpenPanel": False, "browser.download.panel.shown": True,
    "datareporting.policy.dataSubmissionEnabled": False, "toolkit.telemetry.reportingpolicy.firstRun": False,
}


class Firefox(Driver):
    def __init__(self, downloads):
        self.profile = tempfile.mkdtemp(prefix="ordana-firefox-")
        self.downloads = downloads
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            for key, value in FIREFOX_PREFERENCES.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(key), json.dumps(downloads if value is None else value)))
        self.process, url = start(
            [FIREFOX, "--headless", "--no-remote", "--profile", self.profile, "--remote-debugging-port=0",
             "--width=1000", "--height=800", "about:blank"],
            r"WebDriver BiDi listening on (ws://\S+)")
        self.socket = websocket.create_connection(url + "/session", timeout=120, suppress_origin=True)
        self.next_id = 0
        self.events = []
        self.taken = []
        self.call("session.new", capabilities={"alwaysMatch": {"unhandledPromptBehavior": "ignore"}})
        self.call("session.subscribe", events=["log.entryAdded", "network.beforeRequestSent",
                                               "browsingContext.downloadWillBegin", "browsingContext.downloadEnd"])
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]
        self.call("browsingContext.setViewport", context=self.context, viewport={"width": 1000, "height": 800})

    def close(self):
        try:
            try:
                self.call("session.end")
            except Exception:
                pass
            self.socket.close()
        finally:
            self.process.kill()
            self.process.wait()
            shutil.rmtree(self.profile, ignore_errors=True)

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get("id") == self.next_id:
                if reply.get("type") == "error":
                    raise RuntimeError("%s: %s: %s" % (method, reply.get("error"), reply.get("message")))
                return reply.get("result", {})
            if reply.get("type") == "event":
                self.events.append(reply)

    def pump(self, seconds):
        self.socket.settimeout(seconds)
        try:
            while True:
                reply = json.loads(self.socket.recv())
                if reply.get("type") == "event":
                    self.events.append(reply)
        except websocket.WebSocketTimeoutException:
            pass
        finally:
            self.socket.settimeout(120)

    @staticmethod
    def value(remote):
        """A BiDi remote value as Python's: what the page's JSON would have given."""
        kind = remote["type"]
        if kind in ("undefined", "null"):
            return None
        if kind in ("string", "boolean"):
            return remote["value"]
        if kind == "number":
            v = remote["value"]
            return float(v.replace("Infinity", "inf")) if isinstance(v, str) else v
        if kind == "array":
            return [Firefox.value(v) for v in remote.get("value", [])]
        if kind == "object":
            return {k: Firefox.value(v) for k, v in remote.get("value", [])}
        return remote

    def run(self, expression, wait=True, ownership="none"):
        result = self.call("script.evaluate", expression=expression, target={"context": self.context},
                           awaitPromise=wait, resultOwnership=ownership, userActivation=True)
        if result["type"] == "exception":
            raise RuntimeError("page: %s" % json.dumps(result["exceptionDetails"])[:2000])
        return result["result"]

    def evaluate(self, expression, wait=True):
        return self.value(self.run(expression, wait))

    def open(self, url):
        self.call("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def press(self, x, y):
        self.call("input.performActions", context=self.context, actions=left_click(x, y))

    def set_files(self, selector, paths):
        node = self.run("document.querySelector(%s)" % json.dumps(selector), ownership="root")
        self.call("input.setFiles", context=self.context, element={"sharedId": node["sharedId"]},
                  files=list(paths))

    def screenshot(self, path):
        data = self.call("browsingContext.captureScreenshot", context=self.context)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def requests(self):
        return [e["params"]["request"]["url"] for e in self.events if e["method"] == "network.beforeRequestSent"]

    def problems(self):
        return [e["params"].get("text") or json.dumps(e["params"])[:500] for e in self.events
                if e["method"] == "log.entryAdded" and e["params"].get("level") == "error"]

    def wait_download(self, seconds=60):
        """The next completed download: the name the page gave it, and where it is; moved aside so that the
        next download of the same name keeps its name."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            for e in self.events:
                if e["method"] == "browsingContext.downloadEnd" and not e.get("taken"):
                    e["taken"] = True
                    if e["params"].get("status") != "complete":
                        raise AssertionError("download %s" % e["params"].get("status"))
                    return self.take(e["params"]["filepath"])
            self.pump(0.1)
        raise AssertionError("no download completed")

    def download_names(self):
        return [e["params"]["suggestedFilename"] for e in self.events
                if e["method"] == "browsingContext.downloadWillBegin"]


MINIBROWSER = (glob.glob("/usr/lib/*/webkit2gtk-4.1/MiniBrowser") or ["MiniBrowser"])[0]


class Recorder(http.server.BaseHTTPRequestHandler):
    """The browser's proxy: it hears every http request the page makes, forwards none, answers each with a
    page of its own."""
    heard = []
    timeout = 5  # a connection opened ahead and left idle is closed

    def do_GET(self):
        Recorder.heard.append(self.path)
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(b"<p>recorded</p>")

    do_POST = do_HEAD = do_CONNECT = do_GET

    def log_message(self, *args):
        pass


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class WebKit(Driver):
    """Classic WebDriver has no events: requests are heard by a recording proxy, the page's errors by listeners
    put in after each load (an error while loading shows in the page's state instead), downloads by watching
    the folder MiniBrowser saves to (the profile's home)."""
    def __init__(self, downloads):
        self.profile = tempfile.mkdtemp(prefix="ordana-webkit-")
        self.downloads = downloads
        self.taken = []
        read, write = os.pipe()
        self.screen = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                        "-nolisten", "tcp"], pass_fds=[write], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            display = ":" + f.readline().strip()
        self.proxy = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
        threading.Thread(target=self.proxy.serve_forever, daemon=True).start()
        self.port = free_port()
        environment = dict(os.environ, DISPLAY=display, HOME=self.profile, XDG_CONFIG_HOME=self.profile + "/.config",
                           XDG_CACHE_HOME=self.profile + "/.cache", XDG_DATA_HOME=self.profile + "/.local")
        environment.pop("WAYLAND_DISPLAY", None)
        self.driver = subprocess.Popen(["WebKitWebDriver", "--port=%d" % self.port], env=environment,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while True:
            try:
                self.call("GET", "/status")
                break
            except (urllib.error.URLError, ConnectionError):
                if time.time() > deadline:
                    raise RuntimeError("WebKitWebDriver did not start")
                time.sleep(0.1)
        proxy = "127.0.0.1:%d" % self.proxy.server_port
        self.session = self.call("POST", "/session", {"capabilities": {"alwaysMatch": {
            "webkitgtk:browserOptions": {"binary": MINIBROWSER, "args": ["--automation"]},
            "proxy": {"proxyType": "manual", "httpProxy": proxy, "sslProxy": proxy, "noProxy": []},
            "timeouts": {"script": 600000}}}})["sessionId"]
        self.call("POST", "/session/%s/window/rect" % self.session, {"width": 1000, "height": 800})

    def close(self):
        try:
            self.call("DELETE", "/session/" + self.session)
        except Exception:
            pass
        finally:
            for process in (self.driver, self.screen):
                process.kill()
                process.wait()
            self.proxy.shutdown()
            shutil.rmtree(self.profile, ignore_errors=True)

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=600) as reply:
                return json.loads(reply.read())["value"]
        except urllib.error.HTTPError as e:
            raise RuntimeError("%s %s: %s" % (method, path, e.read()[:2000].decode(errors="replace")))

    def evaluate(self, expression, wait=True):
        """The expression's value; a promise is waited for (WebDriver does so)."""
        return self.call("POST", "/session/%s/execute/sync" % self.session,
                         {"script": "return (%s);" % expression, "args": []})

    def pump(self, seconds):
        time.sleep(seconds)

    def open(self, url):
        self.call("POST", "/session/%s/url" % self.session, {"url": url})
        self.evaluate("(() => { window.problems = []; window.addEventListener('error', (e) => "
                      "problems.push(String(e.message))); window.addEventListener('unhandledrejection', (e) => "
                      "problems.push(String(e.reason))); const error = console.error; console.error = (...a) => "
                      "{ problems.push(a.join(' ')); error(...a); }; })()")

    def element(self, selector):
        found = self.call("POST", "/session/%s/element" % self.session, {"using": "css selector", "value": selector})
        return next(iter(found.values()))

    def press(self, x, y):
        self.call("POST", "/session/%s/actions" % self.session, {"actions": left_click(x, y)})
        self.call("DELETE", "/session/%s/actions" % self.session)

    def click(self, selector):
        # WebDriver's own click of the element: pointer actions, one click after another at the same point,
        # now and then never reached the page (1 in 14 runs). WebDriver refuses its own click on a file input.
        if self.evaluate("document.querySelector(%s).type === 'file'" % json.dumps(selector)):
            return super().click(selector)
        self.call("POST", "/session/%s/element/%s/click" % (self.session, self.element(selector)), {})

    def set_files(self, selector, paths):
        self.call("POST", "/session/%s/element/%s/value" % (self.session, self.element(selector)),
                  {"text": "\n".join(paths)})

    def screenshot(self, path):
        # WebKit photographs the last frame it painted: two frames more and the page's latest change is in it.
        self.evaluate("new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)))")
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("GET", "/session/%s/screenshot" % self.session)))

    def requests(self):
        return list(Recorder.heard)

    def problems(self):
        return self.evaluate("window.problems || []")

    def arrived(self):
        return [f for f in os.listdir(self.profile) if not f.startswith(".") and not f.endswith(".wkdownload")
                and os.path.isfile(os.path.join(self.profile, f))]

    def wait_download(self, seconds=60):
        """MiniBrowser writes a download under its own name as it comes: it is complete once its size has held
        for half a second."""
        deadline = time.time() + seconds
        sizes = {}
        while time.time() < deadline:
            for name in self.arrived():
                size = os.path.getsize(os.path.join(self.profile, name))
                held = sizes.get(name)
                if held is None or held[0] != size:
                    sizes[name] = (size, time.time())
                elif size and time.time() - held[1] >= 0.5:
                    return self.take(os.path.join(self.profile, name))
            time.sleep(0.1)
        raise AssertionError("no download completed")

    def download_names(self):
        return self.taken + self.arrived()


def Browser(downloads, name="chromium"):
    return {"chromium": Chromium, "firefox": Firefox, "webkit": WebKit}[name](downloads)
