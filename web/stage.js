// SPDX-License-Identifier: MIT
// The stage's rules: the six avatars, the 21 images, steps, and the remote
// update that places an image from an Action packet. Positions are in twips,
// 15 to a pixel, as the desktop client keeps them.
import { digitsValue, parsePosition, GoLeft, GoRight, StLeft, StRight } from './wire.js';

export const TwipsPerPixel = 15;
export const ImageCount = 21;
export const Step = 50;
export const LeftLimit = 100;
export const RightLimit = 2100;
export const GroundTop = 1080;
export const Start = { left: 1800, top: 480, width: 375, height: 615 };

const sprite = (name, width, height) => ({ name, width, height });

// The selection name, the name the user reads, the wire code (five
// characters) and the sprites facing right and left, in pixels.
export const Roster = [
    { selection: 'Tavro', display: 'Tavro', code: 'Tavro', right: sprite('TavroRight', 15, 27), left: sprite('TavroLeft', 16, 27) },
    { selection: 'Gimbo', display: 'Gimbo', code: 'Gimbo', right: sprite('GimboRight', 15, 31), left: sprite('GimboLeft', 15, 31) },
    { selection: 'Nubo', display: 'Nubo', code: 'Nubo ', right: sprite('NuboRight', 16, 27), left: sprite('NuboLeft', 16, 27) },
    { selection: 'Sorra', display: 'Sorra', code: 'Sorra', right: sprite('SorraRight', 14, 32), left: sprite('SorraLeft', 14, 32) },
    { selection: 'Veck', display: 'Veck', code: 'Veck ', right: sprite('VeckRight', 16, 32), left: sprite('VeckLeft', 16, 32) },
    { selection: 'Jaxorin', display: 'Jaxorin', code: 'Jaxo ', right: sprite('JaxoRight', 21, 27), left: sprite('JaxoLeft', 21, 27) },
];
export const DefaultRow = 1; // Gimbo

export const byCode = (code) => Roster.find((row) => row.code === code) ?? null;
export const bySelection = (name) => Roster.find((row) => row.selection === name) ?? null;
export const bySprite = (name) =>
    Roster.find((row) => row.right.name === name || row.left.name === name) ?? null;

export function newImage() {
    return { left: Start.left, top: Start.top, height: Start.height, visible: false, sprite: '' };
}

export function assignSprite(image, spriteRef) {
    image.sprite = spriteRef.name;
    image.height = spriteRef.height * TwipsPerPixel;
}

// The image a client number caption names: digits, possibly blank-padded,
// within the array; null for anything else.
export function imageIndex(caption) {
    const n = digitsValue(caption.trim());
    return n !== null && n < ImageCount ? n : null;
}

// Both limits are tested against the position before the step.
export const mayStep = (dir, left) => (dir === 'left' ? !(left < LeftLimit) : !(left > RightLimit));
export const stepped = (dir, left) => Math.fround(dir === 'left' ? left - Step : left + Step);

// Where the x text of a move packet stands: "X" and "Y" around it, by the
// length of the direction word and of the x text itself (1-based).
const xRows = [
    [19, 21, 20, 1], [19, 22, 20, 2], [19, 23, 20, 3], [19, 24, 20, 4],
    [20, 22, 21, 1], [20, 23, 21, 2], [20, 24, 21, 3], [20, 25, 21, 4],
];

const at = (text, position) => (position >= 1 && position <= text.length ? text[position - 1] : '');
const field = (text, position, length) => text.substr(position - 1, length);

export function parseUpdate(packet) {
    const update = { index: -1, left: null, avatar: null, step: null, stand: null };
    const number = at(packet, 7);
    if (!(number >= '0' && number <= '9') || number === '') return update;
    update.index = Number(number);
    for (const [xAt, yAt, start, length] of xRows) {
        if (at(packet, xAt) === 'X' && at(packet, yAt) === 'Y') {
            const x = parsePosition(field(packet, start, length));
            if (x !== null) update.left = x;
        }
    }
    update.avatar = byCode(field(packet, 14, 5)) ?? byCode(field(packet, 15, 5));
    if (!update.avatar) return update;
    const wordAt8 = (word) => field(packet, 8, word.length) === word;
    if (wordAt8(GoRight)) update.step = 'right';
    else if (wordAt8(GoLeft)) update.step = 'left';
    else if (wordAt8(StRight) || wordAt8(StLeft)) {
        // A presence answer: "X" and the sender's left edge run to the end,
        // a whole number of up to four digits, below zero for one who stands
        // off the stage on the left.
        const right = wordAt8(StRight);
        update.stand = right ? 'right' : 'left';
        const xAt = right ? 20 : 19;
        const x = packet.slice(xAt);
        const digits = x.startsWith('-') ? x.slice(1) : x;
        if (at(packet, xAt) === 'X' && digits.length <= 4 && digitsValue(digits) !== null)
            update.left = parsePosition(x);
    }
    return update;
}

export function applyUpdate(update, image, groundTop = GroundTop) {
    image.visible = true;
    if (update.left !== null) image.left = update.left;
    if (update.avatar && update.step) {
        image.left = stepped(update.step, image.left);
        assignSprite(image, update.avatar[update.step]);
    } else if (update.avatar && update.stand) {
        assignSprite(image, update.avatar[update.stand]);
    }
    image.top = groundTop - image.height;
}

// The stage's width, in twips: an image beyond it, or wholly left of 0, is
// not on the stage.
export const StageWidth = 2520;

// Whether an image shows on the stage: one who left is stepped wholly off it.
export function onStage(image) {
    const row = image.visible && image.sprite ? bySprite(image.sprite) : null;
    if (!row) return false;
    const sprite = row.right.name === image.sprite ? row.right : row.left;
    return image.left + sprite.width * TwipsPerPixel > 0 && image.left < StageWidth;
}
