// node docs/page_screenshot.mjs WASM_BUILD OUTPUT.png: the page (WASM_BUILD/web) in headless
// Chromium at 1280×720 with the examples opened, the house shown and its report open.
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

import {openPage, upload} from '../tests/web/browser.mjs';

const [wasm, output] = process.argv.slice(2);
const examples = join(dirname(fileURLToPath(import.meta.url)), '../examples');
const {page, close} = await openPage(join(wasm, 'web'));
const names = ['cube.rok', 'lines.rok', 'preamble_crlf.rok', 'house.rok'];
await upload(page, names.map(name => join(examples, name)), names.length);
await page.screenshot({path: output});
await close();
