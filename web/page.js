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
  // The conversions whose accented letters may be converted, and the set each writes them in.
  const WRITTEN_CHARSET = { mac2win: 'Windows-1252', win2mac: 'Mac OS Roman' };

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

  // The library's first look at the book: its edition ("mac" or "win"), the character set its letters
  // are read in, and whether it holds letters beyond ASCII.
  function lookAt(module, bytes) {
    const unknown = { edition: 'mac', readAs: '', beyondAscii: false };
    const slots = module._malloc(8);
    if (slots === 0) {
      return unknown;
    }
    try {
      const edition = withBytes(module, bytes,
                                (pointer) => module._ferryline_web_look(pointer, bytes.length, slots, slots + 4));
      if (edition === null) {
        return unknown;
      }
      const [readAs, beyondAscii] = new Uint32Array(module.HEAPU8.buffer, slots, 2);
      return { edition: readCString(module, edition), readAs: readCString(module, readAs), beyondAscii: beyondAscii === 1 };
    } finally {
      module._free(slots);
    }
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
             changes: [], questionMarks: 0 };
  }

  // The warning a conversion (or an import) into either edition gives when letters became '?'.
  function questionMarkWarning(count, direction) {
    const written = direction.endsWith('2win') ? 'Windows-1252' : 'Mac OS Roman';
    return `In ${count} ${count === 1 ? 'entry' : 'entries'}, letters that ${written} ` +
           'can\'t hold became "?".';
  }

  function collect(module, result, entry) {
    const status = readCString(module, module._ferryline_web_status(result));
    const ok = status === 'ok';
    const messages = [];
    const count = module._ferryline_web_message_count(result);
    for (let i = 0; i < count; ++i) {
      messages.push(readCString(module, module._ferryline_web_message(result, i)));
    }
    const questionMarks = module._ferryline_web_question_marks(result);
    if (ok && questionMarks > 0) {
      messages.push(questionMarkWarning(questionMarks, entry.name));
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
    return { ok, status, output, messages, changes, questionMarks };
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
          return collect(module, result, entry);
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
  const state = { name: '', bytes: null, edition: '', readAs: '', beyondAscii: false, offersRecode: false, saveUrl: '' };

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

  // Before a book is chosen, each kind of result is shown once; then those for the book's edition.
  function showDirections(directions) {
    const list = element('direction-list');
    list.textContent = '';
    let first = true;
    const shown = new Set();
    for (const entry of directions) {
      const kind = `${entry.label} (.${entry.extension})`;
      const fits = state.edition === '' ? !shown.has(kind) : entry.from === state.edition;
      shown.add(kind);
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
      radio.addEventListener('change', showOptions);
      first = first && !(fits && state.edition !== '');
      const label = document.createElement('label');
      label.htmlFor = radio.id;
      label.textContent = kind;
      row.append(radio, label);
      list.append(row);
    }
    element('directions').disabled = state.edition === '';
    element('convert').disabled = state.edition === '';
    showOptions();
  }

  // The options that apply to the chosen conversion, and what the page assumes of the book's letters.
  function showOptions() {
    const chosen = document.querySelector('input[name="direction"]:checked');
    const direction = chosen === null ? '' : chosen.value;
    const recodes = direction in WRITTEN_CHARSET;
    element('recode-option').hidden = !state.offersRecode || !recodes;
    element('vcard-option').hidden = !direction.endsWith('vcf');
    element('csv-option').hidden = !direction.endsWith('csv');
    const letters = element('letters');
    letters.hidden = direction === '' || !state.beyondAscii;
    if (!recodes) {
      letters.textContent = `Accented letters are read as ${state.readAs} and written as UTF-8.`;
    } else if (element('recode').checked) {
      letters.textContent = `Accented letters are read as ${state.readAs} and written as ${WRITTEN_CHARSET[direction]}.`;
    } else {
      letters.textContent = 'Accented letters are copied byte for byte: they will read as other letters in the ' +
                            'other edition.';
    }
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
    const look = lookAt(module, state.bytes);
    state.edition = importKindOf(file.name, state.bytes) || look.edition;
    state.readAs = look.readAs;
    // A book with accented letters has them converted unless the user says otherwise; the imports read
    // their files' UTF-8 as it is.
    state.beyondAscii = look.beyondAscii && state.edition === look.edition;
    element('recode').checked = state.beyondAscii;
    element('edition').textContent =
      `${file.name} (${formatSize(state.bytes.length)}) is ${EDITION_NAME[state.edition]}.`;
    showDirections(directions);
  }

  function showOutcome(outcome, entry) {
    const list = element('messages');
    list.textContent = '';
    const last = outcome.messages.length - 1;
    outcome.messages.forEach((text, index) => {
      const item = document.createElement('li');
      item.textContent = text;
      if (index === last) {
        item.className = outcome.ok ? 'done' : 'error';
      } else if (!outcome.ok) {
        item.className = 'error';
      } else if (index === last - 1 && outcome.questionMarks > 0) {
        item.className = 'warning';
        item.textContent = `${text} The changes below name them.`;
      }
      list.append(item);
    });
    // Nothing was written after a failure, so there are no changes to check.
    const changes = element('changes');
    changes.textContent = '';
    for (const line of outcome.ok ? outcome.changes : []) {
      const item = document.createElement('li');
      item.textContent = line;
      changes.append(item);
    }
    element('changes-summary').textContent = `Changes to check (${changes.childElementCount})`;
    element('changes-box').hidden = changes.childElementCount === 0;
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
      const outcome = await convert(entry.name, state.bytes, {
        recode: element('recode').checked,
        vcard: element('vcard-version').value,
        csv: element('csv-layout').value,
        title: state.name,
      });
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
  element('recode').addEventListener('change', showOptions);
  watchDrops();
  ready.then(({ module, directions }) => {
    state.offersRecode = module._ferryline_web_offers_recode() === 1;
    showDirections(directions);
  });
})();
