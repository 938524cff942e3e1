#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal and answers one prompt.

    pty_answer.py [--rows N] [--each PROMPT2 ANSWER2] PROMPT ANSWER COMMAND...

Waits until PROMPT has appeared in the output, then types ANSWER (Python
escapes such as \\n and \\x03 are understood), and copies everything the
command wrote to standard output. --rows makes the terminal N rows high;
--each answers PROMPT2 with ANSWER2 every time it appears (a pager's).
Exits with the command's exit code, or 128 + the signal that ended it. Waiting for the prompt instead of sleeping
keeps the tests steady on a loaded machine; a time limit keeps them finite.
"""
import fcntl
import os
import pty
import select
import struct
import sys
import termios
import time

LIMIT = 60.0


def typed(text):
    return text.encode().decode("unicode_escape").encode("latin-1")


def main():
    args = sys.argv[1:]
    rows, each = None, None
    while args[0] in ("--rows", "--each"):
        if args[0] == "--rows":
            rows, args = int(args[1]), args[2:]
        else:
            each, args = (args[1].encode(), typed(args[2])), args[3:]
    prompt = args[0].encode()
    answer = typed(args[1])
    pid, master = pty.fork()
    if pid == 0:
        if rows:
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, 80, 0, 0))
        os.execvp(args[2], args[2:])
    output = b""
    answered = False
    each_answered = 0
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal closes when the command ends
                break
            if not chunk:
                break
            output += chunk
        if not answered and prompt in output:
            os.write(master, answer)
            answered = True
        if each and output.count(each[0]) > each_answered:
            os.write(master, each[1])
            each_answered += 1
    else:
        os.kill(pid, 9)
        output += b"\n[pty_answer: time limit reached]\n"
    _, status = os.waitpid(pid, 0)
    sys.stdout.buffer.write(output)
    if os.WIFSIGNALED(status):
        return 128 + os.WTERMSIG(status)
    return os.WEXITSTATUS(status)


if __name__ == "__main__":
    sys.exit(main())
