// SPDX-License-Identifier: MIT
// The page: shows the session and hands it what the user and the server do.
// Text from the network only ever goes in as text.
import { Session, displayText } from './session.js';
import { ImageCount, TwipsPerPixel, bySprite, onStage } from './stage.js';

// The stage as it shows, in twips: on the desktop the walking buttons cover
// its last 15 twips, so it ends where the right post does. Its fixed
// pictures, in twips.
const StageSize = { width: 2520, height: 1455 };
const Fixed = {
    background: { left: 0, top: -240, width: 2505, height: 1770 },
    ground: { left: 0, top: 1080, width: 5790, height: 360 },
    post1: { left: 0, top: 360, width: 240, height: 2655 },
    post2: { left: 2280, top: 360, width: 240, height: 2655 },
};
// imgClient(20) is drawn over every other image, imgClient(1) under them all.
const stacking = (index) => (index === 1 ? 3 : index === 0 ? 4 : index + 3);

const $ = (id) => document.getElementById(id);
const ui = {
    status: $('status'), join: $('join'), name: $('name'), joinButton: $('joinButton'),
    leave: $('leave'), avatars: $('avatars'), stage: $('stage'), scene: $('scene'),
    walkLeft: $('walkLeft'), walkRight: $('walkRight'), transcript: $('transcript'),
    say: $('say'), message: $('message'), messageWhy: $('messageWhy'), send: $('send'), stamp: $('stamp'),
    people: $('people'),
};

let socket = null;
let leaving = false;
let scale = 1;
let shownTranscript = null;
let shownPeople = '';
const images = [];

// However many changes one message or click brings, the page is drawn once,
// right after it.
let renderQueued = false;
const session = new Session({
    send: (bytes) => socket?.readyState === WebSocket.OPEN && socket.send(bytes),
    changed: () => {
        if (renderQueued) return;
        renderQueued = true;
        queueMicrotask(() => {
            renderQueued = false;
            render();
        });
    },
});

const clock = () => new Date().toLocaleTimeString();
const setStatus = (text) => {
    ui.status.textContent = text;
};

function watchAvatars() {
    for (const radio of ui.avatars.querySelectorAll('input'))
        radio.addEventListener('change', () => session.selectAvatar(radio.value));
}

function place(element, box) {
    // Moved, not laid out again: a step only shifts the picture.
    const x = (box.left / TwipsPerPixel) * scale;
    const y = (box.top / TwipsPerPixel) * scale;
    element.style.transform = `translate(${x}px, ${y}px)`;
    if (box.width !== undefined) {
        element.style.width = `${(box.width / TwipsPerPixel) * scale}px`;
        element.style.height = `${(box.height / TwipsPerPixel) * scale}px`;
    }
}

// The largest whole scale that fits the width, and leaves room for the chat.
function fit() {
    const panel = ui.stage.parentElement;
    const beside = window.matchMedia('(max-width: 640px)').matches ? 0 : ui.walkLeft.offsetWidth + 8;
    const style = window.getComputedStyle(panel);
    const padding = parseFloat(style.paddingLeft) + parseFloat(style.paddingRight);
    const width = panel.clientWidth - padding - beside;
    const byWidth = Math.floor(width / (StageSize.width / TwipsPerPixel));
    const byHeight = Math.floor((window.innerHeight * 0.5) / (StageSize.height / TwipsPerPixel));
    scale = Math.max(1, Math.min(byWidth, byHeight));
    ui.stage.style.width = `${(StageSize.width / TwipsPerPixel) * scale}px`;
    ui.stage.style.height = `${(StageSize.height / TwipsPerPixel) * scale}px`;
    for (const [name, box] of Object.entries(Fixed))
        place(ui.scene.querySelector(`.${name}`), box);
    for (const image of images) image.dataset.key = '';
    render();
}

function renderImage(index) {
    const state = session.shownImage(index);
    const row = state.sprite ? bySprite(state.sprite) : null;
    let element = images[index];
    if (!state.visible || !row) {
        if (element) element.hidden = true;
        return;
    }
    const sprite = row.right.name === state.sprite ? row.right : row.left;
    // One who left is stepped wholly off the stage, and is not there any more.
    const width = sprite.width * TwipsPerPixel;
    if (state.left + width <= 0 || state.left >= StageSize.width) {
        if (element) element.hidden = true;
        return;
    }
    if (!element) {
        element = document.createElement('img');
        element.className = 'avatar';
        element.style.zIndex = String(stacking(index));
        images[index] = element;
        ui.scene.append(element);
    }
    const key = `${state.sprite} ${state.left} ${state.top} ${scale}`;
    if (element.dataset.key === key && !element.hidden) return;
    element.dataset.key = key;
    element.hidden = false;
    // Setting the same source again would load the picture again.
    const source = `/sprites/${sprite.name}.gif`;
    if (element.getAttribute('src') !== source) element.src = source;
    const name = `${row.display} (client ${index})`;
    if (element.alt !== name) element.alt = name;
    element.dataset.left = String(state.left); // in twips, for whoever looks closer
    place(element, {
        left: state.left, top: state.top,
        width, height: sprite.height * TwipsPerPixel,
    });
}

// One item with its button: `label` read out, `action` named for what it does.
function personItem(label, action, onClick) {
    const item = document.createElement('li');
    const text = document.createElement('span');
    text.textContent = label;
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = action.split(' ')[0] === 'Stop' ? 'Stop ignoring' : 'Ignore';
    button.setAttribute('aria-label', action);
    button.addEventListener('click', onClick);
    item.append(text, button);
    return item;
}

// Everyone on the stage but the user, and every speaker heard lately, each
// with a button to ignore them; and those ignored, each to stop ignoring.
function renderPeople() {
    const own = session.ownIndex();
    const people = [];
    for (let i = 0; i < ImageCount; ++i) {
        const image = session.images[i];
        if (i === own || session.ignoreList.hidesNumber(i) || !onStage(image)) continue;
        people.push([`${bySprite(image.sprite).display} (client ${i})`, `Ignore client ${i}`, () => session.ignoreClient(i)]);
    }
    for (const name of session.speakers)
        people.push([name, `Ignore ${name}`, () => session.ignoreSpeaker(name)]);
    session.ignoring.forEach((entry, i) =>
        people.push([`${entry.describe()}, ignored`, `Stop ignoring ${entry.describe()}`, () => session.stopIgnoring(i)]));
    const key = JSON.stringify(people.map(([label, action]) => [label, action]));
    if (key === shownPeople) return;
    shownPeople = key;
    // Keep the keyboard where it was: on the button of the same name, if any.
    const focused = ui.people.contains(document.activeElement) ? document.activeElement.getAttribute('aria-label') : null;
    ui.people.replaceChildren(...people.map(([label, action, onClick]) => personItem(label, action, onClick)));
    ui.people.hidden = people.length === 0;
    if (focused) ui.people.querySelector(`button[aria-label="${CSS.escape(focused)}"]`)?.focus();
}

function render() {
    for (let i = 0; i < ImageCount; ++i) renderImage(i);
    renderPeople();
    if (session.transcript !== shownTranscript) {
        shownTranscript = session.transcript;
        ui.transcript.textContent = displayText(session.transcript);
        ui.transcript.scrollTop = ui.transcript.scrollHeight; // the newest in view
    }
    const connected = socket !== null;
    ui.joinButton.disabled = connected;
    ui.leave.disabled = !connected;
    ui.name.disabled = connected;
    for (const radio of ui.avatars.querySelectorAll('input')) {
        radio.disabled = connected;
        radio.checked = radio.value === session.row.selection;
    }
}

function reasonOf(event) {
    if (event.reason) return event.reason;
    return event.code === 1006 ? 'the server cannot be reached' : 'the server closed the connection';
}

function join() {
    if (socket) return;
    const name = ui.name.value || session.row.display;
    const url = new URL('/stage', window.location.href);
    url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
    leaving = false;
    socket = new WebSocket(url);
    socket.binaryType = 'arraybuffer';
    setStatus('Connecting…');
    socket.addEventListener('open', () => {
        session.opened(name);
        setStatus(session.connectedLine());
        render();
    });
    socket.addEventListener('message', (event) => {
        if (typeof event.data === 'string') return;
        session.receive(new Uint8Array(event.data));
        session.tick();
    });
    socket.addEventListener('close', (event) => {
        const wasOpen = session.open;
        socket = null;
        session.closed();
        if (leaving) setStatus(`Left the stage at ${clock()}`);
        else if (wasOpen) setStatus(`Connection lost: ${reasonOf(event)}. Join joins again.`);
        else setStatus(`Could not connect: ${reasonOf(event)}. Join tries again.`);
        render();
    });
    render();
}

function leave() {
    if (!socket) return;
    leaving = true;
    socket.close(1000);
}

function sendLine() {
    if (session.sendChat(ui.message.value)) ui.message.value = '';
    // Why a line stays in the box, read out with the box itself.
    ui.messageWhy.textContent = session.chatRefusal;
}

watchAvatars();
ui.join.addEventListener('submit', (event) => {
    event.preventDefault();
    join();
});
ui.leave.addEventListener('click', leave);
ui.walkLeft.addEventListener('click', () => session.walk('left'));
ui.walkRight.addEventListener('click', () => session.walk('right'));
ui.stage.addEventListener('keydown', (event) => {
    const dir = { ArrowLeft: 'left', ArrowRight: 'right' }[event.key];
    if (!dir) return;
    event.preventDefault();
    session.walk(dir);
});
ui.say.addEventListener('submit', (event) => {
    event.preventDefault();
    sendLine();
});
ui.stamp.addEventListener('click', () => session.stampTime());
window.addEventListener('resize', fit);
fit();
// When the stage first shows, for whoever measures the page.
Promise.all([...ui.scene.querySelectorAll('img')].map((img) => img.decode().catch(() => {}))).then(() =>
    requestAnimationFrame(() => performance.mark('stage painted')),
);
