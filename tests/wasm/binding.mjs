// node binding.mjs WASM_BUILD FORMAT INPUT OUTPUT [BESIDE]: writes INPUT in FORMAT through the
// binding (rokconv.mjs) to OUTPUT, and to BESIDE the file beside it (OBJ's .mtl, glTF's .bin),
// given for the formats that make one.
// node binding.mjs WASM_BUILD --info|--info-json INPUT: prints what rokconv --info [--json] INPUT
// prints. Exits 1 where the binding reports a failure.
import { readFileSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';

const [build, format, input, output, beside] = process.argv.slice(2);
const wasm = join(build, 'web');
const { default: createRokconv } = await import(join(wasm, 'rokconv.mjs'));
const m = await createRokconv({ wasmBinary: readFileSync(join(wasm, 'rokconv.wasm')) });

const bytes = readFileSync(input);
const at = m._malloc(bytes.length);
m.HEAPU8.set(bytes, at);
const h = m._rokconv_load(at, bytes.length);
const copy = (data, size) => m.HEAPU8.slice(data, data + size);
let status = 0;
if (format.startsWith('--info')) {
  const info = m.ccall('rokconv_info', 'number', ['number', 'string', 'number'],
                       [h, input, format === '--info-json' ? 1 : 0]);
  process.stdout.write(m.UTF8ToString(info));
} else if (m._rokconv_load_status(h) !== 0) {
  status = 1;
} else {
  const saved = m.ccall('rokconv_save', 'number', ['number', 'string', 'string'],
                        [h, format, beside ? basename(beside) : '']);
  if (saved !== 0) {
    status = 1;
  } else {
    writeFileSync(output, copy(m._rokconv_file_data(h), m._rokconv_file_size(h)));
    if (beside) writeFileSync(beside, copy(m._rokconv_beside_data(h), m._rokconv_beside_size(h)));
  }
}
m._rokconv_release(h);
m._free(at);
process.exit(status);
