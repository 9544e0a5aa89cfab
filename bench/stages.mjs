// SPDX-License-Identifier: MIT
// Many stages on one host: 100 server processes of 10 clients each, every
// client stepping twice a second, beside one stage alone in the same run.
// Relay latency at the clients, and the memory a stage costs (PSS).
//   node bench/stages.mjs [--server PATH] [--stages N] [--json FILE]
import { readFileSync, writeFileSync } from 'node:fs';
import { fork } from 'node:child_process';
import { performance } from 'node:perf_hooks';
import { fileURLToPath } from 'node:url';
import { Server, TcpPeer } from '../tests/web/harness.mjs';

const argument = (name, fallback) => {
    const i = process.argv.indexOf(name);
    return i > 0 ? process.argv[i + 1] : fallback;
};
process.env.QUANDREL_SERVER = argument('--server', process.env.QUANDREL_SERVER ?? 'build/release/server/quandrel-server');
const stages = Number(argument('--stages', '100'));
const jsonFile = argument('--json', null);
const now = () => performance.timeOrigin + performance.now();
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const percentile = (values, p) => {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.min(sorted.length - 1, Math.floor((p / 100) * sorted.length))];
};
const pssKiB = (pid) => Number(/^Pss:\s+(\d+)/m.exec(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8'))[1]);

// The clients of some stages, in a process of their own: ten a stage, each
// stepping twice a second for `seconds` at its own phase. Latency from each
// step to each client it reaches.
async function clientsOf(ports, seconds) {
    const clients = [];
    for (const [stage, port] of ports.entries()) {
        for (let c = 0; c < 10; ++c) {
            const peer = await TcpPeer.connect(port);
            await peer.join(`S${stage}C${c}`);
            peer.stage = stage;
            clients.push(peer);
        }
    }
    process.send('joined');
    await new Promise((resolve) => process.once('message', resolve));
    const sentAt = new Map();
    const latencies = [];
    for (const peer of clients) {
        peer.onPacket = (packet) => {
            const t = sentAt.get(`${peer.stage}:${packet}`);
            if (t !== undefined) latencies.push(now() - t);
        };
    }
    const period = 500;
    const tick = 5;
    const start = now();
    let x = 0;
    for (let t = 0; t < seconds * 1000; t += tick) {
        const slot = t % period;
        for (let i = 0; i < clients.length; ++i) {
            if (Math.floor((i * period) / clients.length / tick) * tick !== slot) continue;
            const peer = clients[i];
            const packet = `Action${peer.number}GoRightTavroX${++x}Y480Z`;
            sentAt.set(`${peer.stage}:${packet}`, now());
            peer.send(packet);
        }
        const wait = start + t + tick - now();
        if (wait > 0) await sleep(wait);
    }
    await sleep(500);
    for (const peer of clients) peer.close();
    // Large: the process may end only once it has gone.
    await new Promise((resolve) => process.send(latencies, resolve));
}

// `count` stages, their clients split over two measuring processes so that
// one busy event loop does not add to the figures.
async function run(count, seconds) {
    const servers = [];
    for (let s = 0; s < count; ++s) servers.push(await Server.start(['--no-notices']));
    const halves = count > 1 ? [servers.slice(0, count / 2), servers.slice(count / 2)] : [servers];
    const children = halves.map((half) =>
        fork(fileURLToPath(import.meta.url), ['--clients', half.map((s) => s.port).join(','), String(seconds)]));
    const next = (child) => new Promise((resolve) => child.once('message', resolve));
    await Promise.all(children.map(next));
    await sleep(500);
    const results = children.map(next);
    for (const child of children) child.send('go');
    const latencies = (await Promise.all(results)).flat();
    const pss = servers.map((server) => pssKiB(server.process.pid));
    for (const server of servers) await server.stop();
    return {
        p50: percentile(latencies, 50), p99: percentile(latencies, 99), samples: latencies.length,
        pssMiB: pss.reduce((a, b) => a + b, 0) / pss.length / 1024,
    };
}

if (process.argv.includes('--clients')) {
    const i = process.argv.indexOf('--clients');
    await clientsOf(process.argv[i + 1].split(',').map(Number), Number(process.argv[i + 2]));
    process.exit(0);
}

const alone = await run(1, 10);
const many = await run(stages, 10);
const rows = [
    {
        measure: `${stages} stages x 10 clients x 2 steps/s: relay ms p50/p99`,
        value: `${many.p50.toFixed(3)}/${many.p99.toFixed(3)}`,
        baseline: `${alone.p50.toFixed(3)}/${alone.p99.toFixed(3)} one stage`,
        goal: 'p99 < 5', met: many.p99 < 5,
    },
    {
        measure: `${stages} stages: memory a stage, PSS MiB`,
        value: many.pssMiB.toFixed(2), baseline: `${alone.pssMiB.toFixed(2)} one stage`,
        goal: '<= 3', met: many.pssMiB <= 3,
    },
];
const width = [60, 18, 22, 10];
console.log(['measure', 'value', 'baseline', 'goal'].map((h, i) => h.padEnd(width[i])).join(' ') + ' met');
for (const r of rows)
    console.log([r.measure, r.value, r.baseline, r.goal].map((c, i) => String(c).padEnd(width[i])).join(' ') + (r.met ? ' yes' : ' NO'));
console.error(`samples: ${many.samples} (one stage: ${alone.samples})`);
if (jsonFile) writeFileSync(jsonFile, JSON.stringify(rows, null, 2));
