// SPDX-License-Identifier: MIT
// Runs the session's rule cases against a Session class (or the module URL
// that exports it) and returns what failed. Self-contained, so that a
// browser can run the very same function on the page's own module.
export async function runCases({ session, cases }) {
    const Session = typeof session === 'string' ? (await import(session)).Session : session;
    const failures = [];
    // Bytes as the cases write them: one character a byte.
    const bytes = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
    const text = (chunks) => chunks.map((b) => String.fromCharCode(...b)).join('');
    const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
    // A text of the cases: a string, or a list of [part, times] to repeat.
    const caseText = (t) => (typeof t === 'string' ? t : t.map(([part, n]) => part.repeat(n)).join(''));
    for (const c of cases) {
        const sent = [];
        const session = new Session({ send: (b) => sent.push(b) });
        const fail = (where, got, want) =>
            failures.push(`${c.name}, ${where}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
        session.opened('Gimbo');
        const join = text(sent.splice(0));
        if (join !== '\x0AGimbo\0') fail('join', join, '\x0AGimbo\0');
        c.steps.forEach((step, i) => {
            const where = `step ${i + 1}`;
            if (step.place) session.place(step.place[0], step.place[1]);
            for (let n = 0; step.receive !== undefined && n < (step.times ?? 1); ++n) {
                session.receive(bytes(step.receive));
                session.tick();
            }
            if (step.reconnect) {
                session.closed();
                session.opened('Gimbo');
                const again = text(sent.splice(0));
                if (again !== '\x0AGimbo\0') fail(`${where} join`, again, '\x0AGimbo\0');
            }
            if (step.walk) session.walk(step.walk);
            if (step.chat !== undefined) session.sendChat(caseText(step.chat));
            if (step.ignoreClient !== undefined) session.ignoreClient(step.ignoreClient);
            if (step.ignoreSpeaker !== undefined) session.ignoreSpeaker(step.ignoreSpeaker);
            if (step.stopIgnoring !== undefined) session.stopIgnoring(step.stopIgnoring);

            const check = (key, got) => {
                if (step[key] !== undefined && !same(got, step[key])) fail(`${where} ${key}`, got, step[key]);
            };
            if (step.sent !== undefined) step = { ...step, sent: caseText(step.sent) };
            check('sent', text(sent.splice(0)));
            check('refusal', session.chatRefusal);
            check('number', session.clientNumber);
            check('own', session.images[Number(session.clientNumber)].left);
            check('facing', session.facing);
            check('transcriptLength', session.transcript.length);
            check('ignored', session.ignoring.map((entry) => entry.describe()));
            check('heard', session.ignoreList.heard);
            for (const [index, want] of Object.entries(step.shown ?? {}))
                if (session.shownImage(Number(index)).visible !== want)
                    fail(`${where} shown ${index}`, !want, want);
            if (step.transcriptEnds !== undefined && !session.transcript.endsWith(step.transcriptEnds))
                fail(`${where} transcriptEnds`, session.transcript.slice(-40), step.transcriptEnds);
            for (const [index, want] of Object.entries(step.images ?? {})) {
                const { left, top, visible, sprite } = session.images[Number(index)];
                if (!same({ left, top, visible, sprite }, want)) fail(`${where} image ${index}`, { left, top, visible, sprite }, want);
            }
        });
    }
    return failures;
}
