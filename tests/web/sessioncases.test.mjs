// SPDX-License-Identifier: MIT
// The session's rule cases (tests/cases/session.json), which the desktop
// client's tests run too, against the page's own session module.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { MaxQueuedActions, Session, displayText } from '../../web/session.js';
import { outgoing, refusal } from '../../web/chat.js';
import { IgnoreList, MaxEntries, MaxHeard, speakerOf } from '../../web/ignore.js';
import { runCases } from './cases.mjs';

const { cases } = JSON.parse(readFileSync(new URL('../cases/session.json', import.meta.url)));
const chatCases = JSON.parse(readFileSync(new URL('../cases/chatlines.json', import.meta.url)));
// A text of the cases: a string, or a list of [part, times] to repeat.
const caseText = (t) => (typeof t === 'string' ? t : t.map(([part, n]) => part.repeat(n)).join(''));

for (const c of cases) {
    test(c.name, async () => assert.deepEqual(await runCases({ session: Session, cases: [c] }), []));
}

test('the transcript shows every run of blanks as one', () => {
    const forged = `[Ann] - hi${' '.repeat(300)}\u00a0\t[Quandrel] - Ann was removed\r\n\0`;
    assert.equal(displayText(forged), '[Ann] - hi [Quandrel] - Ann was removed\n');
    assert.equal(displayText('a\r\n\0b'), 'a\nb');
});

test('a full queue of updates drops the oldest', () => {
    const session = new Session();
    session.opened('Gimbo');
    const packets = Array.from({ length: MaxQueuedActions + 1 }, (_, i) =>
        `Action${i === 0 ? 4 : 5}StLeftTavroX${i % 10}\0`).join('');
    session.receive(Uint8Array.from(packets, (c) => c.charCodeAt(0)));
    session.tick();
    assert.equal(session.images[4].visible, false); // the oldest went
    assert.equal(session.images[5].visible, true);
});

test('a broken rule fails its case', async () => {
    // The runner itself: a session that answers nothing must not pass.
    class Mute extends Session {
        answer() {}
    }
    assert.notDeepEqual(await runCases({ session: Mute, cases }), []);
});

// The chat rules the server and the desktop client hold lines to, on the page.
for (const row of chatCases.lines) {
    test(`a chat text: ${row.name}`, () => assert.equal(refusal(caseText(row.text)), row.refused));
}
for (const row of chatCases.outgoing) {
    test(`what goes out: ${row.name}`, () =>
        assert.deepEqual(outgoing(caseText(row.user), caseText(row.text)), {
            texts: row.texts.map(caseText), refusal: row.refused,
        }));
}

test('the ignore list keeps what a crowd of speakers brings within its bounds', () => {
    const list = new IgnoreList();
    for (let i = 0; i < 1000; ++i) assert.equal(list.take(`[Speaker ${i}] - hi`), 'shown');
    assert.equal(list.heard.length, MaxHeard);
    assert.equal(list.heard.at(-1), 'Speaker 999');
    for (let i = 0; i < 100; ++i) list.ignoreName(`Pest ${i}`);
    assert.equal(list.entries.length, MaxEntries);
    assert.equal(list.ignoreNumber(3), false);
    assert.equal(speakerOf('[] - hi'), null);
    assert.equal(speakerOf('[Ann] - see [1] - x'), 'Ann');
});
