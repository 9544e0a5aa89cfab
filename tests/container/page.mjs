// SPDX-License-Identifier: MIT
// The browser's half of the container check: the page that the stage in the
// container serves joins that stage, sees the desktop client there, and says
// so in the meeting folder; it leaves once the desktop client has seen it.
//   node tests/container/page.mjs PAGE-URL MEETING-FOLDER
import { existsSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, openPage, waitFor } from '../web/harness.mjs';

const [url, meeting] = process.argv.slice(2);
const browser = await launchBrowser();
try {
    const page = await openPage(browser, url);
    await page.getByLabel('Your name').fill('Ann');
    await page.getByRole('button', { name: 'Join' }).click();
    const status = page.getByRole('status');
    await waitFor(async () => /Connected to the stage at/.test(await status.textContent()), 'the page to join', 30000);
    // Images are named by avatar and number: on a stage of its own, two
    // are the page's and the desktop client's.
    const stage = page.getByRole('region', { name: 'Stage' });
    const shown = async () => (await stage.getByRole('img').evaluateAll((images) => images.map((i) => i.alt)))
        .filter((alt) => /\(client \d+\)$/.test(alt));
    const both = await waitFor(async () => ((await shown()).length >= 2 ? shown() : null),
        'the desktop client on the page', 60000);
    writeFileSync(join(meeting, 'page-saw-desktop'), `${both.join(', ')}\n`);
    await waitFor(() => existsSync(join(meeting, 'desktop-saw-page')), 'the desktop client to see the page', 60000);
    if (page.errors.length) throw new Error(`the page reported errors: ${page.errors.join('; ')}`);
    console.log(`the page saw ${both.join(' and ')}`);
} finally {
    await browser.close();
}
