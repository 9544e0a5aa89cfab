// SPDX-License-Identifier: MIT
// Everything the page knows and does, without the page: the own number,
// avatar and facing, the 21 images of the stage, the transcript and what
// goes out. The same rules as the desktop client's session; the page shows
// its state and calls its commands.
import {
    Packets, ReceivedStream, clientNumberOf, decode, encode, kindOf,
} from './wire.js';
import {
    DefaultRow, GroundTop, ImageCount, Roster, applyUpdate, imageIndex, mayStep, newImage,
    onStage, parseUpdate, stepped,
} from './stage.js';
import { outgoing } from './chat.js';
import { IgnoreList, placeholder, speakerOf } from './ignore.js';

export const TranscriptMax = 10000;
export const TranscriptKeep = 1000;
// Bound on Action packets waiting for the next tick; the oldest go first.
export const MaxQueuedActions = 4096;

// Text as the wire's bytes, one character a byte.
const byteString = (text) => Array.from(encode(text), (b) => String.fromCharCode(b)).join('');

export class Session {
    // `send` takes the bytes of one packet; `changed` hears of every change.
    constructor({ send = () => {}, changed = () => {}, now = () => new Date() } = {}) {
        this.send = send;
        this.changed = changed;
        this.now = now;
        this.open = false;
        this.userName = '';
        this.clientNumber = '0';
        this.numbered = false;
        this.avatar = DefaultRow;
        this.facing = 'left';
        this.images = Array.from({ length: ImageCount }, newImage);
        this.transcript = '';
        this.stream = new ReceivedStream();
        this.actions = [];
        this.answerDue = false;
        this.chatRefusal = ''; // why the last line typed was not sent
        this.ignoreList = new IgnoreList();
    }

    // Whom the user looks away from; nothing of it goes on the wire.
    get ignoring() {
        return this.ignoreList.entries;
    }

    // Speakers heard lately whom the user may ignore: not the user.
    get speakers() {
        return this.ignoreList.heard.filter((name) => name !== this.userName);
    }

    // The image as the stage shows it: hidden while it is ignored.
    shownImage(index) {
        const image = this.images[index];
        return this.ignoreList.hidesNumber(index) ? { ...image, visible: false } : image;
    }

    // Any image on the stage but the own one.
    ignoreClient(index) {
        if (!(index >= 0 && index < ImageCount) || index === this.ownIndex()) return false;
        if (!this.ignoreList.ignoreNumber(index)) return false;
        this.changed();
        return true;
    }

    // Any speaker but the user under the name they joined with.
    ignoreSpeaker(name) {
        if (name === this.userName || !this.ignoreList.ignoreName(name)) return false;
        this.changed();
        return true;
    }

    stopIgnoring(index) {
        this.ignoreList.remove(index);
        this.changed();
    }

    get row() {
        return Roster[this.avatar];
    }

    ownIndex() {
        return imageIndex(this.clientNumber);
    }

    // The connection is open: join as `userName`.
    opened(userName) {
        this.open = true;
        this.userName = userName;
        this.numbered = false;
        this.stream.reset();
        this.actions = []; // steps of the last connection's stage
        this.append(`${this.connectedLine()}\r\n`);
        this.transmit(Packets.join(userName));
    }

    connectedLine() {
        return `Connected to the stage at ${this.now().toLocaleTimeString()}`;
    }

    closed() {
        this.open = false;
        this.changed();
    }

    transmit(packet) {
        this.send(encode(packet));
    }

    // While the connection is closed: the avatar of this selection name.
    selectAvatar(selection) {
        const row = Roster.findIndex((r) => r.selection === selection);
        if (this.open || row < 0) return;
        this.avatar = row;
        this.changed();
    }

    // What one read brought: every piece it completes is dispatched; the
    // rest of an unfinished packet waits for the next read.
    receive(bytes) {
        this.stream.feed(decode(bytes), (piece) => this.dispatch(piece));
    }

    dispatch(piece) {
        switch (kindOf(piece)) {
            case 'number':
                this.takeNumber(piece);
                break;
            case 'newUser':
                this.answerDue = true;
                break;
            case 'action':
                if (this.actions.length >= MaxQueuedActions) this.actions.shift();
                this.actions.push(piece);
                break;
            case 'chat':
                this.showLine(piece);
                break;
        }
    }

    showLine(piece) {
        switch (this.ignoreList.take(piece)) {
            case 'shown':
                this.append(`${piece}\r\n`);
                break;
            case 'placeholder':
                this.append(`${placeholder(speakerOf(piece))}\r\n`);
                break;
        }
    }

    takeNumber(piece) {
        // Only the first number of a connection counts: any peer can have a
        // "ClientNumber" text relayed to everyone later on.
        const digits = clientNumberOf(piece);
        if (this.numbered || digits === '') return;
        this.numbered = true;
        this.clientNumber = digits;
        // A new connection is a new stage: whoever stood on the last one may
        // have left meanwhile, and the own number may have been someone else's.
        this.images = Array.from({ length: ImageCount }, newImage);
        this.ignoreList.clear(); // whoever was ignored may be anyone now
        // Stand on every stage, the own one too, before the first step.
        this.answerDue = true;
        this.changed();
    }

    // What is due after a read: the queued updates, then one presence answer.
    tick() {
        if (this.actions.length > 0) this.applyActions();
        if (this.answerDue) this.answer();
    }

    applyActions() {
        const queued = this.actions;
        this.actions = [];
        for (const packet of queued) {
            const update = parseUpdate(packet);
            if (update.index < 0) continue;
            const image = this.images[update.index];
            applyUpdate(update, image, GroundTop);
            // Whoever comes next under that number is someone else.
            if (this.ignoreList.hidesNumber(update.index) && !onStage(image))
                this.ignoreList.leftStage(update.index);
        }
        this.changed();
    }

    answer() {
        this.answerDue = false;
        const n = this.ownIndex();
        if (this.open && this.numbered && n !== null)
            this.transmit(
                Packets.presence(this.facing, this.clientNumber, this.row.code, this.images[n].left),
            );
    }

    walk(dir) {
        // Before this connection has its number, a step would speak as client 0.
        if (!this.open || !this.numbered) return;
        this.facing = dir;
        const n = this.ownIndex();
        if (n === null || !mayStep(dir, this.images[n].left)) {
            this.changed();
            return;
        }
        const own = this.images[n];
        // The step lands where the packet says, whatever the echo does later.
        const target = stepped(dir, own.left);
        this.transmit(Packets.move(dir, this.clientNumber, this.row.code, own.left, own.top));
        own.left = target;
        this.changed();
    }

    // Stands an image at a left edge, as a remote update would.
    place(index, left) {
        if (index < 0 || index >= ImageCount) return;
        this.images[index].left = Math.fround(left);
        this.changed();
    }

    // True when the line went out; a line that did not stays with the user,
    // and `chatRefusal` says why when the server would have refused it.
    sendChat(text) {
        if (text.length === 0 || !this.open) return false;
        // Held to the server's own rules first: a line it would refuse stays
        // with the user, and a long one goes as several lines.
        const name = byteString(this.userName);
        const out = outgoing(name, byteString(text));
        if (out.refusal !== null) {
            this.chatRefusal = out.refusal;
            this.append(`${out.refusal}\r\n`);
            return false;
        }
        this.chatRefusal = '';
        for (const piece of out.texts)
            this.send(Uint8Array.from(Packets.chatLine(name, piece), (c) => c.charCodeAt(0)));
        return true;
    }

    stampTime() {
        const now = this.now();
        this.append(`It is ${now.toLocaleTimeString()} on ${now.toLocaleDateString()}\r\n`);
    }

    append(text) {
        this.transcript += text;
        // A cut happens at most once per 9000 characters appended.
        if (this.transcript.length > TranscriptMax)
            this.transcript = this.transcript.slice(-TranscriptKeep);
        this.changed();
    }
}

// The transcript as the page shows it: no terminators, CR LF as one break,
// and every run of blanks (tabs and no-break spaces too) as one, so that no
// line's text can push what follows it to the start of a line of its own
// and pass for another speaker there.
export function displayText(text) {
    return text.replaceAll('\0', '').replace(/\r\n?/g, '\n').replace(/[ \t\u00a0]{2,}/g, ' ');
}
