// SPDX-License-Identifier: MIT
// Renders docs/web-desktop.png and docs/web-phone.png: the page in headless
// Chromium on a local server, two on the stage, at desktop and phone width.
import { Server, TcpPeer, launchBrowser, openPage, waitFor } from './harness.mjs';

const [desktopFile, phoneFile] = process.argv.slice(2);
const server = await Server.start();
const browser = await launchBrowser();
const dora = await TcpPeer.connect(server.port);
await dora.join('Dora');
dora.send('Action0StLeftTavroX1200');
for (const [file, viewport] of [
    [desktopFile, { width: 1024, height: 720 }],
    [phoneFile, { width: 360, height: 640 }],
]) {
    const page = await openPage(browser, server.url, viewport);
    await page.getByRole('radio', { name: 'Sorra' }).check();
    await page.getByLabel('Your name').fill('Ann');
    await page.getByRole('button', { name: 'Join' }).click();
    await waitFor(() => page.getByRole('img', { name: /Sorra/ }).count(), 'the own avatar');
    dora.send('Action0StLeftTavroX1200');
    dora.send('[Dora] - Hello from the desktop!\r\n');
    await page.getByRole('button', { name: 'Walk left' }).click();
    await page.getByLabel('Message').fill('Hi Dora, I joined from a browser.');
    await page.getByLabel('Message').press('Enter');
    await waitFor(async () => (await page.getByRole('log').textContent()).includes('I joined'), 'the line');
    await page.getByLabel('Message').blur();
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: file, fullPage: true });
    await page.getByRole('button', { name: 'Leave' }).click();
    await page.close();
}
dora.close();
await browser.close();
await server.stop();
