# SPDX-License-Identifier: MIT
"""The desktop client through the accessibility bus (AT-SPI), as a screen
reader such as Orca reads and drives it: under Xvfb, with a private D-Bus
session, against the real server on loopback and a raw TCP client beside it.

usage: check.py CLIENT SERVER   (run.sh gives it the display and the session)
"""
import os
import re
import socket
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

CLIENT, SERVER = sys.argv[1], sys.argv[2]
WAIT = 20.0
children = []


def fail(why):
    print(f"FAIL: {why}", file=sys.stderr)
    raise SystemExit(1)


def pump():
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def wait_for(what, condition, seconds=WAIT):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump()
        try:
            got = condition()
        except Exception:  # an object gone while looked at: look again
            got = None
        if got:
            return got
        time.sleep(0.05)
    fail(f"timed out after {seconds} s waiting for {what}")


def start_server():
    server = subprocess.Popen([SERVER, "--listen", "127.0.0.1", "--port", "0", "--no-notices"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    children.append(server)
    for line in server.stdout:
        found = re.search(r"listening on \S+ port (\d+)", line)
        if found:
            return int(found.group(1))
    fail("the server did not say where it listens")


class Peer:
    """A raw stage client: joins, sends packets as a desktop client does."""

    def __init__(self, port, name):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        self.sock.sendall(b"\x0a" + name + b"\0")
        got = b""
        while len(got) < 13:
            got += self.sock.recv(13 - len(got))
        self.number = got[12:13].decode()
        self.received = b""

    def send(self, body):
        self.sock.sendall(b"\x02" + body + b"\0")

    def has(self, packet):
        self.sock.settimeout(0.01)
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    break
                self.received += chunk
        except (socket.timeout, BlockingIOError):
            pass
        return packet + b"\0" in self.received

    def close(self):
        self.sock.close()


def find(root, role, name):
    hits = pyatspi.findAllDescendants(
        root, lambda a: a.getRole() == role and a.name == name)
    return hits[0] if len(hits) == 1 else None


def items(lst):
    return [lst.getChildAtIndex(i) for i in range(lst.childCount)]


def main():
    port = start_server()
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
               QT_ACCESSIBILITY="1")
    # The registry first, for the client to find when it comes up.
    desktop = pyatspi.Registry.getDesktop(0)
    wait_for("the accessibility registry", lambda: desktop.childCount >= 0)
    client = subprocess.Popen([CLIENT], env=env)
    children.append(client)

    def the_app():
        for app in desktop:
            if app is not None and app.name.lower().startswith("quandrel"):
                return app
        return None

    app = wait_for("the client on the accessibility bus", the_app)
    window = wait_for("the main window", lambda: app.getChildAtIndex(0))

    # Every control by its role and name.
    R = pyatspi
    controls = {}
    for role, name in [
            (R.ROLE_PUSH_BUTTON, "Walk left"), (R.ROLE_PUSH_BUTTON, "Walk right"),
            (R.ROLE_PUSH_BUTTON, "Connect"), (R.ROLE_PUSH_BUTTON, "Time Stamp"),
            (R.ROLE_TEXT, "Message"), (R.ROLE_TEXT, "Transcript"),
            (R.ROLE_TEXT, "Server address"), (R.ROLE_LABEL, "Client number"),
            (R.ROLE_LABEL, "Position"), (R.ROLE_LIST, "Avatar"), (R.ROLE_LIST, "Stage")]:
        controls[name] = wait_for(f'{pyatspi.Role(role)} "{name}"',
                                  lambda: find(window, role, name))
    avatars = items(controls["Avatar"])
    if [a.name for a in avatars] != ["Tavro", "Gimbo", "Nubo", "Sorra", "Veck", "Jaxorin"]:
        fail(f"the avatar list holds {[a.name for a in avatars]}")
    if any(a.getRole() != R.ROLE_LIST_ITEM for a in avatars):
        fail("an avatar choice is not a list item")
    chosen = [a.name for a in avatars if a.getState().contains(R.STATE_SELECTED)]
    if chosen != ["Gimbo"]:
        fail(f"chosen: {chosen}")

    # Choose, type the address and connect, through the bus alone.
    avatars[3].queryAction().doAction(0)
    wait_for("Sorra chosen",
             lambda: avatars[3].getState().contains(R.STATE_SELECTED)
             and not avatars[1].getState().contains(R.STATE_SELECTED))
    controls["Server address"].queryEditableText().setTextContents(f"127.0.0.1:{port}")
    controls["Connect"].queryAction().doAction(0)
    wait_for("the client number", lambda: controls["Client number"].description == "0")
    stage = controls["Stage"]
    wait_for("the own avatar on the stage",
             lambda: [a.name for a in items(stage)] == ["You, client 0, Sorra"])

    # Another joins: the stage lists it, and its line is heard alone.
    heard = []
    pyatspi.Registry.registerEventListener(
        lambda e: heard.append((e.type, e.source.name, str(e.any_data))),
        "object:text-changed:insert", "object:announcement")
    bob = Peer(port, b"Bob")
    bob.send(b"Action" + bob.number.encode() + b"StLeftVeck X1600")
    wait_for("Bob on the stage", lambda: [a.name for a in items(stage)] == [
        "You, client 0, Sorra", "Client 1, Veck, 4 steps left of you"])
    bob.send(b"[Bob] - hello, Sorra\r\n")
    said = wait_for("the line announced", lambda: [h for h in heard if "hello, Sorra" in h[2]])
    for kind, source, text in said:
        if len(text) > 2 * len("[Bob] - hello, Sorra\n"):
            fail(f"{kind} on {source} carries {len(text)} characters: {text!r}")

    # Walk and write, through the bus alone.
    controls["Walk left"].queryAction().doAction(0)
    wait_for("the step", lambda: controls["Position"].description == "1750")
    wait_for("Bob nearer", lambda: items(stage)[1].name == "Client 1, Veck, 3 steps left of you")
    message = controls["Message"]
    message.queryEditableText().setTextContents("hi there")
    message.queryComponent().grabFocus()
    wait_for("the focus in the box", lambda: message.getState().contains(R.STATE_FOCUSED))
    pyatspi.Registry.generateKeyboardEvent(0xff0d, None, pyatspi.KEY_SYM)  # Return
    wait_for("the line on the stage", lambda: bob.has(b"[Sorra] - hi there\r\n"))
    message.queryEditableText().setTextContents("see [1] - intro")
    pyatspi.Registry.generateKeyboardEvent(0xff0d, None, pyatspi.KEY_SYM)
    wait_for("the reason on the box",
             lambda: message.description.startswith('Not sent: "] - "'))
    if message.queryText().getText(0, -1) != "see [1] - intro":
        fail("the refused line left the box")

    # Bob leaves: the stage drops him.
    bob.close()
    wait_for("Bob gone", lambda: [a.name for a in items(stage)] == ["You, client 0, Sorra"])
    print("ok: every control found, connected, walked, wrote and read through AT-SPI")


try:
    main()
finally:
    for child in reversed(children):
        child.terminate()
        try:
            child.wait(5)
        except subprocess.TimeoutExpired:
            child.kill()
