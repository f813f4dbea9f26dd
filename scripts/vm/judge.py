#!/usr/bin/python3
"""Judges what the amplifier on the USB gadget received, as it recorded it: prints one reason per fault
found and exits 1 if there is any.

  judge.py RECORD FIRMWARE_DIR --image KEY [--erase KEY] [--version N] [--broken-off]

--image KEY     the image received in update mode is FIRMWARE_DIR/KEY.syx, byte for byte (with --broken-off:
                a beginning of it, and nothing at all after the amplifier was plugged in again)
--erase KEY     in application mode the amplifier received "erasevs" then "eraseapp" with KEY's device code
--version N     it ended up in application mode reporting firmware version N, and was asked for it there
Without --erase only identity queries may reach it in application mode.

  judge.py RECORD --seen EVENT

exits 0 once the record shows EVENT (for a road waiting on the amplifier), 1 until then:
  attach, detach, plugged-in-again   that line
  image:N                            N messages received in either boot mode
  attach-after-image                 the amplifier back on the bus after the image began
  reply-after-image                  the amplifier answering after the image began
  attach-after-replug                the amplifier on the bus after it was plugged in again

The record's format is the gadget amplifier's (tools/gadget_amp/AmplifierRecord.h); this is its only reader.
"""
import argparse
import sys

MAKER = bytes([0x00, 0x21, 0x5A, 0x00])
QUERY_COMMANDS = (0x03, 0x05)
TEXT_COMMAND = 0x15
# A gap may arrive this much short of its minimum only where the message before it arrived late by as much,
# which the gap before that shows as long: each message's arrival, less the minimum pauses of all before
# it, may not fall below the lowest of its few predecessors'.
# The first message's own lateness shows in no gap before it: the first few messages are held against it as
# though it may have arrived this much late, so that a first gap may fall short by up to half the shortest
# pause (with the tolerance). A sender that skips a pause falls short by more.
LATE_WINDOW = 3
TOLERANCE_MS = 2.0
FIRST_LATE_MS = 8.0


def messages_of(syx):
    out, start = [], None
    for i, b in enumerate(syx):
        if b == 0xF0:
            start = i
        elif b == 0xF7 and start is not None:
            out.append(syx[start : i + 1])
            start = None
    return out


def minimum_gap(previous_length):
    return max(20, previous_length // 3 + 10)


def unpack_text(packed):
    out = []
    i = 0
    while i < len(packed):
        header, count = packed[i], min(7, len(packed) - i - 1)
        for j in range(count):
            out.append(packed[i + 1 + j] | (((header >> (6 - j)) & 1) << 7))
        i += count + 1
    return bytes(out).decode("latin-1")


def events_of(path):
    """The record's lines in order, as (kind, value): ("message", (time, mode, bytes)), ("attach", text),
    ("detach", text), ("reply", text), ("plugged-in-again", None), ("violation", text), ("end", text),
    ("remark", text). A record not yet written is empty."""
    try:
        lines = open(path).read().splitlines()
    except FileNotFoundError:
        return []
    events = []
    for line in lines:
        if not line:
            continue
        if not line.startswith("#"):
            try:
                time, mode, data = line.split(" ")
                events.append(("message", (float(time), mode, bytes.fromhex(data))))
            except ValueError:
                pass  # a line being written: the next look has it whole
            continue
        text = line[2:]
        for kind in ("attach", "detach", "reply", "violation", "end"):
            if text.startswith(kind + " ") or text.startswith(kind + ": "):
                events.append((kind, text[len(kind) + 1 :].lstrip(": ").strip()))
                break
        else:
            events.append(("plugged-in-again", None) if text == "plugged in again" else ("remark", text))
    return events


def seen(events, what):
    kinds = [kind for kind, _ in events]
    image_at = next((i for i, (k, v) in enumerate(events) if k == "message" and v[1] != "app"), None)
    replug_at = kinds.index("plugged-in-again") if "plugged-in-again" in kinds else None
    if what.startswith("image:"):
        return sum(1 for k, v in events if k == "message" and v[1] != "app") >= int(what[len("image:") :])
    if what in ("attach", "detach", "plugged-in-again"):
        return what in kinds
    after = {"attach-after-image": ("attach", image_at), "reply-after-image": ("reply", image_at),
             "attach-after-replug": ("attach", replug_at)}
    if what not in after:
        sys.exit(f"judge.py: no event named {what}")
    kind, since = after[what]
    return since is not None and kind in kinds[since:]


def main():
    if "--seen" in sys.argv:
        parser = argparse.ArgumentParser()
        parser.add_argument("record")
        parser.add_argument("--seen", required=True)
        args = parser.parse_args()
        return 0 if seen(events_of(args.record), args.seen) else 1

    parser = argparse.ArgumentParser()
    parser.add_argument("record")
    parser.add_argument("firmware")
    parser.add_argument("--image", required=True)
    parser.add_argument("--erase")
    parser.add_argument("--version", type=int)
    parser.add_argument("--broken-off", action="store_true")
    args = parser.parse_args()
    reasons = []

    expected = messages_of(open(f"{args.firmware}/{args.image}.syx", "rb").read())
    code = expected[0][5]
    app, image, after_replug, end = [], [], [], None
    asked_after_image = False
    faults = []  # what the amplifier itself found wrong
    replugged = False
    for kind, value in events_of(args.record):
        if kind == "violation":
            faults.append(value)
        elif kind == "plugged-in-again":
            replugged = True
        elif kind == "end":
            end = value
        elif kind == "message":
            time, mode, message = value
            if replugged:
                after_replug.append(message)
            elif mode == "app":
                app.append(message)
                asked_after_image |= bool(image) and len(message) == 8 and message[6] == QUERY_COMMANDS[0]
            else:
                image.append((float(time), message))

    for fault in faults[:3]:
        reasons.append("the amplifier saw a fault: " + fault)
    if len(faults) > 3:
        reasons.append(f"the amplifier saw {len(faults) - 3} more faults")

    # Application mode: identity queries, and the two erase commands where they are due.
    texts = []
    for message in app:
        if len(message) == 8 and message[1:5] == MAKER and message[6] in QUERY_COMMANDS:
            continue
        if len(message) > 8 and message[1:5] == MAKER and message[6] == TEXT_COMMAND:
            texts.append((message[5], unpack_text(message[7:-1])))
            continue
        reasons.append(f"application mode received a message that is no identity query: {message.hex()}")
    if args.erase:
        if [t for _, t in texts] != ["erasevs", "eraseapp"]:
            reasons.append(f'the erase commands were {[t for _, t in texts]}, not ["erasevs", "eraseapp"]')
        for device, text in texts:
            if device != code:
                reasons.append(f'"{text}" carried device code 0x{device:02x}, not 0x{code:02x}')
    elif texts:
        reasons.append(f"text commands reached the amplifier in application mode: {[t for _, t in texts]}")

    # The image, byte for byte.
    received = [m for _, m in image]
    if args.broken_off:
        if not received or len(received) >= len(expected):
            reasons.append(f"{len(received)} of {len(expected)} image messages arrived: no broken-off run")
        if after_replug:
            reasons.append(f"{len(after_replug)} message(s) reached the amplifier after it was plugged in again")
    elif len(received) != len(expected):
        reasons.append(f"{len(received)} image messages arrived, {len(expected)} were due")
    for k, (got, due) in enumerate(zip(received, expected)):
        if got != due:
            at = next((i for i in range(min(len(got), len(due))) if got[i] != due[i]), min(len(got), len(due)))
            what = "device code" if at == 5 else f"byte {at}"
            reasons.append(f"image message {k} differs from {args.image}.syx at its {what}: "
                           f"{got[at:at + 1].hex() or 'end'} where {due[at:at + 1].hex() or 'end'} was due")
            break

    # Pacing, as the messages arrived.
    lowest_gap = None
    slack = []  # arrival less the minimum pauses before it
    due_since_first = 0.0
    too_soon = None  # the first gap found short; one is enough to tell
    for k, (time, message) in enumerate(image):
        if k > 0:
            minimum = minimum_gap(len(image[k - 1][1]))
            due_since_first += minimum
            gap = time - image[k - 1][0]
            lowest_gap = min(lowest_gap or gap / minimum, gap / minimum)
        slack.append(time - image[0][0] - due_since_first)
        if k > 0 and not too_soon:
            window = slack[max(0, k - LATE_WINDOW) : k]
            before = min(window + ([slack[0] - FIRST_LATE_MS] if k <= LATE_WINDOW else []))
            if slack[k] < before - TOLERANCE_MS:
                too_soon = (f"image message {k} arrived {before - slack[k]:.1f} ms too soon: its gap was "
                            f"{time - image[k - 1][0]:.1f} ms, {minimum} ms needed")
                reasons.append(too_soon)
    if slack and slack[-1] < -TOLERANCE_MS:
        reasons.append(f"the image's {len(image)} messages took {-slack[-1]:.1f} ms less than their pauses")

    if args.version is not None and (end is None or f"version {args.version}" not in end):
        reasons.append(f"the amplifier ended with '{end}', not firmware version {args.version}")
    if args.version is not None and not asked_after_image:
        reasons.append("the updater never asked the amplifier for its version after the image")

    for reason in reasons:
        print(reason)
    if image:
        total = image[-1][0] - image[0][0]
        print(f"(image: {len(image)} messages in {total / 1000:.1f} s, {total - due_since_first:.1f} ms over "
              f"their pauses, shortest gap {lowest_gap:.3f} of its minimum)", file=sys.stderr)
    return 1 if reasons else 0


if __name__ == "__main__":
    sys.exit(main())
