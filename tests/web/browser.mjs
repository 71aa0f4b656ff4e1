// The page in headless Chromium, for the page's test, its benchmark and its screenshot: serves a
// folder on 127.0.0.1 and opens its index.html at 1280×720, noting every request for another
// address. CHROMIUM names the browser (default /usr/lib/chromium/chromium).
import {existsSync, readFileSync} from 'node:fs';
import {createServer} from 'node:http';
import {dirname, extname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const {default: puppeteer} = await import(
    join(here, '../../web/node_modules/puppeteer-core/lib/esm/puppeteer/puppeteer-core.js'));

const types = {'.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript',
               '.css': 'text/css', '.wasm': 'application/wasm'};

// {page, browser, elsewhere, errors, close}: elsewhere lists the requests that left for another
// address, errors the page's uncaught errors
export async function openPage(folder) {
  const served = resolve(folder);
  const server = createServer((request, response) => {
    const path = join(served, decodeURIComponent(new URL(request.url, 'http://x').pathname));
    if (!path.startsWith(served) || !existsSync(path) || extname(path) === '') {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'Content-Type': types[extname(path)] ?? 'application/octet-stream'});
    response.end(readFileSync(path));
  });
  await new Promise(done => server.listen(0, '127.0.0.1', done));
  const origin = `http://127.0.0.1:${server.address().port}`;
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/lib/chromium/chromium',
    args: ['--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-sandbox'],
  });
  const page = await browser.newPage();
  await page.setViewport({width: 1280, height: 720});
  const elsewhere = [];
  const errors = [];
  page.on('request', r => {
    if (!r.url().startsWith(`${origin}/`) && !/^(data|blob):/.test(r.url())) elsewhere.push(r.url());
  });
  page.on('pageerror', e => errors.push(e.message));
  await page.goto(`${origin}/index.html`);
  const close = async () => {
    await browser.close();
    server.close();
  };
  return {page, browser, elsewhere, errors, close};
}

// opens files through the page's own file input, and waits until the list holds `count` entries,
// each converted or refused
export async function upload(page, paths, count, timeout = 60000) {
  await (await page.$('#open')).uploadFile(...paths);
  await page.waitForFunction(
      n => {
        const items = [...document.querySelectorAll('#list button')];
        return items.length === n && items.every(i => /^(ready|shown|refused)$/.test(i.dataset.state));
      },
      {timeout}, count);
}
