// The module's loader reaches Node's files through require and __dirname, which an ES module has
// not; they are made here under Node alone, so that a browser never imports node:module.
const rokconvOnNode = typeof process == 'object' && typeof process.versions == 'object' &&
                      typeof process.versions.node == 'string';
const require = rokconvOnNode ? (await import('node:module')).createRequire(import.meta.url) : undefined;
const __dirname = rokconvOnNode ? (await import('node:path')).dirname(new URL(import.meta.url).pathname) : '';
