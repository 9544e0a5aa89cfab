// SPDX-License-Identifier: MIT
// Whom this user has chosen not to see, kept on this side alone: nothing of
// it goes to the server. The wire ties no name to a number, so each entry
// follows what it was made from: an avatar's client number (its image is
// not shown; the entry ends once that image has left the stage) or a
// speaker's shown name (their lines are not shown, one placeholder standing
// for each run of them; the entry ends when the stage says that name left).
// The same rules as the desktop client's IgnoreList.
export const MaxEntries = 64;
export const MaxHeard = 8;
const NoticeSpeaker = 'Quandrel';
const LeaveWords = [' left the stage', ' was removed from the stage'];

class Entry {
    constructor(number, name) {
        this.number = number; // -1 for a name's entry
        this.name = name; // '' for a number's entry
    }

    // As a list shows it: "client 3" or "Gimbo 2".
    describe() {
        return this.number >= 0 ? `client ${this.number}` : this.name;
    }
}

// "[name] - text": the speaker's name; null for any other text.
export function speakerOf(line) {
    if (!line.startsWith('[')) return null;
    const end = line.indexOf('] - ');
    return end < 2 ? null : line.slice(1, end); // none, or an empty name
}

export const placeholder = (name) => `lines from ${name} are hidden`;

export class IgnoreList {
    constructor() {
        this.entries = [];
        this.run = ''; // the speaker whose run of hidden lines goes on
        // Speakers whose lines were shown lately, the latest last: whom a
        // user may pair with an avatar, as the wire does not.
        this.heard = [];
    }

    ignoreNumber(number) {
        if (this.hidesNumber(number) || this.entries.length >= MaxEntries) return false;
        this.entries.push(new Entry(number, ''));
        return true;
    }

    ignoreName(name) {
        if (!name || this.indexOfName(name) >= 0 || this.entries.length >= MaxEntries) return false;
        this.entries.push(new Entry(-1, name));
        this.heard = this.heard.filter((heard) => heard !== name);
        return true;
    }

    remove(index) {
        if (index < 0 || index >= this.entries.length) return;
        if (this.entries[index].name === this.run) this.run = '';
        this.entries.splice(index, 1);
    }

    clear() {
        this.entries = [];
        this.run = '';
        this.heard = [];
    }

    hidesNumber(number) {
        return this.entries.some((entry) => entry.number === number);
    }

    indexOfName(name) {
        return this.entries.findIndex((entry) => entry.number < 0 && entry.name === name);
    }

    // What becomes of a chat line as received: 'shown', 'hidden', or
    // 'placeholder' for the first hidden line of a run.
    take(line) {
        const speaker = speakerOf(line);
        if (speaker !== null && this.indexOfName(speaker) >= 0) {
            if (this.run === speaker) return 'hidden';
            this.run = speaker;
            return 'placeholder';
        }
        this.run = '';
        if (speaker !== null && speaker !== NoticeSpeaker) {
            this.heard = this.heard.filter((heard) => heard !== speaker);
            this.heard.push(speaker);
            if (this.heard.length > MaxHeard) this.heard.shift();
        }
        // The stage's notice of a leave ends the entry of the name it names.
        if (speaker === NoticeSpeaker) {
            const text = line.slice(NoticeSpeaker.length + 5).trim();
            for (const words of LeaveWords) {
                const at = text.indexOf(words);
                if (at > 0) {
                    const index = this.indexOfName(text.slice(0, at));
                    if (index >= 0) this.entries.splice(index, 1);
                }
            }
        }
        return 'shown';
    }

    // The number's image has left the stage: its entry ends.
    leftStage(number) {
        this.entries = this.entries.filter((entry) => entry.number !== number);
    }
}
