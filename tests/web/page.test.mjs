// SPDX-License-Identifier: MIT
// The page in Debian's headless Chromium, served by the real server, on one
// stage with a raw TCP client that checks every byte a desktop client gets.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import { mkdtempSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join as joinPath } from 'node:path';
import { runCases } from './cases.mjs';
import { Server, TcpPeer, launchBrowser, openPage, waitFor } from './harness.mjs';

let server;
let browser;
const pages = [];
const peers = [];

before(async () => {
    server = await Server.start();
    browser = await launchBrowser();
});

after(async () => {
    for (const peer of peers) peer.close();
    await browser?.close();
    await server?.stop();
});

async function newPage(viewport) {
    const page = await openPage(browser, server.url, viewport);
    pages.push(page);
    return page;
}

async function newPeer(name) {
    const peer = await TcpPeer.connect(server.port);
    peers.push(peer);
    await peer.join(name);
    return peer;
}

async function join(page, name, avatar) {
    if (avatar) await page.getByRole('radio', { name: avatar }).check();
    await page.getByLabel('Your name').fill(name);
    await page.getByRole('button', { name: 'Join' }).click();
    await waitFor(async () => /Connected to the stage at/.test(await page.getByRole('status').textContent()),
        `${name} to connect`);
}

const leftOf = (page, name) => page.getByRole('img', { name }).getAttribute('data-left');

async function leave(page) {
    await page.getByRole('button', { name: 'Leave' }).click();
    await waitFor(async () => /Left the stage/.test(await page.getByRole('status').textContent()), 'the page to leave');
}

test('a browser and a desktop client walk and chat on one stage', async () => {
    const dora = await newPeer('Dora');
    const page = await newPage();
    await join(page, 'Ann', 'Nubo');
    // The newcomer is announced, and its presence answer is the desktop's, byte for byte.
    await dora.expect('NewUser');
    await dora.expect('Action1StLeftNubo X1800');
    dora.send('Action0StLeftTavroX1800');
    await waitFor(async () => (await leftOf(page, 'Tavro (client 0)')) === '1800', 'Tavro on the page');
    await waitFor(async () => (await leftOf(page, 'Nubo (client 1)')) === '1800', 'Nubo on the ground');

    // Steps both ways.
    dora.send('Action0GoRightTavroX1800Y480Z');
    await waitFor(async () => (await leftOf(page, 'Tavro (client 0)')) === '1850', 'Tavro to step right');
    await page.getByRole('button', { name: 'Walk right' }).click();
    await dora.expect('Action1GoRightNubo X1800Y675Z');
    await waitFor(async () => (await leftOf(page, 'Nubo (client 1)')) === '1850', 'Nubo to step right');
    await page.getByRole('button', { name: 'Walk left' }).click();
    await dora.expect('Action1GoLeftNubo X1850Y675Z');

    // Chat both ways, in Windows-1252; what it cannot hold goes as "?".
    await page.getByLabel('Message').fill('hi € 中');
    await page.getByRole('button', { name: 'Send' }).click();
    await dora.expect('[Ann] - hi \x80 ?\r\n');
    assert.equal(await page.getByLabel('Message').inputValue(), '');
    dora.send('[Dora] - hey \xff\x85\r\n');
    await waitFor(async () => (await page.getByRole('log', { name: 'Transcript' }).textContent()).includes('[Dora] - hey ÿ…'),
        'the chat line on the page');
    await leave(page);
});

test('two with one avatar both get a place, and who leaves is gone from the stage', async () => {
    // A desktop's Connect joins under its avatar's name, as the page does with an empty name.
    const desk = await newPeer('Gimbo');
    const page = await newPage();
    await join(page, '');
    const stage = page.getByRole('region', { name: 'Stage' });
    const transcript = page.getByRole('log', { name: 'Transcript' });
    await waitFor(async () => /the stage knows you as Gimbo 2\n/.test(await transcript.textContent()),
        'the shown name');
    desk.send(`Action${desk.number}GoRightGimboX900Y480Z`);
    const deskImage = stage.getByRole('img', { name: `Gimbo (client ${desk.number})` });
    await waitFor(async () => (await deskImage.count()) === 1, 'the desktop user on the page');
    await page.getByLabel('Message').fill('hi');
    await page.getByRole('button', { name: 'Send' }).click();
    await desk.expect('[Gimbo 2] - hi\r\n');
    await waitFor(async () => /\[Gimbo 2\] - hi\n/.test(await transcript.textContent()), 'the line back');

    desk.close();
    await waitFor(async () => (await deskImage.count()) === 0, 'the leaver gone from the stage');
    // Its image stepped off the stage, where nothing of it shows; the page's own stays.
    const shown = await stage.getByRole('img').evaluateAll((images) => images.map((i) => i.alt));
    assert.ok(shown.some((alt) => /^Gimbo \(client \d\)$/.test(alt)), JSON.stringify(shown));
    assert.equal(await page.locator('img.avatar[hidden]').count() >= 1, true);
    await leave(page);
});

test('a page of another site cannot make its visitor join or speak', async () => {
    const observer = await newPeer('Olga');
    // Another site, on another port: its page POSTs packets to the stage port
    // as any page can, without asking anyone.
    const body = 'x\0\nVisitor\0\x02[Visitor] - sent by another site through your browser\r\n\0';
    const site = createServer((request, response) => {
        response.setHeader('Content-Type', 'text/html; charset=utf-8');
        response.end(`<!doctype html><title>elsewhere</title><script>
            fetch('http://127.0.0.1:${server.port}/', { method: 'POST', mode: 'no-cors',
                body: ${JSON.stringify(body)} }).catch(() => {}).finally(() => { document.title = 'sent'; });
            </script>`);
    });
    await new Promise((resolve) => site.listen(0, '127.0.0.1', resolve));
    try {
        const visit = await browser.newPage();
        await visit.goto(`http://127.0.0.1:${site.address().port}/`);
        await waitFor(async () => (await visit.title()) === 'sent', 'the other site to send its request');
        await waitFor(() => /not a stage client: it sent an HTTP request/.test(server.log()),
            'the stage to turn the request away');
        await visit.close();
    } finally {
        site.close();
    }
    // Nobody joined and nothing was said: the observer's next packet is a
    // newcomer's own.
    const next = await newPeer('Nick');
    await observer.expect('NewUser');
    assert.ok(!/Visitor/.test(server.log()));
    assert.ok(!observer.packets.some((packet) => packet.includes('Visitor')));
    next.close();
    observer.close();
});

test('names and chat are shown as text, never as markup', async () => {
    const page = await newPage();
    await join(page, 'Bea');
    const evil = await newPeer('<img src=x onerror=alert(1)>');
    evil.send('[<img src=x onerror=alert(1)>] - <script>alert(2)</script><b>bold</b>\r\n');
    const transcript = page.getByRole('log', { name: 'Transcript' });
    await waitFor(async () => (await transcript.textContent()).includes('<script>alert(2)</script><b>bold</b>'),
        'the line as text');
    assert.equal(await transcript.locator('*').count(), 0);
    assert.equal(await page.locator('#stage script, #stage b').count(), 0);
    evil.close();
    await leave(page);
});

test('a phone: no scrolling sideways, every target at least 44 px, the stage at a whole scale', async () => {
    const page = await newPage({ width: 360, height: 640 });
    await join(page, 'Cy');
    const sizes = await page.evaluate(() => ({
        scroll: document.documentElement.scrollWidth,
        width: document.documentElement.clientWidth,
        stage: document.getElementById('stage').getBoundingClientRect().width,
        small: [...document.querySelectorAll('button, #avatars label, input:not([type=radio])')]
            .map((e) => [e.id || e.textContent.trim(), e.getBoundingClientRect()])
            .filter(([, r]) => r.width < 44 || r.height < 44)
            .map(([name]) => name),
    }));
    assert.ok(sizes.scroll <= sizes.width, `page ${sizes.scroll} px wide in ${sizes.width}`);
    assert.deepEqual(sizes.small, []);
    // The stage ends with the right post, at every scale.
    assert.equal(sizes.stage % 168, 0, `stage ${sizes.stage} px`);
    assert.ok(sizes.stage >= 336, `stage ${sizes.stage} px`);
    await leave(page);
});

test('everything by keyboard, with the focus in view', async () => {
    const eve = await newPeer('Eve');
    const page = await newPage();
    const keyboard = page.keyboard;
    await keyboard.press('Tab'); // the checked avatar
    assert.equal(await page.evaluate(() => document.activeElement.value), 'Gimbo');
    await keyboard.press('ArrowRight'); // Nubo
    await keyboard.press('ArrowRight'); // Sorra
    const outline = await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle);
    assert.notEqual(outline, 'none');
    await keyboard.press('Tab');
    await keyboard.type('Kay');
    await keyboard.press('Enter');
    await waitFor(async () => /Connected/.test(await page.getByRole('status').textContent()), 'a join by Enter');
    const number = /Action(\d)StLeftSorraX1800/.exec(await eve.expect(/StLeftSorra/))[1];
    // Its own answer, come back, stands it on the ground.
    await waitFor(() => page.getByRole('img', { name: `Sorra (client ${number})` }).count(), 'Sorra on the stage');
    await page.getByRole('region', { name: 'Stage', exact: true }).focus();
    await keyboard.press('ArrowRight');
    await eve.expect(`Action${number}GoRightSorraX1800Y600Z`);
    for (let i = 0; i < 8 && !(await page.evaluate(() => document.activeElement.id === 'message')); ++i)
        await keyboard.press('Tab');
    await keyboard.type('typed');
    await keyboard.press('Enter');
    await eve.expect('[Kay] - typed\r\n');
    await keyboard.press('Tab'); // Send
    await keyboard.press('Tab'); // Time stamp
    await keyboard.press('Space');
    await waitFor(async () => /It is .+ on .+/.test(await page.getByRole('log').textContent()), 'a time stamp');
    await leave(page);
});

test('every control has its name', async () => {
    const page = await newPage();
    for (const [role, name] of [
        ['textbox', 'Your name'], ['textbox', 'Message'], ['radiogroup', 'Avatar'],
        ['button', 'Join'], ['button', 'Leave'], ['button', 'Walk left'], ['button', 'Walk right'],
        ['button', 'Send'], ['button', 'Time stamp'], ['log', 'Transcript'], ['region', 'Stage'],
    ])
        assert.equal(await page.getByRole(role, { name, exact: true }).count(), 1, `${role} "${name}"`);
    for (const name of ['Tavro', 'Gimbo', 'Nubo', 'Sorra', 'Veck', 'Jaxorin'])
        assert.equal(await page.getByRole('radio', { name, exact: true }).count(), 1, name);
});

test('a line that cannot be sent stays in the box', async () => {
    const page = await newPage();
    await page.getByLabel('Message').fill('not yet');
    await page.getByLabel('Message').press('Enter');
    assert.equal(await page.getByLabel('Message').inputValue(), 'not yet');
});

test('a line the server would refuse stays in the box, which says why; a long one goes in pieces', async () => {
    const hal = await newPeer('Hal');
    const page = await newPage();
    await join(page, 'Ivy');
    const box = page.getByRole('textbox', { name: 'Message' });
    await box.fill('see [1] - intro');
    await box.press('Enter');
    assert.equal(await box.inputValue(), 'see [1] - intro');
    const why = 'Not sent: "] - " would look like someone else speaking';
    const transcript = page.getByRole('log', { name: 'Transcript' });
    await waitFor(async () => (await transcript.textContent()).endsWith(`${why}\n`), 'the reason in the transcript');
    assert.equal(await box.evaluate((input) => document.getElementById(input.getAttribute('aria-describedby')).textContent), why);

    // 5,000 characters: two lines cut at a blank, every word in order.
    const text = 'abcd '.repeat(1000);
    await box.fill(text);
    await box.press('Enter');
    assert.equal(await box.inputValue(), '');
    const lines = () => hal.packets.filter((p) => p.startsWith('[Ivy] - ')).map((p) => p.slice(8, -2));
    await waitFor(() => lines().join(' ').split(' ').filter(Boolean).length === 1000, 'every word on the TCP client');
    assert.equal(lines().join(' ').trimEnd(), text.trimEnd());
    assert.equal(await box.evaluate((input) => document.getElementById(input.getAttribute('aria-describedby')).textContent), '');
    await leave(page);
    hal.close();
});

test('joining again after someone left: exactly who is there, and the own avatar on the stage', async () => {
    for (const other of pages) await other.close();
    const jo = await newPeer('Jo');
    const page = await newPage();
    await join(page, 'Kim');
    await jo.expect('NewUser'); // Kim's join done, not only her socket open
    jo.send(`Action${jo.number}GoLeftSorraX900Y480Z`);
    const stage = page.getByRole('region', { name: 'Stage' });
    const shown = () => stage.getByRole('img').evaluateAll((images) => images.map((i) => i.alt).sort());
    await waitFor(async () => (await shown()).length === 2, 'both on the stage');
    jo.close();
    await waitFor(async () => (await shown()).length === 1, 'Jo gone');
    await leave(page);
    await page.getByRole('button', { name: 'Join' }).click();
    await waitFor(async () => (await shown()).join() === `Gimbo (client ${jo.number})`, 'Kim alone, under Jo\'s old number');
    assert.equal(await leftOf(page, `Gimbo (client ${jo.number})`), '1800');
    await page.getByRole('button', { name: 'Walk left' }).click();
    await waitFor(async () => (await leftOf(page, `Gimbo (client ${jo.number})`)) === '1750', 'the first step');
    await leave(page);
});

test('the shared rule cases pass in the browser too', async () => {
    const page = await newPage();
    const { cases } = JSON.parse(readFileSync(new URL('../cases/session.json', import.meta.url)));
    const failures = await page.evaluate(runCases, { session: '/session.js', cases });
    assert.deepEqual(failures, []);
});

test('the connection lost, and joined again once the server is back', async () => {
    // Every other page closed, and everything this one asks for come (its
    // icon last), before the server goes.
    for (const other of pages) await other.close();
    const page = await newPage();
    await join(page, 'Flo');
    // The own avatar stands once the server echoes its presence; its picture
    // is the last thing the page asks for.
    await waitFor(async () => page.evaluate(() => {
        const own = [...document.querySelectorAll('img.avatar')].find((img) => /^Gimbo /.test(img.alt));
        return own !== undefined && !own.hidden && own.complete && own.naturalWidth > 0;
    }), 'Flo to stand on the stage');
    await page.waitForLoadState('networkidle');
    const ports = { stage: server.port, web: Number(new URL(server.url).port) };
    await server.stop();
    await waitFor(async () => /Connection lost: /.test(await page.getByRole('status').textContent()), 'the loss');
    server = await Server.start([], ports);
    const gus = await newPeer('Gus');
    await page.getByRole('button', { name: 'Join' }).click();
    await waitFor(async () => /Connected to the stage at/.test(await page.getByRole('status').textContent()), 'the join');
    await gus.expect('Action1StLeftGimboX1800');
    await leave(page);
});

test('the page over HTTPS joins over WSS, beside a plain TCP client', async () => {
    const dir = mkdtempSync(joinPath(tmpdir(), 'quandrel-tls-'));
    const [pem, key] = [joinPath(dir, 'stage.pem'), joinPath(dir, 'stage.key')];
    execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256',
        '-nodes', '-keyout', key, '-out', pem, '-days', '2', '-subj', '/CN=127.0.0.1',
        '-addext', 'subjectAltName=IP:127.0.0.1'], { stdio: 'ignore' });
    const secure = await Server.start(['--tls-cert', pem, '--tls-key', key]);
    try {
        assert.match(secure.url, /^https:/);
        const hal = await TcpPeer.connect(secure.port);
        peers.push(hal);
        await hal.join('Hal');
        // The browser is told to take the test's own certificate.
        const page = await openPage(browser, secure.url, undefined, { ignoreHTTPSErrors: true });
        pages.push(page);
        await join(page, 'Ivy');
        await hal.expect('Action1StLeftGimboX1800');
        assert.ok(await page.evaluate(() => window.isSecureContext));
        await leave(page);
    } finally {
        await secure.stop();
    }
});

test('looking away from someone by keyboard: their avatar and lines go, and come back', async () => {
    for (const other of pages) await other.close();
    const jo = await newPeer('Jo');
    const page = await newPage();
    await join(page, 'Kim');
    const stage = page.getByRole('region', { name: 'Stage' });
    const people = page.getByRole('list', { name: 'People on the stage' });
    const transcript = page.getByRole('log', { name: 'Transcript' });
    const press = async (name) => {
        const button = people.getByRole('button', { name, exact: true });
        await waitFor(() => button.count(), `the button "${name}"`);
        await button.focus();
        await page.keyboard.press('Enter');
    };
    const joImage = stage.getByRole('img', { name: `Sorra (client ${jo.number})` });
    // The page says it is connected when its socket opens, before its join:
    // Jo steps once the stage has announced Kim, or the step misses her.
    await jo.expect('NewUser');
    jo.send(`Action${jo.number}GoLeftSorraX900Y480Z`);
    await waitFor(() => joImage.count(), 'Jo on the stage');
    await press(`Ignore client ${jo.number}`);
    await waitFor(async () => (await joImage.count()) === 0, 'Jo\'s avatar hidden');
    jo.send(`Action${jo.number}GoLeftSorraX850Y480Z`);

    jo.send('[Jo] - hello\r\n');
    await waitFor(async () => (await transcript.textContent()).includes('[Jo] - hello'), 'Jo\'s first line');
    await press('Ignore Jo');
    jo.send('[Jo] - one\r\n');
    jo.send('[Jo] - two\r\n');
    await waitFor(async () => (await transcript.textContent()).endsWith('lines from Jo are hidden\n'), 'the placeholder');
    assert.ok(!(await transcript.textContent()).includes('[Jo] - one'));

    // Back from the list; nothing of it went to the server.
    await press(`Stop ignoring client ${jo.number}`);
    await waitFor(() => joImage.count(), 'Jo\'s avatar back');
    assert.equal(await leftOf(page, `Sorra (client ${jo.number})`), '800');
    // Jo leaving ends the other.
    jo.close();
    await waitFor(async () => (await people.getByRole('button', { name: 'Stop ignoring Jo' }).count()) === 0,
        'the leave to end it');
    await leave(page);
});

test('no console errors under the content security policy', async () => {
    const response = await fetch(server.url);
    assert.match(response.headers.get('content-security-policy'), /script-src 'self'/);
    for (const page of pages) assert.deepEqual(page.errors, [], page.url());
    assert.ok(pages.length >= 5);
});
