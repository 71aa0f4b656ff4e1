// Loads a LightWave object with the Open Asset Import Library (the assimpjs build for
// Node.js) and writes what assimp made of it as assimp's own JSON ("assjson").
//
//   node tools/reader_assimp.js ASSIMPJS_PACKAGE_DIR IN.LWO OUT.json
//
// assimpjs imports with Triangulate, JoinIdenticalVertices, SortByPType and GenUVCoords,
// so faces come back as triangles, two-point polygons as separate line meshes, and each
// mesh has its own (joined) vertex list. Exits 1 with assimp's error text when the import
// fails.
'use strict';

const fs = require('fs');
const path = require('path');

if (process.argv.length !== 5) {
    console.error('usage: node reader_assimp.js ASSIMPJS_PACKAGE_DIR IN.LWO OUT.json');
    process.exit(2);
}
const [pkgDir, input, output] = process.argv.slice(2);

require(path.resolve(pkgDir))().then((ajs) => {
    const files = new ajs.FileList();
    files.AddFile(path.basename(input), fs.readFileSync(input));
    const result = ajs.ConvertFileList(files, 'assjson');
    if (!result.IsSuccess() || result.FileCount() === 0) {
        console.error(`assimp could not import ${input}: ${result.GetErrorCode()}`);
        process.exit(1);
    }
    fs.writeFileSync(output, Buffer.from(result.GetFile(0).GetContent()));
}).catch((err) => {
    console.error(`assimpjs failed on ${input}: ${err}`);
    process.exit(1);
});
