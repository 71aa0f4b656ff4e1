// node tests/web/page_test.mjs NATIVE_BUILD WASM_BUILD: the page (WASM_BUILD/web) in headless
// Chromium, served on 127.0.0.1, against the native program (NATIVE_BUILD/rokconv). It opens the
// examples, generated and damaged models through the page's own file input, twenty at once with
// one that is not ROK, and checks that the view draws the surfaces' colours, that each report is
// the native --info and --info --json, that downloads have the native bytes and names, that a file
// that is not ROK is refused and the page goes on, and that no request leaves for another address.
// Prints "ok: ..." and "FAIL: ..." lines and "N passed, N failed"; exits 1 on a failure.
import {execFileSync} from 'node:child_process';
import {copyFileSync, cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync,
        writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {basename, dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

import {openPage, upload} from './browser.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const [native, wasm] = process.argv.slice(2).map(p => resolve(p));
const rokconv = join(native, 'rokconv');
const rokgen = join(native, 'tests/support/rokgen');
const work = mkdtempSync(join(tmpdir(), 'rokconv-page-'));
let passed = 0, failed = 0;
function check(ok, what, detail = '') {
  if (ok) ++passed;
  else ++failed;
  console.log(`${ok ? 'ok' : 'FAIL'}: ${what}${ok || !detail ? '' : `: ${detail}`}`);
}

// ---- the models, and what the native program makes of each ----------------------------------------

const inputs = join(work, 'in');
mkdirSync(join(inputs, 'again'), {recursive: true});
const files = [];
function add(name, make, folder = inputs) {
  const path = join(folder, name);
  make(path);
  files.push(path);
  return path;
}
const gen = (...args) => path => execFileSync(rokgen, [...args, '-o', path]);
const examples = join(here, '../../examples');
for (const example of readdirSync(examples).filter(f => f.endsWith('.rok')))
  add(example, path => copyFileSync(join(examples, example), path));
const kinds = execFileSync(rokgen, ['damaged', '--list']).toString().trim().split('\n');
for (const kind of kinds) add(`damaged-${kind}.rok`, gen('damaged', kind, '--seed', '11'));
add('damaged-truncated-crlf.rok', gen('damaged', 'truncated', '--seed', '12', '--eol', 'crlf'));
add('damaged-edge-range-cr.rok', gen('damaged', 'edge-range', '--seed', '13', '--eol', 'cr'));
add('damaged-huge-face-preamble.rok', gen('damaged', 'huge-face', '--seed', '18', '--preamble'));
add('damaged-negative-count-lfcr.rok', gen('damaged', 'negative-count', '--seed', '19', '--eol', 'lfcr'));
add('ring-cr.rok', gen('ring', '300', '--seed', '20', '--eol', 'cr'));
add('grid.rok', gen('grid', '2500', '--seed', '14'));
add('grid-preamble.rok', gen('grid', '900', '--seed', '15', '--preamble', '--eol', 'lfcr'));
add('ring.rok', gen('ring', '40', '--seed', '16'));
add('maison été.rok', gen('grid', '200', '--seed', '17'));
add('house.rok', path => copyFileSync(join(examples, 'house.rok'), path), join(inputs, 'again'));
const notRok = add('notes.txt', path => writeFileSync(path, 'not a model\n'));
check(files.length === 20, 'twenty files to open at once', `${files.length}`);

// the native program's files for NAME (as the page names the outputs) in a format: {name: bytes}
function nativeOutputs(path, as, format) {
  const dir = join(work, 'native', format, as);
  if (!existsSync(dir)) {
    mkdirSync(dir, {recursive: true});
    copyFileSync(path, join(dir, as));
    execFileSync(rokconv, ['-q', '-f', format, as], {cwd: dir});
  }
  return Object.fromEntries(readdirSync(dir).filter(f => f !== as)
                                .map(f => [f, readFileSync(join(dir, f))]));
}
const nativeInfo = (path, json) =>
    execFileSync(rokconv, ['--info', ...(json ? ['--json'] : []), basename(path)],
                 {cwd: dirname(path)}).toString();

// the surfaces' colours from the native glb, in the page's sRGB
function surfaceColours(path) {
  const glb = Object.values(nativeOutputs(path, basename(path), 'glb'))[0];
  const json = JSON.parse(glb.subarray(20, 20 + glb.readUInt32LE(12)).toString());
  const srgb = c => (c <= 0.0031308 ? 12.92 * c : 1.055 * c ** (1 / 2.4) - 0.055);
  return (json.materials ?? []).map(m => m.pbrMetallicRoughness.baseColorFactor.slice(0, 3).map(srgb));
}

// ---- the page, served here ----------------------------------------------------------------------

const {page, browser, elsewhere, errors, close} = await openPage(join(wasm, 'web'));
const downloads = join(work, 'downloads');
const cdp = await browser.target().createCDPSession();
await cdp.send('Browser.setDownloadBehavior',
               {behavior: 'allow', downloadPath: downloads, eventsEnabled: true});

const states = () => page.$$eval('#list button', items => items.map(i => i.dataset.state));

// a download's file, once complete: its bytes
async function downloaded(click) {
  const done = new Promise(resolve => {
    let name;
    const begin = e => (name = e.suggestedFilename);
    const progress = e => {
      if (e.state !== 'completed') return;
      cdp.off('Browser.downloadWillBegin', begin);
      cdp.off('Browser.downloadProgress', progress);
      resolve(name);
    };
    cdp.on('Browser.downloadWillBegin', begin);
    cdp.on('Browser.downloadProgress', progress);
  });
  await click();
  const name = await done;
  return {name, bytes: readFileSync(join(downloads, name))};
}

// a zip's files, read by Python's zipfile: {name: bytes}, and whether each name has the UTF-8 flag
function unzip(bytes) {
  const zip = join(work, 'unzip.zip');
  writeFileSync(zip, bytes);
  const script = 'import zipfile,sys,json,base64; z=zipfile.ZipFile(sys.argv[1]); ' +
      'print(json.dumps({i.filename: [base64.b64encode(z.read(i)).decode(), ' +
      'bool(i.flag_bits & 0x800)] for i in z.infolist()}))';
  const listed = JSON.parse(execFileSync('python3', ['-c', script, zip], {maxBuffer: 1 << 28}));
  const out = {};
  for (const [name, [data, utf8]] of Object.entries(listed)) {
    out[name] = Buffer.from(data, 'base64');
    if (/[^\x00-\x7f]/.test(name)) check(utf8, `${name}: the zip marks the name as UTF-8`);
  }
  return out;
}

function sameFiles(got, want, what) {
  const names = o => Object.keys(o).sort().join(', ');
  const differ = Object.keys(want).filter(n => !got[n]?.equals(want[n]));
  check(names(got) === names(want) && differ.length === 0, what,
        `got ${names(got)}, want ${names(want)}, differ: ${differ.join(', ')}`);
}

// ---- a file that is not ROK, then a model --------------------------------------------------------

await upload(page, [notRok], 1);
const refusal = await page.$eval('#report-body .refused', e => e.textContent);
check(refusal === nativeInfo(notRok, false).trim(), 'a file that is not ROK is refused with the native message',
      refusal);
await upload(page, [join(inputs, 'house.rok')], 2);
check((await states()).join() === 'refused,shown', 'after it, a model still opens and is shown',
      (await states()).join());

// dropped on the page rather than chosen: opened the same way
await page.evaluate(async bytes => {
  const files = new DataTransfer();
  files.items.add(new File([new Uint8Array(bytes)], 'dropped.rok'));
  document.body.dispatchEvent(new DragEvent('drop', {dataTransfer: files, bubbles: true}));
}, [...readFileSync(join(examples, 'cube.rok'))]);
const dropped = await page.waitForFunction(
    () => document.querySelectorAll('#list button')[2]?.dataset.state === 'shown',
    {timeout: 30000}).then(() => true, () => false);
check(dropped, 'a file dropped on the page opens and is shown');

// the view takes at least 70 % of the 1280×720 window, and all of it with the panels hidden
const viewArea = () => page.$eval('#view', v => v.clientWidth * v.clientHeight / (1280 * 720));
const withPanels = await viewArea();
await page.click('#toggle-models');
await page.click('#toggle-report');
const withoutPanels = await viewArea();
check(withPanels >= 0.7 && withoutPanels > 0.9, 'the view: 70 % of the window, more with the panels hidden',
      `${withPanels.toFixed(3)}, ${withoutPanels.toFixed(3)}`);

// ---- twenty at once -------------------------------------------------------------------------------

await page.reload();
await upload(page, files, files.length);
const finalStates = await states();
check(finalStates.at(-2) === 'shown' && finalStates.at(-1) === 'refused',
      'the last model opened is shown, the file that is not ROK refused', finalStates.join());

// the view's pixels: the share of each colour's hue among them, and of the background
async function colourShares(colours) {
  return page.evaluate(targets => {
    const canvas = document.querySelector('#view canvas');
    const copy = document.createElement('canvas');
    [copy.width, copy.height] = [canvas.width, canvas.height];
    const context = copy.getContext('2d');
    context.drawImage(canvas, 0, 0);
    const pixels = context.getImageData(0, 0, copy.width, copy.height).data;
    const hsv = (r, g, b) => {
      const max = Math.max(r, g, b), min = Math.min(r, g, b), d = max - min;
      const h = d === 0 ? 0 : max === r ? ((g - b) / d + 6) % 6 : max === g ? (b - r) / d + 2 : (r - g) / d + 4;
      return [h * 60, max === 0 ? 0 : d / max, max];
    };
    const want = targets.map(([r, g, b]) => hsv(r, g, b));
    // a pixel of a saturated surface has its hue; one of a grey or pale surface is itself pale
    const matches = ([h, s, v], [wh, ws]) => {
      const dh = Math.min(Math.abs(h - wh), 360 - Math.abs(h - wh));
      return ws >= 0.3 ? v > 0.08 && dh <= 15 && s >= ws * 0.6 : s < 0.35;
    };
    const counts = new Array(want.length).fill(0);
    let background = 0, surface = 0, total = 0;
    for (let i = 0; i < pixels.length; i += 4 * 3) {
      ++total;
      if (pixels[i] === 0x1c && pixels[i + 1] === 0x1f && pixels[i + 2] === 0x24) {
        ++background;
        continue;
      }
      const pixel = hsv(pixels[i] / 255, pixels[i + 1] / 255, pixels[i + 2] / 255);
      const which = want.map(w => matches(pixel, w));
      which.forEach((hit, k) => (counts[k] += hit));
      surface += which.some(Boolean);
    }
    return {shares: counts.map(c => c / total), background: background / total,
            surface: surface / Math.max(total - background, 1),
            saturated: want.map(([, s]) => s >= 0.3)};
  }, colours);
}

// the controls have names, and the list works from the keyboard
const unnamed = [];
(function walk(node) {
  if (/^(button|combobox|textbox|link|checkbox)$/.test(node.role) && !node.name) unnamed.push(node.role);
  for (const child of node.children ?? []) walk(child);
})(await page.accessibility.snapshot());
check(unnamed.length === 0, 'every control has a name', unnamed.join(' '));
await page.focus('#list li:first-child button');
await page.keyboard.press('Enter');
const keyed = await page.waitForFunction(() => document.querySelector('#list button').dataset.state === 'shown',
                                        {timeout: 30000}).then(() => true, () => false);
check(keyed, 'a model chosen in the list with the keyboard is shown');

const shownAt = index => page.waitForFunction(
    k => document.querySelectorAll('#list button')[k].dataset.state === 'shown', {timeout: 30000}, index);

// every model, chosen in the list: its report, its view
const items = await page.$$('#list button');
for (const [i, path] of files.entries()) {
  const name = basename(path);
  await items[i].click();
  if (path === notRok) continue;
  await shownAt(i);
  const json = await page.$eval('#report-json', e => e.textContent);
  check(JSON.stringify(JSON.parse(json)) === JSON.stringify(JSON.parse(nativeInfo(path, true))),
        `${name}: the report's JSON is rokconv --info --json`, json);
  const lines = await page.$$eval('#findings li', l => l.map(e => e.textContent));
  const want = nativeInfo(path, false).trim().split('\n').slice(2).map(l => l.slice(name.length + 2));
  check(lines.join('\n') === want.join('\n'), `${name}: the report's findings are rokconv --info's`,
        `${lines.join(' | ')} against ${want.join(' | ')}`);
  const counts = await page.$$eval('#report-body tr', rows =>
      Object.fromEntries(rows.map(r => [r.dataset.count, r.cells[1].textContent])));
  const native = JSON.parse(nativeInfo(path, true));
  check(counts.points === `${native.points}` && counts.faces === `${native.faces}` &&
        counts.lines === `${native.lines}` &&
        counts.colours === (native.colours.join(' ') || 'none'),
        `${name}: the counts of points, faces, lines and colours`, JSON.stringify(counts));
  const colours = surfaceColours(path);
  if (native.faces === 0 || colours.length === 0) continue;
  // most of what is drawn has the surfaces' colours, and some of it a saturated one's hue
  const {shares, background, surface, saturated} = await colourShares(colours);
  const drawn = shares.some((share, k) => saturated[k] && share >= 0.002) || !saturated.some(Boolean);
  check(background < 0.995 && surface >= 0.8 && drawn, `${name}: the view draws the surfaces' colours`,
        `shares ${shares.map(s => s.toFixed(4)).join(' ')}, surface ${surface.toFixed(3)}, ` +
        `background ${background.toFixed(3)}`);
}

// ---- downloads ------------------------------------------------------------------------------------

for (const [name, as, formats] of [['house.rok', 'house.rok', ['glb', 'obj', 'lwo', 'stl']],
                                   ['again/house.rok', 'house (2).rok', ['obj', 'glb']],
                                   ['damaged-edge-range.rok', 'damaged-edge-range.rok', ['obj', 'stl']],
                                   ['maison été.rok', 'maison été.rok', ['lwo', 'obj']]]) {
  const path = join(inputs, name);
  const index = files.indexOf(path);
  await items[index].click();
  await shownAt(index);
  for (const format of formats) {
    const got = await downloaded(() => page.click(`#report-body button[data-format="${format}"]`));
    const want = nativeOutputs(path, as, format);
    if (format === 'obj') {
      const zipName = Object.keys(want).find(n => n.endsWith('.obj')).replace(/\.obj$/, '.zip');
      check(got.name === zipName, `${name} as obj: the zip is named ${zipName}`, got.name);
      sameFiles(unzip(got.bytes), want, `${name} as obj: the zip holds the native OBJ and MTL`);
    } else {
      sameFiles({[got.name]: got.bytes}, want, `${name} as ${format}: the native name and bytes`);
    }
  }
}

// every model in one zip
for (const format of ['obj', 'glb']) {
  await page.select('#all-format', format);
  const got = await downloaded(() => page.click('#all'));
  const want = {};
  for (const path of files.filter(p => p !== notRok)) {
    const as = path.includes('/again/') ? 'house (2).rok' : basename(path);
    Object.assign(want, nativeOutputs(path, as, format));
  }
  sameFiles(unzip(got.bytes), want, `download all as ${format}: every model's native files`);
}

check(elsewhere.length === 0, 'no request left for another address', elsewhere.join(' '));
check(errors.length === 0, 'no error in the page', errors.join(' | '));
await close();

// ---- a model too large for the module's memory: the page with the module capped at 64 MB ---------

const small = join(work, 'small-memory');
for (const part of ['index.html', 'page.css', 'page.js', 'worker.js', 'three', 'fflate'])
  cpSync(join(wasm, 'web', part), join(small, part), {recursive: true});
for (const part of ['rokconv.mjs', 'rokconv.wasm'])
  copyFileSync(join(wasm, 'web/small-memory', part), join(small, part));
const large = add('large.rok', gen('grid', '250000', '--seed', '21'));
const capped = await openPage(small);
await upload(capped.page, [large], 1);
const message = await capped.page.$eval('#report-body .refused', e => e.textContent);
check(message === 'not enough memory: large.rok', 'a model past the memory cap: not enough memory', message);
await upload(capped.page, [join(inputs, 'house.rok')], 2);
const after = await capped.page.$$eval('#list button', items => items.map(i => i.dataset.state));
check(after.join() === 'refused,shown', 'after it, a model still opens and is shown', after.join());
check(capped.errors.length === 0, 'no error in the page', capped.errors.join(' | '));
await capped.close();
rmSync(work, {recursive: true, force: true});
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
