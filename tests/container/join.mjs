// SPDX-License-Identifier: MIT
// Joins the stage on each loopback port given, as a desktop client does,
// and checks that each gives its first comer the number 0: stages that
// share nothing.
//   node tests/container/join.mjs PORT...
import { TcpPeer } from '../web/harness.mjs';

const peers = [];
for (const port of process.argv.slice(2).map(Number)) {
    const peer = await TcpPeer.connect(port);
    peers.push(peer);
    const number = await peer.join(`Guest${port}`);
    if (number !== '0') throw new Error(`the stage on port ${port} gave number ${number}, not 0`);
    console.log(`joined the stage on port ${port} as client ${number}`);
}
for (const peer of peers) peer.close();
