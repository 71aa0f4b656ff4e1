// node bench/page_time.mjs WASM_BUILD FILE RUNS: opens FILE in the page (WASM_BUILD/web) in
// headless Chromium RUNS times, each in a freshly loaded page, and prints per run the worker's
// time to read and write it as glb and the time from choosing the file to the model drawn, in ms.
import {openPage, upload} from '../tests/web/browser.mjs';

const [wasm, file, runs] = process.argv.slice(2);
const {page, close} = await openPage(`${wasm}/web`);
for (let run = 0; run < Number(runs); ++run) {
  await page.reload();
  const start = Date.now();
  await upload(page, [file], 1, 600000);
  const shown = Date.now() - start;
  const convert = await page.$eval('#list button', b => b.dataset.convertMs);
  const state = await page.$eval('#list button', b => b.dataset.state);
  if (state !== 'shown') throw new Error(`${file}: ${state} in the page`);
  console.log(`${Number(convert).toFixed(1)} ${shown}`);
}
await close();
