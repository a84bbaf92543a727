#!/usr/bin/python3
"""Drops files onto a point of the X screen as a file manager does: an XDND
drag source (protocol version 5) offering text/uri-list.

    xdnd_drop.py REQUEST

REQUEST is a text file: the first line "x y" (root coordinates), then one Unix
path a line. The answer is written to REQUEST + ".answer": "accepted" and
"dropped" when the target took the files, "refused" when the pointer there says
no drop is possible, or "error: ..." with what went wrong. The end-to-end tests
start it from inside Wine to drop onto the launcher's real window.
"""
import sys
import time
import urllib.parse

from Xlib import X, Xatom, display, protocol

WAIT_SECONDS = 10


def main(request_path):
    with open(request_path, encoding="utf-8") as request:
        lines = [line.rstrip("\n") for line in request]
    x, y = (int(v) for v in lines[0].split())
    paths = [p for p in lines[1:] if p]
    uris = "".join("file://" + urllib.parse.quote(p) + "\r\n" for p in paths).encode()

    d = display.Display()
    root = d.screen().root
    atom = lambda name: d.intern_atom(name)
    aware, selection = atom("XdndAware"), atom("XdndSelection")
    enter, position, status = atom("XdndEnter"), atom("XdndPosition"), atom("XdndStatus")
    drop, leave, finished = atom("XdndDrop"), atom("XdndLeave"), atom("XdndFinished")
    copy, uri_list = atom("XdndActionCopy"), atom("text/uri-list")

    # The outermost window below the point that speaks XDND.
    target, window = None, root
    while True:
        child = window.translate_coords(root, x, y).child
        if not child or child.id == X.NONE:
            break
        if child.get_full_property(aware, Xatom.ATOM) is not None:
            target = child
            break
        window = child
    if target is None:
        return "error: no XDND window at %d,%d" % (x, y)

    source = root.create_window(0, 0, 1, 1, 0, X.CopyFromParent, X.InputOutput)
    source.set_selection_owner(selection, X.CurrentTime)

    def send(kind, data):
        event = protocol.event.ClientMessage(window=target, client_type=kind,
                                             data=(32, data + [0] * (5 - len(data))))
        target.send_event(event, event_mask=0)
        d.flush()

    def serve_until(wanted):
        """Answers requests for the files until a message `wanted` arrives."""
        end = time.time() + WAIT_SECONDS
        while time.time() < end:
            if not d.pending_events():
                time.sleep(0.01)
                continue
            event = d.next_event()
            if event.type == X.SelectionRequest:
                prop = event.property or event.target
                if event.target == uri_list:
                    event.requestor.change_property(prop, uri_list, 8, uris)
                else:
                    prop = X.NONE
                notify = protocol.event.SelectionNotify(
                    time=event.time, requestor=event.requestor, selection=event.selection,
                    target=event.target, property=prop)
                event.requestor.send_event(notify, event_mask=0)
                d.flush()
            elif event.type == X.ClientMessage and event.client_type == wanted:
                return event
        return None

    send(enter, [source.id, 5 << 24, uri_list, 0, 0])
    send(position, [source.id, 0, (x << 16) | y, X.CurrentTime, copy])
    answer = serve_until(status)
    if answer is None:
        return "error: no XdndStatus"
    if not answer.data[1][1] & 1:
        send(leave, [source.id, 0])
        return "refused"
    send(drop, [source.id, 0, X.CurrentTime])
    if serve_until(finished) is None:
        return "accepted\nerror: no XdndFinished"
    return "accepted\ndropped"


if __name__ == "__main__":
    try:
        result = main(sys.argv[1])
    except Exception as error:  # told to the test, which says what failed
        result = "error: %r" % (error,)
    with open(sys.argv[1] + ".answer", "w", encoding="utf-8") as out:
        out.write(result + "\n")
