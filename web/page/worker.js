// The page's worker: reads ROK files and writes their outputs with the library (rokconv.mjs), one
// request at a time, off the page's own thread.
//
// Requests, each answered by a message with the same `ask` number:
//   {ask, op: 'open', id, name, bytes}  → {ask, info, json, glb, convertMs, names} or
//                                          {ask, refused}; names: the glb's name for NAME
//   {ask, op: 'export', id, name, as, bytes, format}  → {ask, files: [{name, data}]} or
//                                                       {ask, refused}; the files named after
//                                                       `as` as the command line names them
// and, on the way, {ask, stage} for the stage a request is in.
import createRokconv from './rokconv.mjs';

let rokconv = null;  // the module; made anew after a failure that may have left it unusable
let last = null;     // {id, handle, at}: the model read last, kept for its downloads

const LOAD_OK = 0;
const LOAD_NOT_ROK = 1;
const LOAD_OUT_OF_MEMORY = 3;
const SAVE_OUT_OF_MEMORY = 3;

class Refusal extends Error {}

function release() {
  if (last !== null && rokconv !== null) {
    rokconv._rokconv_release(last.handle);
    rokconv._free(last.at);
  }
  last = null;
}

// the model of entry `id` read into the module, unless it is the one read last
function load(m, id, name, bytes) {
  if (last !== null && last.id === id) return last;
  release();
  const data = new Uint8Array(bytes);
  const at = m._malloc(Math.max(data.length, 1));
  if (at === 0) throw new Refusal(`not enough memory: ${name}`);
  m.HEAPU8.set(data, at);
  const handle = m._rokconv_load(at, data.length);
  if (handle === 0) {
    m._free(at);
    throw new Refusal(`not enough memory: ${name}`);
  }
  const status = m._rokconv_load_status(handle);
  if (status !== LOAD_OK) {
    // the command line's own words for the file
    const message = status === LOAD_NOT_ROK ? info(m, handle, name, false).trim()
                    : status === LOAD_OUT_OF_MEMORY ? `not enough memory: ${name}`
                    : `read error: ${name}`;
    m._rokconv_release(handle);
    m._free(at);
    throw new Refusal(message);
  }
  last = {id, handle, at};
  return last;
}

// what `rokconv --info [--json] NAME` prints of the model read
function info(m, handle, name, json) {
  const text = m.ccall('rokconv_info', 'number', ['number', 'string', 'number'],
                       [handle, name, json ? 1 : 0]);
  if (text === 0) throw new Refusal(`not enough memory: ${name}`);
  return m.UTF8ToString(text);
}

// the files of one format: [{name, data}], the model's file first
function save(m, model, name, format, names) {
  const saved = m.ccall('rokconv_save', 'number', ['number', 'string', 'string'],
                        [model.handle, format, names[1] ?? '']);
  // the command line's words: the reader's model is sound, so any other failure is a model too
  // large for the format
  if (saved === SAVE_OUT_OF_MEMORY) throw new Refusal(`not enough memory: ${name}`);
  if (saved !== 0) throw new Refusal(`could not write: ${names[0]}`);
  const copy = (data, size) => m.HEAPU8.slice(data, data + size).buffer;
  const files = [{name: names[0], data: copy(m._rokconv_file_data(model.handle),
                                             m._rokconv_file_size(model.handle))}];
  if (names.length > 1) {
    files.push({name: names[1], data: copy(m._rokconv_beside_data(model.handle),
                                           m._rokconv_beside_size(model.handle))});
  }
  return files;
}

// the names the command line gives NAME's outputs in a format
function outputNames(m, name, format) {
  const names = m.ccall('rokconv_output_names', 'number', ['string', 'string'], [name, format]);
  return m.UTF8ToString(names).split('\n');
}

async function answer(request) {
  const {ask, op, id, name, bytes} = request;
  rokconv ??= await createRokconv();
  const m = rokconv;
  postMessage({ask, stage: 'converting'});
  if (op === 'open') {
    const start = performance.now();
    const model = load(m, id, name, bytes);
    const names = outputNames(m, name, 'glb');
    const [glb] = save(m, model, name, 'glb', names);
    const convertMs = performance.now() - start;
    postMessage({ask, stage: 'reporting'});
    const text = info(m, model.handle, name, false);
    const json = info(m, model.handle, name, true);
    postMessage({ask, info: text, json, glb: glb.data, convertMs, names}, [glb.data]);
  } else {
    const model = load(m, id, name, bytes);
    const files = save(m, model, name, request.format, outputNames(m, request.as, request.format));
    postMessage({ask, files}, files.map(f => f.data));
  }
}

// one request at a time, in the order they came
let queue = Promise.resolve();
onmessage = event => {
  queue = queue.then(() => answer(event.data)).catch(error => {
    if (error instanceof Refusal) {
      postMessage({ask: event.data.ask, refused: error.message});
      return;
    }
    // the module may have run out of memory part way, or stopped: start again with a new one
    last = null;
    rokconv = null;
    const memory = error instanceof RangeError || /memory|Aborted/i.test(String(error));
    postMessage({ask: event.data.ask,
                 refused: memory ? `not enough memory: ${event.data.name}` : `error: ${error}`});
  });
};
