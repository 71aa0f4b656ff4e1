// The page: a list of opened ROK files, the one chosen drawn with three.js from the glb the library
// writes, its report, and its downloads. The worker does the library's work, one file at a time.
import * as THREE from 'three';
import {OrbitControls} from 'three/addons/controls/OrbitControls.js';
import {GLTFLoader} from 'three/addons/loaders/GLTFLoader.js';
import {Zip, ZipPassThrough} from './fflate/fflate.js';

const $ = id => document.getElementById(id);

// ---- the worker: one request at a time, answered in order --------------------------------------

const worker = new Worker('worker.js', {type: 'module'});
const pending = new Map();  // ask → {resolve, onStage}
let asks = 0;
worker.onmessage = ({data}) => {
  const waiting = pending.get(data.ask);
  if (waiting === undefined) return;
  if (data.stage !== undefined) {
    waiting.onStage?.(data.stage);
    return;
  }
  pending.delete(data.ask);
  waiting.resolve(data);
};
function ask(request, onStage) {
  const id = ++asks;
  return new Promise(resolve => {
    pending.set(id, {resolve, onStage});
    worker.postMessage({...request, ask: id});
  });
}

// ---- the opened models ---------------------------------------------------------------------------

// {id, name, as, bytes, state, stage, info, json, message, convertMs, item}
// `as` is the name the outputs are named after: the file's own, or "NAME (2).rok" for the second
// file whose outputs the command line would name the same
const models = [];
let shown = null;     // the model in the view
let chosen = null;    // the model in the report panel
let converting = false;
let picked = false;   // whether a model was chosen in the list since files were last opened
const stems = new Set();

const FORMATS = [
  {format: 'glb', label: 'glb'},
  {format: 'obj', label: 'OBJ + MTL (zip)'},
  {format: 'lwo', label: 'LWO'},
  {format: 'stl', label: 'STL'},
];

function open(files) {
  for (const file of files) {
    const model = {id: models.length + 1, name: file.name, as: file.name, file, state: 'waiting'};
    models.push(model);
    addItem(model);
  }
  $('all').disabled = models.length === 0;
  picked = false;
  convertWaiting();
}

// the name the outputs of a model are named after: its own, or "NAME (2).rok" where an earlier
// model's outputs have the name the command line would give these (house.rok → house.glb)
function nameOutputs(model, glbName) {
  const stem = glbName.slice(0, -'.glb'.length);
  let unique = stem;
  for (let n = 2; stems.has(unique); ++n) unique = `${stem} (${n})`;
  stems.add(unique);
  model.as = unique === stem ? model.name : `${unique}.rok`;
  if (model.as !== model.name) model.item.querySelector('.name').textContent = `${model.name} → ${unique}`;
}

// converts the waiting models one after another; the model opened last is shown
async function convertWaiting() {
  if (converting) return;
  converting = true;
  for (let model; (model = models.find(m => m.state === 'waiting'));) await convert(model);
  converting = false;
  for (const resolve of idle.splice(0)) resolve();
}

// resolves when no model waits to be converted
const idle = [];
function converted() {
  return converting ? new Promise(resolve => idle.push(resolve)) : Promise.resolve();
}

// reads a model, converts it, and draws it unless a model opened later, or one chosen, is shown
async function convert(model) {
  setState(model, 'converting', 'reading');
  try {
    model.bytes = await model.file.arrayBuffer();
  } catch (error) {
    refuse(model, error instanceof RangeError ? `not enough memory: ${model.name}`
                                              : `${model.name}: could not be read (${error.message})`);
    return;
  }
  model.file = null;
  const answer = await ask({op: 'open', id: model.id, name: model.name, bytes: model.bytes},
                           stage => setState(model, 'converting', stage));
  if (answer.refused !== undefined) {
    model.bytes = null;
    refuse(model, answer.refused);
    return;
  }
  nameOutputs(model, answer.names[0]);
  model.info = answer.info;
  model.json = answer.json;
  model.convertMs = answer.convertMs;
  model.item.dataset.convertMs = answer.convertMs.toFixed(1);
  setState(model, 'ready');
  if (shown === null || (!picked && model.id > shown.id)) await draw(model, answer.glb);
  else if (chosen === null) choose(model);
}

function refuse(model, message) {
  model.message = message;
  setState(model, 'refused');
  say(message);
  if (chosen === null || chosen === model) choose(model);
}

// ---- the list ------------------------------------------------------------------------------------

function addItem(model) {
  const li = document.createElement('li');
  const button = document.createElement('button');
  button.type = 'button';
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = model.name;
  const state = document.createElement('span');
  state.className = 'state';
  button.append(name, state);
  button.title = model.name;
  button.addEventListener('click', () => show(model));
  li.append(button);
  $('list').append(li);
  model.item = button;
  setState(model, model.state);
}

function setState(model, state, stage) {
  model.state = state;
  model.stage = stage;
  const label = state === 'converting' && stage ? stage : state;
  const span = model.item.querySelector('.state');
  span.textContent = label;
  span.className = `state ${state}`;
  model.item.dataset.state = state;
  model.item.setAttribute('aria-label', `${model.name}: ${label}`);
  if (stage) say(`${model.name}: ${stage}`);
  if (model === chosen) showReport(model);
}

// a model chosen in the list: drawn (converted again for its glb) and reported
async function show(model) {
  picked = true;
  choose(model);
  if (model.state !== 'ready' && model.state !== 'shown') return;
  if (model === shown) return;
  const answer = await ask({op: 'export', id: model.id, name: model.name, as: model.as,
                            bytes: model.bytes, format: 'glb'});
  if (answer.refused === undefined) await draw(model, answer.files[0].data);
  else say(answer.refused);
}

function choose(model) {
  chosen = model;
  for (const m of models) m.item.setAttribute('aria-current', String(m === model));
  showReport(model);
}

// ---- the view ------------------------------------------------------------------------------------

const view = $('view');
const renderer = new THREE.WebGLRenderer({antialias: true, preserveDrawingBuffer: true});
renderer.setPixelRatio(window.devicePixelRatio);
renderer.setClearColor(0x1c1f24);
view.append(renderer.domElement);
const scene = new THREE.Scene();
const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
scene.add(camera);
scene.add(new THREE.HemisphereLight(0xffffff, 0x555566, 1.6));
const light = new THREE.DirectionalLight(0xffffff, 2.2);
light.position.set(0.5, 1, 1.5);
camera.add(light);
const controls = new OrbitControls(camera, renderer.domElement);
controls.listenToKeyEvents(view);
controls.addEventListener('change', render);
let content = null;

function render() {
  renderer.render(scene, camera);
}

function resize() {
  const {clientWidth: w, clientHeight: h} = view;
  if (w === 0 || h === 0) return;
  renderer.setSize(w, h, false);
  camera.aspect = w / h;
  camera.updateProjectionMatrix();
  render();
}
new ResizeObserver(resize).observe(view);

function fit() {
  if (content === null) return;
  const box = new THREE.Box3().setFromObject(content);
  if (box.isEmpty()) return;
  const sphere = box.getBoundingSphere(new THREE.Sphere());
  const radius = Math.max(sphere.radius, 1e-6);
  const distance = radius / Math.sin(THREE.MathUtils.degToRad(camera.fov / 2)) * 1.1;
  const direction = new THREE.Vector3(0.6, 0.45, 1).normalize();
  camera.position.copy(sphere.center).addScaledVector(direction, distance);
  camera.near = distance / 1000;
  camera.far = distance * 10;
  camera.updateProjectionMatrix();
  controls.target.copy(sphere.center);
  controls.update();
  render();
}

async function draw(model, glb) {
  setState(model, 'converting', 'drawing');
  try {
    const gltf = await new GLTFLoader().parseAsync(glb, '');
    if (content !== null) {
      scene.remove(content);
      content.traverse(o => {
        o.geometry?.dispose();
        o.material?.dispose();
      });
    }
    content = gltf.scene;
    scene.add(content);
    if (shown !== null && shown !== model) setState(shown, 'ready');
    shown = model;
    $('hint').hidden = true;
    setState(model, 'shown');
    choose(model);
    fit();
    say(`${model.name}: shown`);
  } catch (error) {
    setState(model, 'ready');
    say(`${model.name}: could not be drawn (${error.message}); its downloads still work`);
  }
}

// ---- the report ----------------------------------------------------------------------------------

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (className !== undefined) e.className = className;
  return e;
}

function showReport(model) {
  const body = $('report-body');
  body.replaceChildren(element('p', model.name, 'file'));
  body.firstChild.title = model.name;
  if (model.state === 'refused') {
    body.append(element('p', model.message, 'refused'));
    return;
  }
  if (model.json === undefined) {
    body.append(element('p', model.stage ?? model.state));
    return;
  }
  const json = JSON.parse(model.json);
  const table = element('table');
  const colours = json.colours.length === 0 ? 'none' : json.colours.join(' ');
  for (const [label, value] of [['points', json.points], ['faces', json.faces],
                                ['lines', json.lines], ['colours', colours],
                                ['edges', json.edges], ['palette entries', json.palette_entries],
                                ['file lines', json.file_lines]]) {
    const row = element('tr');
    row.append(element('th', label), element('td', String(value)));
    row.dataset.count = label;
    table.append(row);
  }
  body.append(table);
  // the command line's own lines, past the first two (the counts and colours above)
  const findings = element('ul');
  findings.id = 'findings';
  const prefix = `${model.name}: `;
  for (const line of model.info.split('\n').slice(2)) {
    if (line !== '') findings.append(element('li', line.startsWith(prefix) ? line.slice(prefix.length) : line));
  }
  body.append(element('h2', 'Repaired and left out'), findings);
  const downloads = element('div', undefined, 'downloads');
  for (const {format, label} of FORMATS) {
    const button = element('button', label);
    button.type = 'button';
    button.dataset.format = format;
    button.setAttribute('aria-label', `Download ${model.name} as ${label}`);
    button.addEventListener('click', () => download(model, format));
    downloads.append(button);
  }
  body.append(element('h2', 'Download'), downloads);
  if (model.convertMs !== undefined) {
    body.append(element('p', `Read and written as glb in ${(model.convertMs / 1000).toFixed(2)} s.`));
  }
  const details = element('details');
  details.append(element('summary', 'The report as JSON (rokconv --info --json)'));
  const pre = element('pre', model.json.trim());
  pre.id = 'report-json';
  details.append(pre);
  body.append(details);
}

// ---- downloads -----------------------------------------------------------------------------------

function save(name, parts) {
  const url = URL.createObjectURL(new Blob(parts, {type: 'application/octet-stream'}));
  const a = element('a');
  a.href = url;
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// a model's files in a format, made now
async function files(model, format) {
  const answer = await ask({op: 'export', id: model.id, name: model.name, as: model.as,
                            bytes: model.bytes, format});
  if (answer.refused !== undefined) {
    say(answer.refused);
    return null;
  }
  return answer.files;
}

async function download(model, format) {
  say(`${model.name}: writing ${format}`);
  const made = await files(model, format);
  if (made === null) return;
  if (made.length === 1) {
    save(made[0].name, [made[0].data]);
  } else {
    // OBJ and its MTL: one zip, named after the OBJ
    const zip = zipper();
    for (const file of made) zip.add(file);
    save(made[0].name.replace(/\.obj$/, '.zip'), await zip.end());
  }
  say(`${model.name}: ${made.map(f => f.name).join(' and ')} saved`);
}

// a zip made as files come, held as the parts of a Blob rather than one growing array
function zipper() {
  const parts = [];
  let done;
  const ended = new Promise(resolve => (done = resolve));
  const zip = new Zip((error, chunk, final) => {
    if (error) throw error;
    parts.push(chunk);
    if (final) done(parts);
  });
  return {
    add({name, data}) {
      // stored, not deflated: the outputs are mostly binary numbers, and the zip is made at once
      const entry = new ZipPassThrough(name);
      zip.add(entry);
      entry.push(new Uint8Array(data), true);
    },
    end() {
      zip.end();
      return ended;
    },
  };
}

async function downloadAll() {
  const format = $('all-format').value;
  $('all').disabled = true;
  say('waiting for the models to be converted');
  await converted();
  const zip = zipper();
  let count = 0;
  for (const model of models) {
    if (model.state === 'refused' || model.bytes === undefined || model.bytes === null) continue;
    say(`zip: ${model.name}`);
    const made = await files(model, format);
    if (made === null) continue;
    for (const file of made) zip.add(file);
    ++count;
  }
  const parts = await zip.end();
  if (count === 0) say('no converted model to download');
  else save(`rokconv-${format}.zip`, parts);
  if (count > 0) say(`${count} model${count === 1 ? '' : 's'} in rokconv-${format}.zip`);
  $('all').disabled = false;
}

// ---- the page's controls -------------------------------------------------------------------------

function say(text) {
  $('status').textContent = text;
}

$('open').addEventListener('change', event => {
  open([...event.target.files]);
  event.target.value = '';
});
$('fit').addEventListener('click', fit);
$('all').addEventListener('click', downloadAll);
for (const [button, panel] of [['toggle-models', 'models'], ['toggle-report', 'report']]) {
  $(button).addEventListener('click', () => {
    $(panel).hidden = !$(panel).hidden;
    $(button).setAttribute('aria-pressed', String(!$(panel).hidden));
    $('side').hidden = $('models').hidden && $('report').hidden;
  });
}
// the view with the keyboard: arrows pan (with Shift, orbit), + and - zoom, F fits
view.addEventListener('keydown', event => {
  const zoom = {'+': 0.8, '=': 0.8, '-': 1.25}[event.key];
  if (zoom !== undefined) {
    camera.position.sub(controls.target).multiplyScalar(zoom).add(controls.target);
    controls.update();
  } else if (event.key === 'f' || event.key === 'F') {
    fit();
  }
});

// dropping files anywhere on the page opens them
let dragging = 0;
document.addEventListener('dragenter', event => {
  event.preventDefault();
  if (++dragging === 1) $('drop').hidden = false;
});
document.addEventListener('dragleave', () => {
  if (--dragging === 0) $('drop').hidden = true;
});
document.addEventListener('dragover', event => event.preventDefault());
document.addEventListener('drop', event => {
  event.preventDefault();
  dragging = 0;
  $('drop').hidden = true;
  open([...event.dataTransfer.files]);
});
