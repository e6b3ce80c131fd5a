#!/usr/bin/env python3
"""Independent archive-server oracle for the client tests.

Speaks the archive server's tag-framed protocol with its own reader and writer (regular
expressions, base64, zlib): one request and one answer per TCP connection, then close.

    archive_oracle.py --port 0 --record FILE [--fault NAME] [--badname NAME] [--oversize BYTES]
                      [--digests]

Prints "PORT <n>" on its first stdout line once it listens on 127.0.0.1. Every request is
appended to the record file as one JSON line:
    {"type": "CREATEDOCEXT", "enc": "mime", "comp": "false",
     "items": [latin-1 text of each decoded item, ...], "size": bytes received,
     "answer": latin-1 text of the answer sent (absent for the oversize fault),
     "md5": hex MD5 of the request bytes, "item_md5": [hex MD5 of each decoded item, ...]}
With --digests the items' text is left out of the record (large requests).

Requests served: CREATEDOCEXT (stores the document in memory under a new 32-hex DocId),
GETDOCEXT (a stored document, or a fixed sample for an unknown id), GETBLOB (raw bytes, then
close), QUERYEXT (a fixed two-row hit list), ALIVE.

Fault switches (--fault):
    none        answer normally
    close       read the request, close without answering
    reset       read the request, reset the connection (RST)
    lowerclose  answer, with the closing tag in lower case, then close
    drip        send the answer one byte at a time, 2 ms apart
    stall       read the request, send nothing until the client gives up (GETBLOB: half
                the file, then nothing)
    oversize    answer with an item of --oversize bytes
    error       answer Result=ERROR with a message
    emptyblob   GETBLOB answers nothing and closes
    badname     GETDOCEXT names a file --badname (default "../evil.tif")
    noend       answer without the final ">", then close
"""

import argparse
import base64
import hashlib
import json
import os
import re
import socket
import socketserver
import struct
import sys
import threading
import time
import uuid
import zlib

MAX_REQUEST = 1 << 30

SAMPLE_BLOBS = {
    "0001.tif": b"II*\x00sample tiff page\x00\xff<>=",
    "0002.pdf": b"%PDF-1.4 sample\n%%EOF\n",
}


def b64(data: bytes) -> bytes:
    return base64.b64encode(data)


def item(name: str, value) -> bytes:
    if isinstance(value, str):
        value = value.encode("latin-1")
    return name.encode("latin-1") + b"=" + value


def frame(typ: str, items, close_tag=None) -> bytes:
    body = b"".join(b"<" + b64(i) + b">" for i in items)
    close = close_tag if close_tag is not None else typ
    return (b"<" + typ.encode() + b"><enc=mime><comp=false>" + body + b"</" + close.encode() + b">")


def request_complete(data) -> bool:
    m = re.match(rb"<([^<>]*)>", data[:4096])
    return bool(m) and data.endswith(b"</" + m.group(1) + b">")


def decode_request(data: bytes):
    """Returns (type, options, items as bytes) of a framed request."""
    tokens = [t for t in re.findall(rb"<([^<>]*)>", data) if t]
    if len(tokens) < 2:
        return "", {}, []
    typ = tokens[0].decode("latin-1").strip().upper()
    body = tokens[1:-1]
    options = {}
    items = []
    for t in body:
        low = t.lower()
        if len(options) < 2 and (low.startswith(b"enc=") or low.startswith(b"comp=")):
            k, v = low.split(b"=", 1)
            options[k.decode()] = v.decode("latin-1")
            continue
        items.append(t)
    decoded = []
    for t in items:
        v = t
        if options.get("enc") == "mime" or options.get("comp") in ("true", "ja", "yes", "1"):
            v = base64.b64decode(v + b"=" * (-len(v) % 4))
        if options.get("comp") in ("true", "ja", "yes", "1"):
            raw = zlib.decompress(v)
            (n,) = struct.unpack("<i", raw[:4])
            v = raw[4:4 + n]
        decoded.append(v)
    return typ, options, decoded


class State:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.docs = {}
        self.blobs = dict(SAMPLE_BLOBS)
        self.record = open(args.record, "a", encoding="utf-8") if args.record else None

    def log(self, entry):
        if self.record is None:
            return
        with self.lock:
            self.record.write(json.dumps(entry) + "\n")
            self.record.flush()


def split_item(v: bytes):
    if b"=" not in v:
        return None, v
    k, val = v.split(b"=", 1)
    return k.decode("latin-1"), val


def answer_for(state: State, typ: str, items):
    fault = state.args.fault
    if fault == "error":
        return frame("RESULT", [item("Result", "ERROR"), item("Message", "archive refused")])
    if fault == "oversize":
        return frame("RESULT", [item("Result", "OK"), item("Filler", b"x" * state.args.oversize)])
    if typ == "ALIVE":
        return frame("RESULT", [item("Result", "OK")])
    if typ == "CREATEDOCEXT":
        doc_id = uuid.uuid4().hex.upper()
        index, objects = [], []
        for v in items:
            k, val = split_item(v)
            if k is None:
                continue
            if k.upper().startswith("IDX"):
                index.append((k[3:], val))
            elif k.lower().startswith("obj("):
                objects.append((k[4:-1], val))
        names = []
        with state.lock:
            for n, (ext, data) in enumerate(objects, 1):
                name = "%s_%04d%s" % (doc_id, n, "." + ext if ext else "")
                state.blobs[name] = data
                names.append(name)
            state.docs[doc_id] = (index, names)
        return frame("RESULT", [item("Result", "OK"), item("DocId", doc_id), item("Message", "document stored")])
    if typ == "GETDOCEXT":
        wanted = ""
        for v in items:
            k, val = split_item(v)
            if k is not None and k.upper() == "DOCID":
                wanted = val.decode("latin-1")
        with state.lock:
            doc = state.docs.get(wanted)
        if doc is None:
            doc = ([("Customer", b"4711"), ("Title", b"Sample")], list(SAMPLE_BLOBS))
        index, names = doc
        if fault == "badname":
            # Serve bytes under the hostile name too, so a client that followed it would write.
            names = [state.args.badname]
            with state.lock:
                state.blobs[state.args.badname] = b"evil"
        out = [item("Result", "OK")]
        out += [item("IDX" + k, v) for k, v in index]
        out += [item("OBJ%d" % n, name) for n, name in enumerate(names, 1)]
        return frame("RESULT", out)
    if typ == "QUERYEXT":
        header = b";".join(b64(t) for t in (b"DocId", b"Title", b"Kunde \xe4"))
        row1 = b";".join(b64(t) for t in (b"A1", b"First", b"M\xfcller")) + b";"
        row2 = b";".join(b64(t) for t in (b"B2", b"", b"x;y"))
        return frame("RESULT", [item("Result", "OK"), item("Header", header), item("Row1", row1),
                                item("Row2", row2), item("Message", "2 hits")])
    return frame("RESULT", [item("Result", "ERROR"), item("Message", "unknown request " + typ)])


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        state = self.server.state
        fault = state.args.fault
        sock = self.request
        sock.settimeout(10)
        received = bytearray()
        try:
            while not request_complete(received) and len(received) < MAX_REQUEST:
                chunk = sock.recv(1 << 20)
                if not chunk:
                    break
                received += chunk
        except OSError:
            pass
        data = bytes(received)
        typ, options, items = decode_request(data)
        entry = {"type": typ, "enc": options.get("enc", ""), "comp": options.get("comp", ""),
                 "items": [] if state.args.digests else [v.decode("latin-1") for v in items],
                 "size": len(data), "md5": hashlib.md5(data).hexdigest(),
                 "item_md5": [hashlib.md5(v).hexdigest() for v in items]}

        if typ == "GETBLOB":
            # The raw file request: "<GETBLOB><name></GETBLOB>", answered with the bytes alone.
            m = re.match(rb"<GETBLOB><([^<>]*)></GETBLOB>", data)
            name = m.group(1).decode("latin-1") if m else ""
            with state.lock:
                payload = state.blobs.get(name, b"")
            entry["items"] = [name]
            if fault in ("emptyblob", "close"):
                payload = b""
            entry["answer"] = payload.decode("latin-1")
            state.log(entry)
            if fault == "stall":
                # Half the file, then silence: the client's wait must run out.
                self.send(payload[: len(payload) // 2], "none")
                self.wait_for_client_close()
                return
            self.send(payload, fault)
            return

        if fault == "close":
            state.log(entry)
            return
        if fault == "reset":
            state.log(entry)
            # Close here with a zero linger time: the peer gets RST (no FIN first, which the
            # server framework's own shutdown would send).
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
            return
        if fault == "stall":
            state.log(entry)
            self.wait_for_client_close()
            return

        answer = answer_for(state, typ, items)
        if fault == "lowerclose":
            answer = answer[: answer.rfind(b"</")] + b"</result>"
        elif fault == "noend":
            answer = answer[:-1]
        if fault != "oversize":
            entry["answer"] = answer.decode("latin-1")
        state.log(entry)
        self.send(answer, fault)

    def wait_for_client_close(self):
        sock = self.request
        sock.settimeout(0.1)
        deadline = time.time() + 60
        while time.time() < deadline:
            try:
                if not sock.recv(1):
                    break
            except socket.timeout:
                continue
            except OSError:
                break

    def send(self, payload, fault):
        sock = self.request
        try:
            if fault == "drip":
                for i in range(len(payload)):
                    sock.sendall(payload[i:i + 1])
                    time.sleep(0.002)
            else:
                sock.sendall(payload)
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--record", default="")
    p.add_argument("--fault", default="none")
    p.add_argument("--badname", default="../evil.tif")
    p.add_argument("--oversize", type=int, default=4 << 20)
    p.add_argument("--digests", action="store_true")
    args = p.parse_args()
    # End with the test process that started us, even when it could not stop us itself.
    parent = os.getppid()

    def watch_parent():
        while os.getppid() == parent:
            time.sleep(0.5)
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server = Server(("127.0.0.1", args.port), Handler)
    server.state = State(args)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.05)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
