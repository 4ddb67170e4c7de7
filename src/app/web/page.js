// The indices window's DOM side. The module (WebIndici.cpp) calls Page.* for what the logic asks of a window;
// the controls' events call the module's exported functions. Workbooks live in the module's in-memory file
// system, one folder per choice; after a save the page hands the workbook back to the user's disk: in place
// through the File System Access API where the browser offers it and the user allows it, else as a download
// under the same name.
'use strict';

// The module's settings: its wasm given as bytes (never fetched), its output to the console. Module and Page
// are the only names the page gives the global scope, which the module's own script shares.
var Module = {
  wasmBinary: null,
  print: (t) => console.log(t),
  printErr: (t) => console.warn(t),
};

{
// ui::Control, in the order of View.h; the negative ones are labels only the page has.
const Control = {FileButton: 0, PathBox: 1, SheetList: 2, CalcButton: 3, CancelButton: 4, Status: 5,
                 EstimatesBox: 6, AllSheetsBox: 7, IncidenceBox: 8, Caption: -1, Frame: -2, SheetLabel: -3,
                 Title: -4};
const ids = {0: 'fisier', 1: 'locatie', 2: 'foaia', 3: 'prelucrare', 4: 'inchide', 5: 'stare', 6: 'estimatori',
             7: 'toatefoile', 8: 'incidenta'};
const byId = (id) => document.getElementById(id);
const element = (control) => byId(ids[control]);

// Romanian texts of the page itself: the handing back of the workbook, which the desktop does not need.
const texts = {
  // Added to the logic's status, which may name the report.
  savedInPlace: '; salvat pe loc',
  downloaded: (name) => '; descarcat ca ' + name,
  notWritten: '; registrul nu a fost scris',
  writeCaption: 'Eroare la scrierea in fisier',
  inUse: 'Fisierul este in uz sau este protejat la scriere',
  changed: (name) => 'Fisierul "' + name + '" a fost schimbat de alt program dupa ce a fost citit; ' +
      'nu a fost scris nimic',
  refused: (name) => 'Scrierea in fisierul "' + name + '" nu a fost permisa; registrul a fost descarcat',
  failed: (name, why) => 'Fisierul "' + name + '" nu a putut fi salvat: ' + why,
  unreadable: (name, why) => 'Fisierul "' + name + '" nu poate fi citit: ' + why,
  buttons: {1: 'OK', 3: 'Abandon', 4: 'Reincercare', 5: 'Ignorare'},
  reopen: 'Calculul indicilor',
  report: 'Raportul',
  downloadReport: 'Descarca raportul',
};

// The workbook in memory: its folder, its path there, its name, and where it came from.
let current = null;
let choices = 0;
let patterns = ['*.xls', '*.xlsx', '*.xlsm', '*.ods'];

const Page = {
  label(control, text) {
    if (control === Control.Title) document.title = text;
    else if (control === Control.Caption) byId('titlu').textContent = text;
    else if (control === Control.Frame) byId('sursa').textContent = text;
    else if (control === Control.SheetLabel) byId('eticheta').textContent = text;
    else if (control === Control.FileButton) byId('fisier-buton').textContent = text;
    else if (control === Control.EstimatesBox || control === Control.AllSheetsBox ||
             control === Control.IncidenceBox) {
      // "&" marks the access key, as in the desktop windows.
      const at = text.indexOf('&');
      const key = at >= 0 ? text[at + 1] : '';
      const label = byId(ids[control] + '-text');
      label.textContent = '';
      label.append(text.slice(0, at >= 0 ? at : text.length));
      if (key) {
        const u = document.createElement('u');
        u.textContent = key;
        label.append(u, text.slice(at + 2));
        element(control).accessKey = key.toLowerCase();
      }
    } else element(control).textContent = text;
  },
  filters(list) {
    patterns = list;
    byId('fisier').accept = list.map((p) => p.replace('*', '')).join(',');
  },
  // A modal box; its buttons close it. The module does not wait for the answer (see WebIndici.cpp).
  message(text, caption, abortRetryIgnore, detail) {
    queue.push({text: shown(text), caption, buttons: abortRetryIgnore ? [3, 4, 5] : [1], detail: shown(detail)});
    if (queue.length === 1) nextBox();
    return abortRetryIgnore ? 5 : 1;
  },
  text(control, text) {
    if (control === Control.PathBox) element(control).value = shown(text);
    else element(control).textContent = text;
    if (control === Control.Status) element(control).title = text;
  },
  enabled(control, enabled) {
    if (control === Control.FileButton) byId('fisier-buton').classList.toggle('disabled', !enabled);
    element(control).disabled = !enabled;
  },
  items(control, list, selected) {
    const select = element(control);
    select.replaceChildren(...list.map((name) => new Option(name, name)));
    select.selectedIndex = selected;
  },
  focus(control) {
    element(control).focus();
  },
  busy(on) {
    document.body.classList.toggle('busy', on);
  },
  close() {
    byId('fereastra').hidden = true;
    byId('redeschide').hidden = false;
    byId('redeschide').focus();
  },
  checked(control, on) {
    element(control).checked = on;
  },
  document(path) {
    const html = Module.FS.readFile(path, {encoding: 'utf8'});
    const frame = byId('raport-cadru');
    frame.srcdoc = html;
    byId('raport').hidden = false;
    const link = byId('raport-descarca');
    if (link.href) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(new Blob([html], {type: 'text/html'}));
    link.download = path.slice(path.lastIndexOf('/') + 1);
  },
  flag(key, fallback) {
    try {
      const v = localStorage.getItem('ordana.' + key);
      return v === null ? fallback : v === '1';
    } catch (e) {
      return fallback;
    }
  },
  setFlag(key, value) {
    try {
      localStorage.setItem('ordana.' + key, value ? '1' : '0');
    } catch (e) { /* a browser that keeps nothing for files opened from the disk */ }
  },
};

// The path of a workbook in memory means nothing to the user: texts show its name alone.
function shown(text) {
  return current ? text.split(current.folder + '/').join('') : text;
}

// Boxes shown one after another, each modal.
const queue = [];
function nextBox() {
  const box = queue[0];
  if (!box) return;
  const dialog = byId('mesaj');
  byId('mesaj-titlu').textContent = box.caption;
  byId('mesaj-text').textContent = box.text.replace(/\r\n/g, '\n');
  byId('mesaj-detaliu').textContent = box.detail;
  byId('mesaj-detaliu').hidden = !box.detail;
  const row = byId('mesaj-butoane');
  row.replaceChildren(...box.buttons.map((answer) => {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = texts.buttons[answer];
    b.dataset.answer = answer;
    b.addEventListener('click', () => {
      dialog.close();
      queue.shift();
      nextBox();
    });
    return b;
  }));
  dialog.showModal();
  row.firstChild.focus();
}

// Puts the bytes of a chosen file in memory and runs the file command on them. handle: the file's handle
// from the browser's picker or a drop, through which the workbook can be saved in place.
async function choose(file, handle) {
  let bytes;
  try {
    bytes = new Uint8Array(await file.arrayBuffer());
  } catch (e) {
    Page.message(texts.unreadable(file.name, e.message), texts.writeCaption, false, '');
    return;
  }
  const previous = current;
  const folder = '/registre/' + ++choices;
  Module.FS.mkdirTree(folder);
  const path = folder + '/' + file.name;
  // The bytes are the page's own: the file system keeps them rather than a copy.
  Module.FS.writeFile(path, bytes, {canOwn: true});
  current = {folder, path, name: file.name, handle, lastModified: file.lastModified, size: file.size};
  command(() => Module.ccall('ordana_file_chosen', null, ['string'], [path]));
  // The earlier workbook is no longer the logic's: its memory goes.
  if (previous) removeFolder(previous.folder);
}

function cancelled() {
  command(() => Module._ordana_file_chosen(0));
}

function removeFolder(folder) {
  const FS = Module.FS;
  for (const name of FS.readdir(folder)) {
    if (name !== '.' && name !== '..') FS.unlink(folder + '/' + name);
  }
  FS.rmdir(folder);
}

// The workbook's version in memory, to tell whether a command saved it.
function stamp() {
  try {
    const st = Module.FS.stat(current.path);
    return st.ino + ':' + st.mtime.getTime() + ':' + st.size;
  } catch (e) {
    return '';
  }
}

function command(body) {
  body();
}

async function calculate() {
  const workbook = current;
  // Asked before the job, while the click still counts as the user's: a long job would outlast it.
  let permission = 'none';
  if (workbook && workbook.handle) {
    try {
      permission = await workbook.handle.queryPermission({mode: 'readwrite'});
      if (permission !== 'granted') permission = await workbook.handle.requestPermission({mode: 'readwrite'});
    } catch (e) {
      permission = 'denied';
    }
  }
  const before = workbook && stamp();
  command(() => Module._ordana_calculate());
  if (workbook && workbook === current && stamp() !== before) await handBack(workbook, permission);
}

// The saved workbook's bytes as the file system holds them: a view, not a copy, which on a large workbook
// took longer than the job. A later save writes a new file and leaves these bytes as they are.
function savedBytes(path) {
  const node = Module.FS.lookupPath(path).node;
  return node.contents instanceof Uint8Array ? node.contents.subarray(0, node.usedBytes) : Module.FS.readFile(path);
}

// The saved workbook back on the user's disk, and the status text says how.
async function handBack(workbook, permission) {
  const bytes = savedBytes(workbook.path);
  const status = byId('stare');
  const said = status.textContent;
  const say = (what) => { status.textContent = status.title = said + what; };
  if (workbook.handle) {
    try {
      if (permission === 'granted') {
        // What another program saved since the file was read is never overwritten.
        const now = await workbook.handle.getFile();
        if (now.lastModified !== workbook.lastModified || now.size !== workbook.size) {
          Page.message(texts.inUse, texts.writeCaption, false, texts.changed(workbook.name));
          say(texts.notWritten);
          return;
        }
        // The browser writes a new file beside it and puts it in place when closed: all or nothing.
        const writable = await workbook.handle.createWritable();
        try {
          await writable.write(bytes);
          await writable.close();
        } catch (e) {
          await writable.abort().catch(() => {});
          throw e;
        }
        const saved = await workbook.handle.getFile();
        workbook.lastModified = saved.lastModified;
        workbook.size = saved.size;
        say(texts.savedInPlace);
        return;
      }
      Page.message(texts.inUse, texts.writeCaption, false, texts.refused(workbook.name));
    } catch (e) {
      Page.message(texts.inUse, texts.writeCaption, false, texts.failed(workbook.name, e.message));
      say(texts.notWritten);
      return;
    }
  }
  download(bytes, workbook.name);
  say(texts.downloaded(workbook.name));
}

function download(bytes, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes], {type: 'application/octet-stream'}));
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// The browser's own picker where it has one that gives a handle to write back through.
async function pickWithHandle() {
  let handle;
  try {
    [handle] = await window.showOpenFilePicker({
      types: [{description: byId('fisier-buton').textContent,
               accept: {'application/octet-stream': patterns.map((p) => p.replace('*', ''))}}],
      excludeAcceptAllOption: false,
    });
  } catch (e) {
    if (e.name === 'AbortError') cancelled();
    else Page.message(texts.unreadable('', e.message), texts.writeCaption, false, '');
    return;
  }
  await choose(await handle.getFile(), handle);
}

function wire() {
  byId('redeschide').textContent = texts.reopen;
  byId('raport-titlu').textContent = texts.report;
  byId('raport-descarca').textContent = texts.downloadReport;
  const input = byId('fisier');
  input.addEventListener('click', (event) => {
    if (typeof window.showOpenFilePicker === 'function') {
      event.preventDefault();
      pickWithHandle();
    }
  });
  input.addEventListener('change', () => {
    const file = input.files[0];
    input.value = '';
    if (file) choose(file, null);
  });
  input.addEventListener('cancel', cancelled);
  byId('foaia').addEventListener('change', (e) => command(() => Module._ordana_sheet_chosen(e.target.selectedIndex)));
  byId('prelucrare').addEventListener('click', calculate);
  byId('inchide').addEventListener('click', () => command(() => Module._ordana_cancel()));
  byId('estimatori').addEventListener('change', (e) => Module._ordana_estimates(e.target.checked ? 1 : 0));
  byId('toatefoile').addEventListener('change', (e) => Module._ordana_all_sheets(e.target.checked ? 1 : 0));
  byId('incidenta').addEventListener('change', (e) => Module._ordana_incidence(e.target.checked ? 1 : 0));
  byId('redeschide').addEventListener('click', () => {
    byId('redeschide').hidden = true;
    byId('fereastra').hidden = false;
    byId('raport').hidden = true;
    Module._ordana_show();
  });
  // A workbook dropped anywhere on the page; Chromium gives a handle to save it in place through.
  document.addEventListener('dragover', (e) => e.preventDefault());
  document.addEventListener('drop', async (e) => {
    e.preventDefault();
    if (byId('fereastra').hidden || byId('mesaj').open) return;
    const item = [...e.dataTransfer.items].find((i) => i.kind === 'file');
    if (!item) return;
    const handle = typeof item.getAsFileSystemHandle === 'function' ? item.getAsFileSystemHandle() : null;
    const file = item.getAsFile();
    const resolved = handle ? await handle.catch(() => null) : null;
    await choose(file, resolved && resolved.kind === 'file' ? resolved : null);
  });
}

Module.preRun = [wire];
globalThis.Page = Page;
}
