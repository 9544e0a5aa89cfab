// SPDX-License-Identifier: MIT
// What a chat line may hold, on the wire's bytes (a string of one character
// a byte, each character's code the byte). The server refuses a line that
// breaks these rules, and the page holds each line to them before sending,
// so that a refused line is never gone from the box. The desktop client and
// the server hold lines to the very same rules.
import { MaxPacket } from './wire.js';

// The longest text one relayed line carries; longer texts travel in pieces.
export const MaxRelayedText = 400;

// A byte that does not show, or shows as nothing.
const isInvisible = (b) =>
    b < 0x20 || b === 0x7f || b === 0x81 || b === 0x8d || b === 0x8f || b === 0x90 ||
    b === 0x9d || b === 0xa0 || b === 0xad;
// A byte no chat line may hold: a control byte other than tab, DEL, or one
// Windows-1252 leaves undefined.
const isControl = (b) => b !== 0x09 && b !== 0xa0 && b !== 0xad && isInvisible(b);

// The line as a reader sees it: every blank and every run of them one blank,
// every dash a hyphen, and what shows as nothing left out.
function lookOfLine(text) {
    let look = '';
    for (let i = 0; i < text.length; ++i) {
        const b = text.charCodeAt(i);
        if (b === 0x20 || b === 0x09 || b === 0xa0) {
            if (!look.endsWith(' ')) look += ' ';
        } else if (b === 0x96 || b === 0x97) {
            look += '-';
        } else if (!isInvisible(b)) {
            look += text[i];
        }
    }
    return look;
}

// A text as pieces of at most `bound` bytes, each cut at the last blank
// before the bound where there is one (the blank itself dropped).
export function pieces(text, bound = MaxRelayedText) {
    const out = [];
    while (text.length > bound) {
        const blank = text.slice(0, bound + 1).lastIndexOf(' ');
        const length = blank > 0 ? blank : bound;
        out.push(text.slice(0, length));
        text = text.slice(blank > 0 ? blank + 1 : length);
    }
    if (text.length > 0 || out.length === 0) out.push(text);
    return out;
}

function pieceRefusal(text) {
    const codes = Array.from(text, (c) => c.charCodeAt(0));
    if (codes.some((b) => b === 0x0d || b === 0x0a)) return 'Not sent: a line cannot hold a line break';
    if (codes.some(isControl)) return 'Not sent: a line cannot hold a control character';
    if (lookOfLine(text).includes('] - '))
        return 'Not sent: "] - " would look like someone else speaking';
    for (const word of ['NewUser', 'ClientNumber'])
        if (text.includes(word)) return `Not sent: "${word}" is a word of the stage's own`;
    if (/Action[0-9]/.test(text)) return 'Not sent: "Action" and a digit are a word of the stage\'s own';
    return null;
}

// Why the text of one chat line could pass for something it is not; null
// when it may go out. Each relayed piece is judged.
export function refusal(text) {
    for (const piece of pieces(text)) {
        const why = pieceRefusal(piece);
        if (why !== null) return why;
    }
    return null;
}

// The most text one chat line under `name` can carry within a packet:
// marker, "[", the name, "] - ", the text, CR LF.
export const roomFor = (name) => MaxPacket - 1 - 1 - name.length - 4 - 2;

// What goes out for a text typed under `name`: the texts of one or more chat
// lines, each within a packet, or why none of it may go.
export function outgoing(name, text) {
    const room = roomFor(name);
    if (room < MaxRelayedText) return { texts: [], refusal: 'Not sent: the name leaves no room for a line' };
    const texts = pieces(text, room);
    // Every piece is judged before any goes: half a text sent is as lost as none.
    for (const piece of texts) {
        const why = refusal(piece);
        if (why !== null) return { texts: [], refusal: why };
    }
    return { texts, refusal: null };
}
