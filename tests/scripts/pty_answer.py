#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal and answers one prompt.

    pty_answer.py PROMPT ANSWER COMMAND...

Waits until PROMPT has appeared in the output, then types ANSWER (Python
escapes such as \\n and \\x03 are understood), and copies everything the
command wrote to standard output. Exits with the command's exit code, or
128 + the signal that ended it. Waiting for the prompt instead of sleeping
keeps the tests steady on a loaded machine; a time limit keeps them finite.
"""
import os
import pty
import select
import sys
import time

LIMIT = 60.0


def main():
    prompt = sys.argv[1].encode()
    answer = sys.argv[2].encode().decode("unicode_escape").encode("latin-1")
    pid, master = pty.fork()
    if pid == 0:
        os.execvp(sys.argv[3], sys.argv[3:])
    output = b""
    answered = False
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
