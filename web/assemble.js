// Puts the page together: page.html with its style, the WebAssembly module's script, the module's
// bytes (base64) and the page's own script inline, so the one file needs nothing beside it.
'use strict';
const fs = require('fs');

function parseArguments(argv) {
  const options = {};
  for (let i = 0; i + 1 < argv.length; i += 2) {
    options[argv[i].replace(/^--/, '')] = argv[i + 1];
  }
  for (const name of ['html', 'css', 'script', 'module', 'wasm', 'version', 'out']) {
    if (!options[name]) {
      throw new Error(`assemble.js: --${name} is missing`);
    }
  }
  return options;
}

// Inline script must not close its own element early.
function inlineScript(text, name) {
  if (/<\/script/i.test(text)) {
    throw new Error(`assemble.js: ${name} contains "</script" and cannot go inline`);
  }
  return text;
}

function assemble(options) {
  const parts = {
    '/*@STYLE@*/': fs.readFileSync(options.css, 'utf8'),
    '/*@MODULE@*/': inlineScript(fs.readFileSync(options.module, 'utf8'), options.module),
    '@WASM@': fs.readFileSync(options.wasm).toString('base64'),
    '/*@SCRIPT@*/': inlineScript(fs.readFileSync(options.script, 'utf8'), options.script),
    '@VERSION@': options.version,
  };
  const template = fs.readFileSync(options.html, 'utf8');
  for (const marker of Object.keys(parts)) {
    if (template.split(marker).length !== 2) {
      throw new Error(`assemble.js: ${options.html} must hold ${marker} exactly once`);
    }
  }
  // One pass over the template, so nothing inserted is ever taken for a marker.
  const markers = /\/\*@(?:STYLE|MODULE|SCRIPT)@\*\/|@(?:WASM|VERSION)@/g;
  const page = template.replace(markers, (marker) => parts[marker]);
  fs.writeFileSync(options.out, page);
}

try {
  assemble(parseArguments(process.argv.slice(2)));
} catch (error) {
  console.error(error.message);
  process.exit(1);
}
