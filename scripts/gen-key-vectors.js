#!/usr/bin/env node
// Writes tests/unit/data/eddsa_vectors.txt: EdDSA (edwards25519, BLAKE2b-512)
// vectors, one a line: seed public-key message signature (hex).
// Needs monocypher-wasm@3.1.3-0 in deps/npm:
//   npm install --prefix deps/npm monocypher-wasm@3.1.3-0
const path = require('path');
const fs = require('fs');
const root = path.join(__dirname, '..');
const mc = require(path.join(root, 'deps/npm/node_modules/monocypher-wasm'));
const hex = (b) => Buffer.from(b).toString('hex');
mc.ready.then(() => {
  const lines = [];
  const messages = ['', 'drovemark-auth-v1', 'x'.repeat(200)];
  for (let v = 0; v < 6; v++) {
    const seed = Buffer.alloc(32);
    for (let i = 0; i < 32; i++) seed[i] = (v * 53 + i * 11 + 3) & 255;
    let msg = Buffer.from(messages[v % messages.length]);
    if (v >= 3) msg = Buffer.concat([Buffer.from('drovemark-auth-v1'), Buffer.alloc(32, v * 17)]);
    const pub = mc.crypto_sign_public_key(seed);
    const sig = mc.crypto_sign(seed, pub, msg);
    if (!mc.crypto_check(sig, pub, msg)) throw new Error('own check failed');
    lines.push([hex(seed), hex(pub), msg.length ? hex(msg) : '-', hex(sig)].join(' '));
  }
  fs.writeFileSync(path.join(root, 'tests/unit/data/eddsa_vectors.txt'), lines.join('\n') + '\n');
});
