// SPDX-License-Identifier: MIT
// The wire: bytes, packets and the numbers in them, exactly as the desktop
// client writes and reads them. Strings here hold one character a byte once
// decoded from Windows-1252.

export const DefaultPort = 2579;
// The longest packet a server takes, marker included, terminator not.
export const MaxPacket = 4096;
export const JoinMarker = '\x0A';
export const RelayMarker = '\x02';
export const Terminator = '\0';
export const ClientNumber = 'ClientNumber';
export const NewUser = 'NewUser';
export const Action = 'Action';
export const ChatStart = '[';
export const ChatSeparator = '] - ';
export const LineEnd = '\r\n';
export const GoLeft = 'GoLeft';
export const GoRight = 'GoRight';
export const StLeft = 'StLeft';
export const StRight = 'StRight';

// Code points of the bytes 0x80..0x9F. The five bytes Windows leaves
// undefined map to the C1 control of the same value, so every byte survives
// a round trip.
const highControls = [
    0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178,
];
const byHighControl = new Map(highControls.map((cp, i) => [cp, 0x80 + i]));

// Text to Windows-1252 bytes; a character it does not have becomes "?".
export function encode(text) {
    const out = [];
    for (const ch of text) {
        const cp = ch.codePointAt(0);
        if (cp < 0x80 || (cp >= 0xa0 && cp <= 0xff)) out.push(cp);
        else out.push(byHighControl.get(cp) ?? 0x3f);
    }
    return Uint8Array.from(out);
}

export function decode(bytes) {
    let out = '';
    for (const b of bytes)
        out += String.fromCharCode(b >= 0x80 && b < 0xa0 ? highControls[b - 0x80] : b);
    return out;
}

// Digits only, one to nine of them.
export function digitsValue(text) {
    if (text.length === 0 || text.length > 9 || !/^[0-9]+$/.test(text)) return null;
    return Number(text);
}

function leadingDigits(text) {
    const match = /^[0-9]*/.exec(text);
    return match[0].length;
}

// Positions travel as the shortest text with seven significant digits, as
// C's "%.7g" writes them; never "-0".
export function formatPosition(value) {
    if (value === 0) return '0';
    const [, exponentText] = value.toExponential(6).split('e');
    const exponent = Number(exponentText);
    const trim = (s) => (s.includes('.') ? s.replace(/0+$/, '').replace(/\.$/, '') : s);
    if (exponent < -4 || exponent >= 7) {
        const [mantissa] = value.toExponential(6).split('e');
        const sign = exponent < 0 ? '-' : '+';
        return `${trim(mantissa)}e${sign}${String(Math.abs(exponent)).padStart(2, '0')}`;
    }
    return trim(value.toFixed(6 - exponent));
}

// A whole or decimal number with an optional sign: no exponent, blanks or
// separators. Null for anything else.
export function parsePosition(text) {
    const sign = text.startsWith('-') || text.startsWith('+');
    const magnitude = text.slice(sign ? 1 : 0);
    const whole = digitsValue(magnitude);
    if (whole !== null) return text.startsWith('-') ? -whole : whole;
    if (!/^[0-9]*\.?[0-9]*$/.test(magnitude) || !/[0-9]/.test(magnitude)) return null;
    return Math.fround(Number.parseFloat(text));
}

export const Packets = {
    join: (userName) => JoinMarker + userName + Terminator,
    chatLine: (userName, text) =>
        RelayMarker + ChatStart + userName + ChatSeparator + text + LineEnd + Terminator,
    move: (dir, clientNumber, code, x, y) =>
        `${RelayMarker}${Action}${clientNumber}${dir === 'left' ? GoLeft : GoRight}${code}` +
        `X${formatPosition(x)}Y${formatPosition(y)}Z${Terminator}`,
    presence: (facing, clientNumber, code, x) =>
        `${RelayMarker}${Action}${clientNumber}${facing === 'left' ? StLeft : StRight}${code}` +
        `X${formatPosition(x)}${Terminator}`,
};

// At most this many digits of a client number are read.
const MaxClientNumberLength = 13;

function digitsStart(piece) {
    let at = ClientNumber.length;
    while (at < piece.length && piece[at] === ' ') ++at;
    return at;
}

function digitsLength(piece, start) {
    return Math.min(leadingDigits(piece.slice(start)), MaxClientNumberLength);
}

// Splits what came into packets: at every terminator, and after a client
// number, which has none.
export function forEachPiece(text, take) {
    for (let piece of text.split(Terminator)) {
        if (piece.length === 0) continue;
        while (piece.startsWith(ClientNumber)) {
            const start = digitsStart(piece);
            const end = start + digitsLength(piece, start);
            take(piece.slice(0, end));
            piece = piece.slice(end);
        }
        if (piece.length > 0) take(piece);
    }
}

export function numberLength(text) {
    if (!text.startsWith(ClientNumber)) return 0;
    const start = digitsStart(text);
    const digits = digitsLength(text, start);
    return digits > 0 ? start + digits : 0;
}

export function kindOf(piece) {
    if (piece.startsWith(ClientNumber)) return 'number';
    if (piece.startsWith(NewUser)) return 'newUser';
    if (piece.startsWith(Action)) return 'action';
    if (piece.startsWith(ChatStart)) return 'chat';
    return 'unknown';
}

export function clientNumberOf(piece) {
    if (!piece.startsWith(ClientNumber)) return '';
    const start = digitsStart(piece);
    return piece.slice(start, start + digitsLength(piece, start));
}

// Packets cut anywhere by the network: the unfinished end of one read waits
// for the next, within a bound; past it, the rest of that packet is skipped.
export class ReceivedStream {
    static MaxCarried = 4096;

    constructor() {
        this.reset();
    }

    reset() {
        this.carried = '';
        this.skipping = false;
    }

    feed(read, take) {
        if (this.skipping) {
            const end = read.indexOf(Terminator);
            if (end < 0) return;
            read = read.slice(end + 1);
            this.skipping = false;
        }
        if (this.carried.length > 0) {
            read = this.carried + read;
            this.carried = '';
        }
        const last = read.lastIndexOf(Terminator);
        let tail = read.slice(last + 1);
        if (last >= 0) forEachPiece(read.slice(0, last), take);
        for (let length; (length = numberLength(tail)) > 0; tail = tail.slice(length))
            take(tail.slice(0, length));
        // A whole packet that a server may send without its terminator.
        if (tail === NewUser) {
            take(tail);
            tail = '';
        }
        if (tail.length > ReceivedStream.MaxCarried) this.skipping = true;
        else this.carried = tail;
    }
}
