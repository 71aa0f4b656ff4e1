// rokconv for Node: the command line built to WebAssembly, run on Node's own files.
//   node rokconv-node.mjs [rokconv's arguments]
// The same arguments, messages, exit status and output bytes as the native program.
import { createRequire } from 'node:module';

createRequire(import.meta.url)('./rokconv-node-core.js');
