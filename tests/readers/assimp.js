// Loads a LightWave object with the Open Asset Import Library (assimpjs, its build for Node.js)
// and writes what assimp made of it as assimp's own JSON ("assjson"):
//
//   node assimp.js ASSIMPJS_PACKAGE_DIR IN.LWO OUT.json
//
// assimpjs imports with Triangulate, JoinIdenticalVertices, SortByPType and GenUVCoords, so faces
// come back as triangles and two-point polygons as line meshes of their own. Exits 1 with
// assimp's error when the import fails.
'use strict';
const fs = require('fs');
const path = require('path');

const [pkgDir, input, output] = process.argv.slice(2);
require(path.resolve(pkgDir))().then((ajs) => {
    const files = new ajs.FileList();
    files.AddFile(path.basename(input), fs.readFileSync(input));
    const result = ajs.ConvertFileList(files, 'assjson');
    if (!result.IsSuccess() || result.FileCount() === 0) {
        throw new Error(result.GetErrorCode());
    }
    fs.writeFileSync(output, Buffer.from(result.GetFile(0).GetContent()));
}).catch((err) => {
    console.error(`assimp could not import ${input}: ${err.message || err}`);
    process.exit(1);
});
