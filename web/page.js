// The page: window.ferryline over the WebAssembly module, and the controls that use it.
'use strict';
(function () {
  // What the Windows program says after a conversion, after the converter's own messages.
  const CONVERTED = 'Conversion successful';
  const NOT_CONVERTED = 'An error occurred while converting the file';
  const NO_MEMORY = 'Could not allocate memory to read file';
  const EDITION_NAME = {
    mac: 'a Macintosh address book (text)',
    win: 'a Windows address book (W95)',
    vcf: 'a vCard file, to bring into either edition',
    csv: 'a CSV file of contacts, to bring into either edition',
  };

  function embeddedWasm() {
    const text = document.getElementById('ferryline-wasm').textContent.trim();
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) {
      bytes[i] = binary.charCodeAt(i);
    }
    return bytes;
  }

  // The module gets its bytes from the page, so it never fetches them.
  const ready = FerrylineModule({ wasmBinary: embeddedWasm() }).then((module) => ({
    module,
    directions: directionTable(module),
  }));

  function readCString(module, pointer) {
    const heap = module.HEAPU8;
    let end = pointer;
    while (heap[end] !== 0) {
      ++end;
    }
    return new TextDecoder().decode(heap.subarray(pointer, end));
  }

  // In the order ferryline_web_direction_field numbers them.
  const DIRECTION_FIELDS = ['name', 'from', 'label', 'extension'];

  function directionTable(module) {
    const table = [];
    const count = module._ferryline_web_direction_count();
    for (let i = 0; i < count; ++i) {
      const entry = {};
      DIRECTION_FIELDS.forEach((field, number) => {
        entry[field] = readCString(module, module._ferryline_web_direction_field(i, number));
      });
      table.push(entry);
    }
    return table;
  }

  // Copies `bytes` into the module's memory for `use(pointer)` and releases them again; null when the
  // module has no memory for them.
  function withBytes(module, bytes, use) {
    const pointer = module._malloc(Math.max(bytes.length, 1));
    if (pointer === 0) {
      return null;
    }
    try {
      module.HEAPU8.set(bytes, pointer);
      return use(pointer);
    } finally {
      module._free(pointer);
    }
  }

  function withText(module, text, use) {
    const bytes = new TextEncoder().encode(text);
    const terminated = new Uint8Array(bytes.length + 1);
    terminated.set(bytes);
    return withBytes(module, terminated, use);
  }

  // Which edition the book is, from its content: "mac" or "win".
  function editionOf(module, bytes) {
    const edition = withBytes(module, bytes, (pointer) => module._ferryline_web_edition(pointer, bytes.length));
    return edition === null ? 'mac' : readCString(module, edition);
  }

  // A vCard or CSV file, by its first line or its name: "vcf", "csv", or '' for neither.
  function importKindOf(name, bytes) {
    const head = bytes.subarray(0, 4096);
    const wide = head.length > 1 && ((head[0] === 0xff && head[1] === 0xfe) || (head[0] === 0xfe && head[1] === 0xff));
    const encoding = wide ? (head[0] === 0xff ? 'utf-16le' : 'utf-16be') : 'utf-8';
    const firstLine = new TextDecoder(encoding).decode(head).replace(/^\uFEFF/, '').trimStart().split(/\r?\n|\r/)[0];
    if (/^BEGIN:VCARD/i.test(firstLine) || /\.(vcf|vcard)$/i.test(name)) {
      return 'vcf';
    }
    return /E-mail/i.test(firstLine) && firstLine.includes(',') || /\.csv$/i.test(name) ? 'csv' : '';
  }

  function failure(message) {
    return { ok: false, status: 'no-memory', output: new Uint8Array(0), messages: [message, NOT_CONVERTED],
             changes: [] };
  }

  function collect(module, result) {
    const status = readCString(module, module._ferryline_web_status(result));
    const ok = status === 'ok';
    const messages = [];
    const count = module._ferryline_web_message_count(result);
    for (let i = 0; i < count; ++i) {
      messages.push(readCString(module, module._ferryline_web_message(result, i)));
    }
    messages.push(ok ? CONVERTED : NOT_CONVERTED);
    const outputAt = module._ferryline_web_output(result);
    const output = ok ? module.HEAPU8.slice(outputAt, outputAt + module._ferryline_web_output_size(result))
                      : new Uint8Array(0);
    const changesAt = module._ferryline_web_changes(result);
    // The library tells changes in UTF-8, whatever the book's character set.
    const changesText = new TextDecoder().decode(
      module.HEAPU8.subarray(changesAt, changesAt + module._ferryline_web_changes_size(result)));
    const changes = changesText === '' ? [] : changesText.replace(/\n$/, '').split('\n');
    return { ok, status, output, messages, changes };
  }

  // The words of the export options, as the command line's --vcard and --csv take them, and the
  // library's numbers for them (0: the default).
  const VCARD_VERSIONS = { '3.0': 3, '4.0': 4 };
  const CSV_LAYOUTS = { outlook: 0, google: 1 };

  function chosenNumber(choices, word, option) {
    if (word === undefined) {
      return 0;
    }
    if (!Object.prototype.hasOwnProperty.call(choices, word)) {
      throw new RangeError(`ferryline.convert: ${option} "${word}" is not one of ` + Object.keys(choices).join(', '));
    }
    return choices[word];
  }

  // Converts `bytes` (a Uint8Array) the way `direction` names ("mac2win", "win2mac", ...). Options:
  // `recode` (convert accented letters, where offered), `vcard` ('3.0' or '4.0'), `csv` ('outlook' or
  // 'google') and `title` (the name messages give the input).
  async function convert(direction, bytes, options) {
    if (!(bytes instanceof Uint8Array)) {
      throw new TypeError('ferryline.convert: bytes must be a Uint8Array');
    }
    const { module, directions } = await ready;
    const entry = directions.find((candidate) => candidate.name === direction);
    if (entry === undefined) {
      throw new RangeError(`ferryline.convert: there is no conversion "${direction}"; there are ` +
                           directions.map((candidate) => candidate.name).join(', '));
    }
    const settings = options || {};
    const vcardVersion = chosenNumber(VCARD_VERSIONS, settings.vcard, 'vcard');
    const csvLayout = chosenNumber(CSV_LAYOUTS, settings.csv, 'csv');
    const title = String(settings.title || 'book');
    const outcome = withText(module, entry.name, (namePointer) => withText(module, title, (titlePointer) =>
      withBytes(module, bytes, (input) => {
        const result = module._ferryline_web_convert(namePointer, input, bytes.length, titlePointer,
                                                     settings.recode ? 1 : 0, vcardVersion, csvLayout);
        if (result === 0) {
          return null;
        }
        try {
          return collect(module, result);
        } finally {
          module._ferryline_web_free(result);
        }
      })));
    return outcome === null ? failure(NO_MEMORY) : outcome;
  }

  window.ferryline = Object.freeze({
    version: document.querySelector('meta[name="ferryline-version"]').content,
    convert,
  });

  // ---- The page's controls ----

  const element = (id) => document.getElementById(id);
  const state = { name: '', bytes: null, edition: '', saveUrl: '' };

  // book.txt gives book.cv, book.cv gives book.txt, and so on; a name without extension keeps its name.
  function resultName(inputName, extension) {
    const stem = inputName.replace(/(.)\.[^.\\/]*$/, '$1') || 'book';
    return `${stem}.${extension}`;
  }

  function formatSize(bytes) {
    if (bytes < 1000) {
      return `${bytes} bytes`;
    }
    return bytes < 1000000 ? `${(bytes / 1000).toFixed(1)} kB` : `${(bytes / 1000000).toFixed(1)} MB`;
  }

  function forgetResult() {
    if (state.saveUrl !== '') {
      URL.revokeObjectURL(state.saveUrl);
      state.saveUrl = '';
    }
    const save = element('save');
    save.removeAttribute('href');
    element('save-row').hidden = true;
    element('outcome').hidden = true;
  }

  function showDirections(directions) {
    const list = element('direction-list');
    list.textContent = '';
    let first = true;
    for (const entry of directions) {
      const fits = state.edition === '' || entry.from === state.edition;
      const row = document.createElement('div');
      row.className = 'choice';
      row.hidden = !fits;
      const radio = document.createElement('input');
      radio.type = 'radio';
      radio.name = 'direction';
      radio.id = `direction-${entry.name}`;
      radio.value = entry.name;
      radio.disabled = !fits;
      radio.checked = fits && state.edition !== '' && first;
      first = first && !(fits && state.edition !== '');
      const label = document.createElement('label');
      label.htmlFor = radio.id;
      label.textContent = `${entry.label} (.${entry.extension})`;
      row.append(radio, label);
      list.append(row);
    }
    element('directions').disabled = state.edition === '';
    element('convert').disabled = state.edition === '';
  }

  async function chooseBook(file) {
    forgetResult();
    const { module, directions } = await ready;
    state.name = file.name;
    try {
      state.bytes = new Uint8Array(await file.arrayBuffer());
    } catch (error) {
      state.bytes = null;
      state.edition = '';
      element('edition').textContent = `Could not read the file ${file.name}`;
      showDirections(directions);
      return;
    }
    state.edition = importKindOf(file.name, state.bytes) || editionOf(module, state.bytes);
    element('edition').textContent =
      `${file.name} (${formatSize(state.bytes.length)}) is ${EDITION_NAME[state.edition]}.`;
    showDirections(directions);
  }

  function showOutcome(outcome, entry) {
    const list = element('messages');
    list.textContent = '';
    outcome.messages.forEach((text, index) => {
      const item = document.createElement('li');
      item.textContent = text;
      if (index === outcome.messages.length - 1) {
        item.className = outcome.ok ? 'done' : 'error';
      } else if (!outcome.ok) {
        item.className = 'error';
      }
      list.append(item);
    });
    const changes = element('changes');
    changes.textContent = '';
    for (const line of outcome.changes) {
      const item = document.createElement('li');
      item.textContent = line;
      changes.append(item);
    }
    element('changes-summary').textContent = `Changes to check (${outcome.changes.length})`;
    element('changes-box').hidden = outcome.changes.length === 0;
    if (outcome.ok) {
      const name = resultName(state.name, entry.extension);
      state.saveUrl = URL.createObjectURL(new Blob([outcome.output], { type: 'application/octet-stream' }));
      const save = element('save');
      save.href = state.saveUrl;
      save.download = name;
      save.textContent = `Save ${name}`;
      element('save-row').hidden = false;
    }
    element('outcome').hidden = false;
    element('outcome-heading').focus();
  }

  async function convertChosen() {
    const chosen = document.querySelector('input[name="direction"]:checked');
    if (state.bytes === null || chosen === null) {
      return;
    }
    forgetResult();
    const button = element('convert');
    button.disabled = true;
    const { directions } = await ready;
    const entry = directions.find((candidate) => candidate.name === chosen.value);
    try {
      const outcome = await convert(entry.name, state.bytes, { recode: element('recode').checked, title: state.name });
      showOutcome(outcome, entry);
    } catch (error) {
      // The browser itself gave out (no memory for a copy): say so rather than nothing.
      showOutcome(failure(String(error)), entry);
    } finally {
      button.disabled = false;
    }
  }

  function watchDrops() {
    const drop = element('drop');
    document.addEventListener('dragover', (event) => {
      event.preventDefault();
      drop.classList.add('over');
    });
    document.addEventListener('dragleave', () => drop.classList.remove('over'));
    document.addEventListener('drop', (event) => {
      event.preventDefault();
      drop.classList.remove('over');
      const file = event.dataTransfer.files[0];
      if (file !== undefined) {
        chooseBook(file);
      }
    });
  }

  element('version').textContent = window.ferryline.version;
  element('book').addEventListener('change', (event) => {
    const file = event.target.files[0];
    if (file !== undefined) {
      chooseBook(file);
    }
  });
  element('convert').addEventListener('click', convertChosen);
  watchDrops();
  ready.then(({ module, directions }) => {
    element('recode-option').hidden = module._ferryline_web_offers_recode() !== 1;
    showDirections(directions);
  });
})();
