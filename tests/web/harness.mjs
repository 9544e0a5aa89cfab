// SPDX-License-Identifier: MIT
// What the browser tests share: the real server binary on loopback, Debian's
// Chromium that reaches nothing but loopback, and a raw TCP stage client
// for byte-exact checks on the desktop side.
import { spawn } from 'node:child_process';
import { mkdtempSync, openSync, readFileSync } from 'node:fs';
import { createConnection } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const serverBinary = () => process.env.QUANDREL_SERVER ?? 'build/debug/server/quandrel-server';

// Waits for a condition; fails loudly with `what` when it does not come.
// Generous, for a machine busy with other tests.
export async function waitFor(condition, what, ms = 20000) {
    const end = Date.now() + ms;
    for (;;) {
        const value = await condition();
        if (value) return value;
        if (Date.now() > end) throw new Error(`timed out after ${ms} ms waiting for ${what}`);
        await new Promise((resolve) => setTimeout(resolve, 10));
    }
}

// Servers still running when this process ends, for whatever reason, go too.
const running = new Set();
process.on('exit', () => {
    for (const child of running) child.kill('SIGKILL');
});

export class Server {
    // Starts on free loopback ports, or on the ports of an earlier run.
    static async start(options = [], ports = {}) {
        const server = new Server();
        server.dir = mkdtempSync(join(tmpdir(), 'quandrel-web-'));
        server.logFile = join(server.dir, 'server.log');
        const log = openSync(server.logFile, 'a');
        server.process = spawn(serverBinary(), [
            '--listen', '127.0.0.1', '--port', String(ports.stage ?? 0),
            '--web-port', String(ports.web ?? 0), '--tls-port', String(ports.tls ?? 0), ...options,
        ], { stdio: ['ignore', 'ignore', log] });
        running.add(server.process);
        server.process.once('exit', () => running.delete(server.process));
        await waitFor(() => {
            const text = server.log();
            const stage = /listening on \S+ port (\d+)/.exec(text);
            const web = /the page is at (https?:\/\/\S+)/.exec(text);
            if (!stage || (!web && !options.includes('--no-web'))) return false;
            server.port = Number(stage[1]);
            server.url = web?.[1];
            return true;
        }, 'the server to listen');
        return server;
    }

    log() {
        try {
            return readFileSync(this.logFile, 'utf8');
        } catch {
            return '';
        }
    }

    async stop() {
        if (this.process.exitCode !== null) return;
        const exited = new Promise((resolve) => this.process.once('exit', resolve));
        this.process.kill('SIGTERM');
        await exited;
    }
}

// Chromium as the probe of this machine showed it working, kept off every
// network but loopback: no background services, and a proxy on a closed
// loopback port for anything that is not loopback.
export async function launchBrowser() {
    return chromium.launch({
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        args: [
            '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync',
            '--disable-default-apps', '--disable-extensions', '--metrics-recording-only',
            '--proxy-server=http://127.0.0.1:9', '--proxy-bypass-list=127.0.0.0/8;localhost;[::1]',
        ],
    });
}

// A page that records every console error and page error.
export async function openPage(browser, url, viewport = { width: 1024, height: 768 }, options = {}) {
    const context = await browser.newContext({ viewport, ...options });
    const page = await context.newPage();
    page.errors = [];
    page.on('console', (message) => {
        if (message.type() === 'error') page.errors.push(`${message.text()} (${message.location().url})`);
    });
    page.on('pageerror', (error) => page.errors.push(String(error)));
    await page.goto(url);
    return page;
}

// A raw stage client: what a desktop client sends, byte for byte, and every
// packet it is sent.
export class TcpPeer {
    static async connect(port) {
        const peer = new TcpPeer();
        peer.buffer = Buffer.alloc(0);
        peer.packets = [];
        peer.numbered = false;
        peer.closed = false;
        peer.socket = createConnection({ host: '127.0.0.1', port });
        peer.socket.on('data', (data) => peer.take(data));
        peer.socket.on('close', () => {
            peer.closed = true;
        });
        await new Promise((resolve, reject) => {
            peer.socket.once('connect', resolve);
            peer.socket.once('error', reject);
        });
        return peer;
    }

    // Every packet goes to `onPacket` when set (at once, for timing), else
    // onto `packets`.
    take(data) {
        this.buffer = Buffer.concat([this.buffer, data]);
        if (!this.numbered && this.buffer.length >= 13) {
            this.number = this.buffer.subarray(12, 13).toString('latin1');
            this.buffer = this.buffer.subarray(13);
            this.numbered = true;
        }
        for (let end; this.numbered && (end = this.buffer.indexOf(0)) >= 0;) {
            const packet = this.buffer.subarray(0, end).toString('latin1');
            this.buffer = this.buffer.subarray(end + 1);
            if (this.onPacket) this.onPacket(packet);
            else this.packets.push(packet);
        }
    }

    async join(name) {
        this.socket.write(Buffer.from(`\x0A${name}\0`, 'latin1'));
        await waitFor(() => this.numbered, `a number for ${name}`);
        return this.number;
    }

    send(body) {
        this.socket.write(Buffer.from(`\x02${body}\0`, 'latin1'));
    }

    // The next packet that matches, taken off the list; fails when none comes.
    async expect(match, what = String(match)) {
        return waitFor(() => {
            const i = this.packets.findIndex((p) => (typeof match === 'string' ? p === match : match.test(p)));
            return i >= 0 ? this.packets.splice(i, 1)[0] : null;
        }, `${what} on the TCP client; it has ${JSON.stringify(this.packets)}`);
    }

    close() {
        this.socket.destroy();
    }
}
