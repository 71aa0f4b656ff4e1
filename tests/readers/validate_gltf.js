// node validate_gltf.js NODE_MODULES_DIR FILE...: validates glTF files (a .gltf's buffers beside
// it) with the Khronos glTF-Validator. Prints "ok FILE" or "FAIL FILE: ISSUES" for each: any error
// or warning fails, infos and hints do not. Exits 1 when any failed.
'use strict';
const fs = require('fs');
const path = require('path');

const [modules, ...files] = process.argv.slice(2);
const validator = require(path.resolve(modules, 'gltf-validator'));
(async () => {
    let failed = 0;
    for (const file of files) {
        const issues = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
            maxIssues: 0,
            externalResourceFunction: async (uri) => new Uint8Array(
                fs.readFileSync(path.resolve(path.dirname(file), decodeURIComponent(uri)))),
        }).then((report) => report.issues.messages.filter((m) => m.severity <= 1)
            .map((m) => `${m.code} ${m.pointer || ''} ${m.message}`), (err) => [`${err}`]);
        failed += issues.length > 0;
        console.log(issues.length ? `FAIL ${file}: ${issues.slice(0, 5).join('; ')}`
            : `ok ${file}`);
    }
    process.exit(failed ? 1 : 0);
})();
