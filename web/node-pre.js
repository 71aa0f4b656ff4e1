// the module's bytes read here, from beside this script: given a path, the loader tries Node
// 20's fetch, which takes only URLs
Module['wasmBinary'] = require('fs').readFileSync(__filename.replace(/\.js$/, '.wasm'));
// the standard streams are terminals only where Node's are, so that isatty (the progress line)
// answers as it does natively
Module['preRun'] = [function() {
  var make = FS.createStandardStreams;
  FS.createStandardStreams = function() {
    make();
    for (var fd = 0; fd < 3; ++fd) FS.streams[fd].tty = require('tty').isatty(fd);
  };
}];
