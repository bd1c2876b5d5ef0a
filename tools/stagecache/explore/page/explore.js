// The explore page: images, overlays, one panel per parameter set generated from the
// server's description of modes and fields, and a recompute after every edit.
'use strict';

const page = {
  schema: null, images: [], sets: [], paramsFile: null, store: false,
  image: 0, answer: null, running: false, again: false, panelSets: [0, 1], treeSet: 0, open: new Set(),
  tab: Array.from(crypto.getRandomValues(new Uint8Array(12)), b => b.toString(16).padStart(2, '0')).join(''),
};

function element(tag, attributes, ...children) {
  const made = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes || {})) {
    if (name.startsWith('on')) made.addEventListener(name.slice(2), value);
    else if (value !== undefined && value !== null && value !== false) made.setAttribute(name, value === true ? '' : value);
  }
  for (const child of children) made.append(child);
  return made;
}

// Calls the server; the answer's JSON or text, or an Error with the server's message.
async function api(path, body, as) {
  const options = {headers: {'X-Explore-Tab': page.tab}};
  if (body !== undefined) {
    options.method = 'POST';
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  if (!response.ok) {
    let message = 'HTTP ' + response.status;
    try { message = (await response.json()).error || message; } catch (ignored) { /* not JSON */ }
    throw new Error(message);
  }
  return as === 'text' ? response.text() : response.json();
}

function status(text, failed) {
  const shown = document.getElementById('status');
  shown.textContent = text;
  shown.classList.toggle('error', !!failed);
}

// --- images -------------------------------------------------------------------------

function showImages() {
  const list = document.getElementById('images');
  list.replaceChildren(...page.images.map(image => element('button', {
    type: 'button', class: image.index === page.image ? 'chosen' : null, 'data-image': image.index,
    onclick: () => chooseImage(image.index),
  }, element('img', {src: '/api/images/' + image.index + '/small', alt: '', loading: 'lazy'}),
     element('span', {}, image.name))));
}

function chooseImage(index) {
  page.image = index;
  page.answer = null;
  showImages();
  recompute();
}

// --- overlays -----------------------------------------------------------------------

const svgSpace = 'http://www.w3.org/2000/svg';

function showOverlays() {
  const answer = page.answer;
  document.getElementById('image-title').textContent =
      page.images[answer.image].name + ' (' + answer.width + ' \u00d7 ' + answer.height + ')';
  document.getElementById('overlay-groups').innerHTML = answer.sets.map(set => set.overlay).join('');
  ['p1', 'p2'].forEach((id, p) => {
    const panel = document.getElementById(id);
    if (page.panelSets[p] >= answer.sets.length) page.panelSets[p] = Math.min(p, answer.sets.length - 1);
    panel.querySelector('.choices').replaceChildren(...answer.sets.map((set, s) => element('button', {
      type: 'button', class: s === page.panelSets[p] ? 'chosen' : null,
      onclick: () => { page.panelSets[p] = s; showOverlays(); },
    }, set.name + ' (' + set.regions + ' regions, ' + set.lines + ' lines)')));
    const svg = panel.querySelector('svg');
    svg.setAttribute('viewBox', '0 0 ' + answer.width + ' ' + answer.height);
    const picture = document.createElementNS(svgSpace, 'image');
    picture.setAttribute('href', '/api/images/' + answer.image + '/large');
    picture.setAttribute('width', answer.width);
    picture.setAttribute('height', answer.height);
    const use = document.createElementNS(svgSpace, 'use');
    use.setAttribute('href', '#set-' + page.panelSets[p]);
    use.setAttribute('class', 'set');
    svg.replaceChildren(picture, use);
  });
}

function showCost() {
  const answer = page.answer;
  const t = answer.totals;
  document.getElementById('cost-summary').textContent =
      t.computed + ' results computed, ' + t.reused + ' reused from another tree, ' + t.loaded +
      ' loaded from the store; ' + t.computeMs.toFixed(1) + ' ms computing, answered in ' +
      (answer.seconds * 1000).toFixed(0) + ' ms' +
      (answer.processed.length ? '' : ' (no set changed: every result was in memory)');
  const head = element('tr', {}, ...['stage', 'name', 'computed', 'reused', 'loaded', 'compute ms'].map(h => element('th', {}, h)));
  const rows = answer.stages.map(s => element('tr', {
    class: s.computed > 0 ? 'computed' : null, 'data-stage': s.stage, 'data-computed': s.computed,
    'data-reused': s.reused, 'data-loaded': s.loaded,
  }, ...[s.stage, s.name, s.computed, s.reused, s.loaded, s.computeMs.toFixed(2)].map(v => element('td', {}, String(v)))));
  document.getElementById('cost').replaceChildren(head, ...rows);
}

// --- trees --------------------------------------------------------------------------

async function showTree() {
  const answer = page.answer;
  if (page.treeSet >= answer.sets.length) page.treeSet = 0;
  document.getElementById('tree-choices').replaceChildren(...answer.sets.map((set, s) => element('button', {
    type: 'button', class: s === page.treeSet ? 'chosen' : null, onclick: () => { page.treeSet = s; showTree(); },
  }, set.name)));
  const tree = answer.sets[page.treeSet].tree;
  try {
    document.getElementById('tree').innerHTML = await api('/api/tree?image=' + answer.image + '&tree=' + tree, undefined, 'text');
    document.getElementById('tree').dataset.tree = tree;
  } catch (error) {
    document.getElementById('tree').textContent = error.message;
  }
}

// A click on a node shows its card: its parameters, results and their pictures.
async function showNode(event) {
  const link = event.target.closest('a');
  if (!link || !page.answer) return;
  event.preventDefault();
  const target = link.getAttribute('href') || link.getAttribute('xlink:href') || '';
  const place = /^#tc(\d+)$/.exec(target);
  if (!place) return;
  const details = document.getElementById('details');
  try {
    details.innerHTML = await api('/api/node?image=' + page.answer.image + '&tree=' +
                                  document.getElementById('tree').dataset.tree + '&node=' + place[1], undefined, 'text');
  } catch (error) {
    details.textContent = error.message;
  }
}

// --- parameter panels ---------------------------------------------------------------

// A record of a list as a new one starts: the last record copied, or the first mode that
// is not a skip with every other field empty.
function newRecord(fields, records, skip) {
  if (records.length) return JSON.parse(JSON.stringify(records[records.length - 1]));
  const record = {};
  for (const field of fields) {
    if (field.kind === 'literal') record[field.name] = field.literals.find(l => l !== skip) || field.literals[0];
    else if (field.kind === 'integer') record[field.name] = 0;
    else if (field.kind === 'integers') record[field.name] = new Array(field.length).fill(0);
    else if (field.kind === 'list') record[field.name] = [];
  }
  return record;
}

// What an input holds: an integer as a number, anything else as typed (the server names it).
function valueOf(input, kind) {
  if (kind === 'text' || kind === 'literal') return input.value;
  return /^-?\d+$/.test(input.value.trim()) ? Number(input.value.trim()) : input.value;
}

function fieldInput(record, field, path, mode, onChange) {
  const label = element('label', {class: field.canonical === false ? 'hidden-field' : null,
                                  title: field.canonical === false ? 'not part of the parameters\' id' : null}, field.name);
  if (field.kind === 'literal') {
    const select = element('select', {'data-path': path, onchange: () => { record[field.name] = select.value; onChange(true); }},
                           ...field.literals.map(l => element('option', {value: l, selected: record[field.name] === l}, l)));
    label.append(select);
  } else if (field.kind === 'integer' || field.kind === 'text') {
    const range = field.ranges && mode in field.ranges ? field.ranges[mode] : null;
    const input = element('input', {
      type: field.kind === 'text' ? 'text' : 'number', step: field.kind === 'text' ? null : 1, 'data-path': path,
      min: range ? range[0] : null, max: range ? range[1] : null, value: record[field.name] === undefined ? '' : record[field.name],
      title: range ? 'from ' + range[0] + ' to ' + range[1] : null,
      onchange: () => { record[field.name] = valueOf(input, field.kind); onChange(false); },
    });
    label.append(input);
  } else if (field.kind === 'integers') {
    const values = record[field.name] || (record[field.name] = new Array(field.length).fill(0));
    label.classList.add('wide');
    label.append(element('span', {class: 'integers'}, ...values.map((v, i) => {
      const input = element('input', {type: 'number', step: 1, value: v, 'data-path': path + '[' + i + ']',
                                      onchange: () => { values[i] = valueOf(input, 'integer'); onChange(false); }});
      return input;
    })));
  } else if (field.kind === 'list') {
    const records = record[field.name] || (record[field.name] = []);
    return element('div', {class: 'sub'}, listEditor(field.name, field.fields, records, path, null, onChange));
  }
  return label;
}

function recordEditor(fields, record, path, onChange, onRemove) {
  const mode = record.mode;
  const box = element('div', {class: 'record'});
  for (const field of fields) box.append(fieldInput(record, field, path + '.' + field.name, mode, onChange));
  box.append(element('button', {type: 'button', class: 'remove', onclick: onRemove}, 'remove record'));
  return box;
}

// A list's records, folded until opened (the page remembers which lists are open).
function listEditor(name, fields, records, path, skip, onChange) {
  const modes = records.map(record => record.mode).filter(mode => mode !== undefined).join(', ');
  const list = element('details', {class: 'list', open: page.open.has(path), 'data-path': path,
                                    ontoggle: () => { if (list.open) page.open.add(path); else page.open.delete(path); }},
                       element('summary', {}, name + ' (' + records.length + ') ', element('span', {class: 'modes'}, modes)));
  records.forEach((record, r) => list.append(recordEditor(fields, record, path + '[' + r + ']', onChange, () => {
    records.splice(r, 1);
    onChange(true);
  })));
  list.append(element('button', {type: 'button', onclick: () => { records.push(newRecord(fields, records, skip)); onChange(true); }},
                      'add record'));
  return list;
}

function uniqueName(base) {
  let name = base;
  for (let n = 2; page.sets.some(set => set.name === name); ++n) name = base + ' ' + n;
  return name;
}

function showSets() {
  const box = document.getElementById('sets');
  const changed = structural => { if (structural) showSets(); recompute(); };
  box.replaceChildren(...page.sets.map((set, s) => {
    const path = 'parameterSets[' + s + ']';
    const name = element('input', {type: 'text', value: set.name, 'data-path': path + '.name', 'aria-label': 'set name',
                                   onchange: () => { set.name = name.value; changed(false); }});
    const legend = element('legend', {}, name,
        element('button', {type: 'button', onclick: () => {
          const copy = JSON.parse(JSON.stringify(set));
          copy.name = uniqueName(set.name + ' copy');
          page.sets.splice(s + 1, 0, copy);
          changed(true);
        }}, 'copy'),
        element('button', {type: 'button', disabled: page.sets.length < 2, onclick: () => { page.sets.splice(s, 1); changed(true); }},
                'remove'));
    const fieldset = element('fieldset', {class: 'set', 'data-set': s}, legend,
                             element('div', {class: 'counts'}), element('div', {class: 'error'}));
    for (const scalar of page.schema.scalars) {
      const input = fieldInput(set, scalar, path + '.' + scalar.name, null, changed);
      input.className = 'scalar';
      fieldset.append(input);
    }
    for (const list of page.schema.lists) {
      const records = set[list.name] || (set[list.name] = []);
      fieldset.append(listEditor(list.name, list.fields, records, path + '.' + list.name, list.skip, changed));
    }
    return fieldset;
  }));
  showCounts();
}

function showCounts() {
  document.querySelectorAll('#sets fieldset.set').forEach((fieldset, s) => {
    const found = page.answer && page.answer.sets[s];
    fieldset.querySelector('.counts').textContent = found ? found.regions + ' regions, ' + found.lines + ' line segments' : '';
  });
}

// Shows a refusal at the set and the field it names ("edited sets: parameterSets[0].x[1].y: ...").
function showRefusal(message) {
  document.querySelectorAll('.invalid').forEach(input => input.classList.remove('invalid'));
  document.querySelectorAll('#sets .error').forEach(error => { error.textContent = ''; });
  const place = /parameterSets\[(\d+)\]([\w.\[\]]*)/.exec(message);
  if (!place) return;
  const fieldset = document.querySelector('#sets fieldset[data-set="' + place[1] + '"]');
  if (fieldset) fieldset.querySelector('.error').textContent = message;
  const input = document.querySelector('[data-path="' + place[0] + '"]');
  if (input) input.classList.add('invalid');
}

// --- recompute ----------------------------------------------------------------------

// Sends the sets and the chosen image; one request at a time, the newest edits next.
async function recompute() {
  if (page.running) { page.again = true; return; }
  page.running = true;
  document.body.dataset.busy = 'true';
  status('computing\u2026');
  try {
    page.answer = await api('/api/run', {image: page.image, sets: page.sets});
    showRefusal('');
    showOverlays();
    showCost();
    showCounts();
    status(page.answer.totals.computed + ' computed, ' + page.answer.totals.reused + ' reused, ' +
           page.answer.totals.loaded + ' loaded in ' + (page.answer.seconds * 1000).toFixed(0) + ' ms');
    document.body.dataset.runs = String(Number(document.body.dataset.runs) + 1);
    await showTree();
  } catch (error) {
    status(error.message, true);
    showRefusal(error.message);
  } finally {
    page.running = false;
    if (page.again) { page.again = false; recompute(); } else { document.body.dataset.busy = 'false'; }
  }
}

// --- saving -------------------------------------------------------------------------

async function save() {
  try {
    const answer = await api('/api/save', {sets: page.sets});
    status('saved to ' + answer.saved);
  } catch (error) {
    status(error.message, true);
    showRefusal(error.message);
  }
}

async function download() {
  try {
    const text = await api('/api/parameter-file', {sets: page.sets}, 'text');
    const link = element('a', {href: URL.createObjectURL(new Blob([text], {type: 'application/json'})),
                               download: (page.paramsFile || 'params.json').split('/').pop()});
    document.body.append(link);
    link.click();
    link.remove();
  } catch (error) {
    status(error.message, true);
    showRefusal(error.message);
  }
}

async function start() {
  try {
    [page.schema, page.state] = await Promise.all([api('/api/schema'), api('/api/state')]);
  } catch (error) {
    status(error.message, true);
    return;
  }
  page.images = page.state.images;
  page.sets = page.state.sets;
  page.paramsFile = page.state.paramsFile;
  document.getElementById('save').hidden = !page.paramsFile;
  if (page.paramsFile) document.getElementById('save').textContent = 'Save to ' + page.paramsFile;
  document.getElementById('save').addEventListener('click', save);
  document.getElementById('download').addEventListener('click', download);
  document.getElementById('side-by-side').addEventListener('change', event => {
    document.getElementById('p2').hidden = !event.target.checked;
  });
  document.getElementById('tree').addEventListener('click', showNode);
  // A result without a picture leaves no broken image behind.
  document.getElementById('details').addEventListener('error', event => {
    if (event.target.tagName === 'IMG') event.target.remove();
  }, true);
  showImages();
  showSets();
  recompute();
}

start();
