#!/usr/bin/env node
// Writes tests/unit/data/update_manifest.txt, a manifest.txt signed by another
// EdDSA (edwards25519, BLAKE2b-512) implementation, and update_manifest.key,
// the public key that checks it (hex). The manifest has comment lines before
// its header, CR LF line ends and text after the signature digits.
// Needs monocypher-wasm@3.1.3-0 in deps/npm:
//   npm install --prefix deps/npm monocypher-wasm@3.1.3-0
const path = require('path');
const fs = require('fs');
const root = path.join(__dirname, '..');
const mc = require(path.join(root, 'deps/npm/node_modules/monocypher-wasm'));
const hex = (b) => Buffer.from(b).toString('hex');
mc.ready.then(() => {
  const seed = Buffer.alloc(32);
  for (let i = 0; i < 32; i++) seed[i] = (i * 13 + 5) & 255;
  const pub = mc.crypto_sign_public_key(seed);
  const signed = Buffer.from(
    '# drovemark release manifest\r\n' +
    '\r\n' +
    'drovemark-manifest 1\r\n' +
    'build alpha-1-0-g0123abc\r\n' +
    'api 1\r\n' +
    'file drovemark.dll ' + 'ab'.repeat(32) + ' 123456 win64/drovemark.dll\r\n' +
    'file drovemark_core.dll ' + '0123456789ABCDEF'.repeat(4) + ' 67108864 win64/core/drovemark_core-1.0+r2.dll\r\n');
  const sig = mc.crypto_sign(seed, pub, signed);
  if (!mc.crypto_check(sig, pub, signed)) throw new Error('own check failed');
  const text = Buffer.concat([signed, Buffer.from('sig ' + hex(sig).toUpperCase() + '  signed by the release tool\r\n')]);
  fs.writeFileSync(path.join(root, 'tests/unit/data/update_manifest.txt'), text);
  fs.writeFileSync(path.join(root, 'tests/unit/data/update_manifest.key'), hex(pub) + '\n');
});
