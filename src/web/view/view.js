// The page's 3D View: V2bspView.create(container) makes its elements in
// `container` (a toolbar, canvas#view-canvas, the mesh list #view-list, the
// status line #view-status) over its own instance of v2bsp-view.js, the 3D
// View's behaviour and renderer of the windows (src/app) built for the page.
// What the view shows, says and allows is decided there; this file makes the
// elements, hands their events over, and does what the module asks through
// the host object below.
//
//   const view = await V2bspView.create(container);
//   await view.showMap(arrayBuffer, fileName, upAxis);  // "" or why not shown
//   view.clear();
//
// Where the browser gives no WebGL2, the view's place says "3D view
// unavailable: <reason>"; nothing is thrown, and the list and status go on.
'use strict';

window.V2bspView = (() => {
  // What a paint did (app::Painted), as the canvas's data-painted says it
  // last; started and adding want the next frame.
  const kPainted = ['nothing', 'full', 'cheap', 'started', 'adding', 'held'];
  const kStarted = 3, kAdding = 4;
  // The camera's keys (app::ViewKey) by the DOM's key names.
  const kViewKeys = {
    ArrowLeft: 0, ArrowRight: 1, ArrowUp: 2, ArrowDown: 3,
    '+': 4, '=': 4, PageUp: 4, '-': 5, PageDown: 5,
  };
  // The DOM's names of the keys the menu's shortcuts name otherwise.
  const kKeyNames = { Esc: 'Escape', Del: 'Delete' };
  // The context the renderer draws in: the canvas keeps its picture between
  // frames (a large level's parts are added to it), and is not multisampled
  // (a part is blitted into it).
  const kContext = { depth: true, antialias: false, preserveDrawingBuffer: true };

  const thisScript = document.currentScript ? document.currentScript.src : '';

  // The view's styles, beside this file.
  function addStyles() {
    if (document.querySelector('link[data-v2bsp-view]')) return;
    const link = document.createElement('link');
    link.rel = 'stylesheet';
    link.href = new URL('view.css', thisScript || document.baseURI).href;
    link.dataset.v2bspView = '';
    document.head.appendChild(link);
  }

  let moduleLoad = null;
  function loadModule() {
    if (moduleLoad === null) {
      moduleLoad = new Promise((resolve, reject) => {
        if (typeof V2bspViewModule === 'function') return resolve(V2bspViewModule);
        const script = document.createElement('script');
        script.src = new URL('v2bsp-view.js', thisScript || document.baseURI).href;
        script.onload = () => resolve(V2bspViewModule);
        script.onerror = () => reject(new Error('v2bsp-view.js could not be loaded'));
        document.head.appendChild(script);
      });
    }
    return moduleLoad;
  }

  function element(tag, props, parent) {
    const made = document.createElement(tag);
    Object.assign(made, props || {});
    if (parent) parent.appendChild(made);
    return made;
  }

  // The locale's thousands separator, as the windows take the system's.
  function groupSeparator() {
    const group = new Intl.NumberFormat().formatToParts(1000000).find((part) => part.type === 'group');
    return group ? group.value : ',';
  }

  // Why this browser gives the canvas no WebGL2 context, or '' when it does.
  function webgl2Refusal(canvas) {
    if (typeof WebGL2RenderingContext === 'undefined') return 'this browser has no WebGL2';
    let reason = '';
    const heard = (event) => { reason = event.statusMessage || ''; };
    canvas.addEventListener('webglcontextcreationerror', heard);
    const context = canvas.getContext('webgl2', kContext);
    canvas.removeEventListener('webglcontextcreationerror', heard);
    if (context) return '';
    return reason ? 'WebGL2 could not be started: ' + reason : 'this browser gives the page no WebGL2';
  }

  // A menu shortcut's text ("Ctrl+Shift+S", "F") against a key event.
  function matches(shortcut, event) {
    if (!shortcut) return false;
    const parts = shortcut.split('+');
    const key = kKeyNames[parts[parts.length - 1]] || parts[parts.length - 1];
    const mods = new Set(parts.slice(0, -1));
    return event.key.toLowerCase() === key.toLowerCase() &&
      (event.ctrlKey || event.metaKey) === mods.has('Ctrl') &&
      event.shiftKey === mods.has('Shift') && event.altKey === mods.has('Alt');
  }

  class View {
    constructor(container) {
      this.container = container;
      this.commands = [];
      this.buttons = new Map();
      this.enabled = new Map();  // as the behaviour says
      this.shown = false;        // a level is shown
      this.rows = [];
      this.selected = -1;
      this.frameAsked = false;
      this.module = null;
      this.view = 0;
    }

    async start() {
      this.makeElements();
      this.hostObject = this.host();
      this.module = await (await loadModule())({ viewHost: this.hostObject });
      const m = this.module;
      this.view = m.ccall('v2bspViewCreate', 'number', ['string'], [groupSeparator()]);
      this.commands = JSON.parse(m.ccall('v2bspViewCommands', 'string', ['number'], [this.view]));
      this.makeToolbar();
      this.watchSize();
      const refused = webgl2Refusal(this.canvas);
      m.ccall('v2bspViewStart', 'string', ['number', 'string'], [this.view, refused]);
      this.listen();
      this.setTitle('3D View');
      this.showEnabled();
      this.redraw();
    }

    makeElements() {
      addStyles();
      const c = this.container;
      c.classList.add('v2bsp-view');
      this.title = element('h2', { id: 'view-title', textContent: '3D View' }, c);
      this.toolbar = element('div', { id: 'view-toolbar', className: 'view-toolbar' }, c);
      this.toolbar.setAttribute('role', 'toolbar');
      this.toolbar.setAttribute('aria-label', '3D View');
      const body = element('div', { className: 'view-body' }, c);
      this.place = element('div', { className: 'view-place' }, body);
      this.canvas = element('canvas', { id: 'view-canvas', tabIndex: 0 }, this.place);
      // It takes its own keys: arrows, + and -.
      this.canvas.setAttribute('role', 'application');
      this.canvas.setAttribute('aria-roledescription', '3D view');
      this.canvas.setAttribute('aria-label', 'The level: drag to turn it, Shift+drag or middle drag to move it, ' +
        'the wheel, + and - zoom, arrows turn it, Shift+arrows move it; a click picks a mesh');
      const box = element('div', { className: 'view-list' }, body);
      this.list = element('table', { id: 'view-list', tabIndex: 0 }, box);
      this.list.setAttribute('role', 'grid');
      this.list.setAttribute('aria-label', 'Meshes: arrows select, Space shows or hides, Enter frames');
      const head = element('tr', {}, element('thead', {}, this.list));
      for (const [text, cls] of [['Mesh', 'name'], ['Vertices', 'count'], ['Triangles', 'count']]) {
        element('th', { textContent: text, className: cls, scope: 'col' }, head);
      }
      this.body = element('tbody', {}, this.list);
      this.status = element('div', { id: 'view-status', className: 'view-status' }, c);
      this.status.setAttribute('role', 'status');
    }

    makeToolbar() {
      for (const command of this.commands) {
        const button = element('button', { type: 'button', id: 'view-' + command.name, textContent: command.caption },
          this.toolbar);
        const keys = [command.shortcut, command.alternate].filter((key) => key).join(' or ');
        button.title = (command.tip ? command.tip + ' ' : '') + (keys ? '(' + keys + ')' : '');
        if (keys) button.setAttribute('aria-keyshortcuts', keys.replace(/Ctrl/g, 'Control').replace(' or ', ' '));
        if (command.checkable) button.setAttribute('aria-pressed', String(command.checked));
        button.addEventListener('click', () => this.command(command.name));
        this.buttons.set(command.name, button);
      }
    }

    // What the module asks of the page (viewhost.cpp's page* functions).
    host() {
      return {
        canvas: this.canvas,
        setTitle: (title) => this.setTitle(title),
        setRows: (rows) => this.setRows(rows),
        selectRow: (row) => this.selectRow(row),
        setStatus: (text) => { this.status.textContent = text; this.status.title = text; },
        enableCommand: (name, on) => { this.enabled.set(name, on); this.showEnabled(); },
        checkCommand: (name, on) => {
          const button = this.buttons.get(name);
          if (button) button.setAttribute('aria-pressed', String(on));
        },
        showUnavailable: (text) => this.showUnavailable(text),
        redraw: () => this.redraw(),
        downloadPicture: (rgba, width, height, name) => this.download(rgba, width, height, name),
      };
    }

    setTitle(title) {
      this.title.textContent = title;
      this.container.setAttribute('aria-label', title);
    }

    showEnabled() {
      for (const [name, button] of this.buttons) {
        button.disabled = !this.shown || this.enabled.get(name) === false;
      }
    }

    showUnavailable(text) {
      this.canvas.remove();
      this.unavailable = element('p', { id: 'view-unavailable', className: 'view-unavailable', textContent: text },
        this.place);
    }

    setRows(rows) {
      this.rows = rows;
      this.selected = -1;
      this.list.removeAttribute('aria-activedescendant');
      const made = document.createDocumentFragment();
      rows.forEach((row, index) => {
        const tr = element('tr', { id: 'view-row-' + index }, made);
        tr.setAttribute('aria-selected', 'false');
        const name = element('td', { className: 'name', id: 'view-row-' + index + '-name' }, tr);
        const label = element('label', {}, name);
        const box = element('input', { type: 'checkbox', checked: true, tabIndex: -1 }, label);
        box.setAttribute('aria-label', 'Show ' + row.name);
        box.addEventListener('change', () => this.call('v2bspViewRowChecked', index, box.checked ? 1 : 0));
        const swatch = element('span', { className: 'swatch' }, label);
        swatch.style.background = 'rgb(' + row.colour.join(',') + ')';
        element('span', { textContent: row.name }, label);
        element('td', { className: 'count', textContent: row.vertices }, tr);
        element('td', { className: 'count', textContent: row.triangles }, tr);
        tr.addEventListener('click', (event) => {
          if (event.target.tagName !== 'INPUT') this.chooseRow(index);
        });
        tr.addEventListener('dblclick', (event) => {
          if (event.target.tagName !== 'INPUT') this.call('v2bspViewRowActivated', index);
        });
      });
      this.body.replaceChildren(made);
    }

    // Selects row `row` (-1: none) and shows it, without telling the module.
    selectRow(row) {
      const before = this.body.children[this.selected];
      if (before) before.setAttribute('aria-selected', 'false');
      this.selected = row;
      const now = this.body.children[row];
      if (!now) {
        this.list.removeAttribute('aria-activedescendant');
        return;
      }
      now.setAttribute('aria-selected', 'true');
      this.list.setAttribute('aria-activedescendant', now.cells[0].id);
      now.scrollIntoView({ block: 'nearest' });
    }

    chooseRow(row) {
      this.selectRow(row);
      this.call('v2bspViewRowSelected', row);
    }

    call(name, ...numbers) {
      return this.module.ccall(name, 'number', ['number', ...numbers.map(() => 'number')], [this.view, ...numbers]);
    }

    command(name) {
      this.module.ccall('v2bspViewCommand', 'number', ['number', 'string'], [this.view, name]);
    }

    // One frame a call, and the next while a large level's picture comes in parts.
    redraw() {
      if (this.frameAsked || !this.module) return;
      this.frameAsked = true;
      requestAnimationFrame(() => {
        this.frameAsked = false;
        const painted = this.call('v2bspViewPaint');
        this.canvas.dataset.painted = kPainted[painted];
        if (painted === kStarted || painted === kAdding) this.redraw();
      });
    }

    watchSize() {
      const fit = () => {
        const box = this.canvas.getBoundingClientRect();
        const cssWidth = Math.max(1, Math.round(box.width)), cssHeight = Math.max(1, Math.round(box.height));
        const ratio = window.devicePixelRatio || 1;
        const width = Math.max(1, Math.round(box.width * ratio)), height = Math.max(1, Math.round(box.height * ratio));
        if (this.canvas.width !== width) this.canvas.width = width;
        if (this.canvas.height !== height) this.canvas.height = height;
        this.call('v2bspViewResize', cssWidth, cssHeight, width, height);
        this.redraw();
      };
      new ResizeObserver(fit).observe(this.canvas);
      fit();
    }

    listen() {
      const c = this.canvas;
      const at = (event) => {
        const box = c.getBoundingClientRect();
        return [Math.round(event.clientX - box.left), Math.round(event.clientY - box.top)];
      };
      c.addEventListener('pointerdown', (event) => {
        c.focus();
        c.setPointerCapture(event.pointerId);
        this.call('v2bspViewPointerPressed', event.button, ...at(event), event.shiftKey ? 1 : 0);
        if (event.button === 1) event.preventDefault();
      });
      c.addEventListener('pointermove', (event) => this.call('v2bspViewPointerMoved', ...at(event)));
      c.addEventListener('pointerup', (event) => this.call('v2bspViewPointerReleased', event.button, ...at(event)));
      c.addEventListener('pointercancel', () => this.call('v2bspViewPointerLost'));
      // The second press of a double-click frames the level, and its release picks nothing.
      c.addEventListener('mousedown', (event) => {
        if (event.button !== 0 || event.detail !== 2) return;
        this.call('v2bspViewPointerLost');
        this.call('v2bspViewDoubleClicked');
      });
      c.addEventListener('wheel', (event) => {
        event.preventDefault();
        const perNotch = event.deltaMode === 0 ? 100 : event.deltaMode === 1 ? 3 : 1;
        this.call('v2bspViewWheel', ...at(event), -event.deltaY / perNotch);
      }, { passive: false });
      c.addEventListener('contextmenu', (event) => event.preventDefault());
      c.addEventListener('keydown', (event) => {
        const key = kViewKeys[event.key];
        if (key === undefined || event.ctrlKey || event.altKey || event.metaKey) return;
        if (this.call('v2bspViewKey', key, event.shiftKey ? 1 : 0)) event.preventDefault();
      });
      c.addEventListener('webglcontextlost', (event) => {
        event.preventDefault();
        this.call('v2bspViewContextLost');
      });
      c.addEventListener('webglcontextrestored', () => this.call('v2bspViewContextRestored'));
      this.list.addEventListener('keydown', (event) => this.listKey(event));
      // The menu's keys work wherever the focus is in the view, as in the windows.
      this.container.addEventListener('keydown', (event) => {
        if (event.defaultPrevented) return;
        for (const command of this.commands) {
          if (!matches(command.shortcut, event) && !matches(command.alternate, event)) continue;
          const button = this.buttons.get(command.name);
          if (button && button.disabled) return;
          event.preventDefault();
          this.command(command.name);
          return;
        }
      });
    }

    listKey(event) {
      const count = this.rows.length;
      if (count === 0) return;
      const moves = { ArrowDown: this.selected + 1, ArrowUp: this.selected - 1, Home: 0, End: count - 1,
        PageDown: this.selected + 10, PageUp: this.selected - 10 };
      if (event.key in moves && !event.ctrlKey && !event.altKey) {
        event.preventDefault();
        this.chooseRow(Math.min(count - 1, Math.max(0, moves[event.key])));
      } else if (event.key === ' ' && this.selected >= 0) {
        event.preventDefault();
        const box = this.body.children[this.selected].querySelector('input');
        box.checked = !box.checked;
        box.dispatchEvent(new Event('change'));
      } else if (event.key === 'Enter' && this.selected >= 0) {
        event.preventDefault();
        this.call('v2bspViewRowActivated', this.selected);
      }
    }

    download(rgba, width, height, name) {
      const canvas = element('canvas', { width, height });
      canvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(rgba.buffer), width, height), 0, 0);
      canvas.toBlob((blob) => {
        const link = element('a', { href: URL.createObjectURL(blob), download: name });
        document.body.appendChild(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(link.href), 60000);
      }, 'image/png');
    }

    async showMap(arrayBuffer, fileName, upAxis) {
      const bytes = new Uint8Array(arrayBuffer);
      const m = this.module;
      const at = m._malloc(Math.max(1, bytes.length));
      if (!at) {
        this.clear();
        const failure = 'There is not enough memory to show ' + fileName + ' (' + bytes.length + ' bytes)';
        this.hostObject.setStatus(failure);
        return failure;
      }
      m.HEAPU8.set(bytes, at);
      let failure;
      try {
        failure = m.ccall('v2bspViewShowMap', 'string', ['number', 'number', 'number', 'string', 'number'],
          [this.view, at, bytes.length, fileName, upAxis === 'z' ? 1 : 0]);
      } finally {
        m._free(at);
      }
      this.shown = failure === '';
      this.showEnabled();
      return failure;
    }

    clear() {
      this.call('v2bspViewClear');
      this.shown = false;
      this.showEnabled();
    }
  }

  return {
    async create(container) {
      const view = new View(container);
      await view.start();
      return {
        showMap: (arrayBuffer, fileName, upAxis) => view.showMap(arrayBuffer, fileName, upAxis),
        clear: () => view.clear(),
      };
    },
  };
})();
