// node assimp.js ASSIMPJS_PACKAGE_DIR IN OUT.json [FILE...]: loads IN (with the FILEs it refers
// to, an OBJ's .mtl) with assimpjs, the Open Asset Import Library for Node.js, and writes what it
// made of it as assimp's JSON. assimpjs triangulates, and sets lines apart as meshes of their
// own. Exits 1 with assimp's error when the import fails.
'use strict';
const fs = require('fs');
const path = require('path');

const [pkgDir, input, output, ...beside] = process.argv.slice(2);
require(path.resolve(pkgDir))().then((ajs) => {
    const files = new ajs.FileList();
    for (const file of [input, ...beside]) {
        files.AddFile(path.basename(file), fs.readFileSync(file));
    }
    const result = ajs.ConvertFileList(files, 'assjson');
    if (!result.IsSuccess() || result.FileCount() === 0) {
        throw new Error(result.GetErrorCode());
    }
    fs.writeFileSync(output, Buffer.from(result.GetFile(0).GetContent()));
}).catch((err) => {
    console.error(`assimp could not import ${input}: ${err.message || err}`);
    process.exit(1);
});
