# Owns one session of a kind of tool (test, run, bench) from its lock to the end of its clean-up.
#
#     session.py KIND BUILD PREFIX -- COMMAND...
#
# Holds BUILD/session-KIND.lock (one session of a kind at a time; the next one waits), stops what a
# session of the kind killed outright left behind, then runs COMMAND in a session of its own with a
# temporary folder of its own as TMPDIR. However the command ends, or whatever signal this process
# gets (Ctrl-C, Ctrl-\, kill, a closed terminal, its group stopped), everything in that session is
# stopped, the Wine prefix PREFIX's server and programs too, and the folder removed, before the lock
# goes. Ctrl-Z pauses the whole session with this process, and fg or bg resumes it.
# The lock is never inherited: Python opens no descriptor for children, so Wine's services and the
# rest cannot keep the next session waiting. Exits with the command's status, or 128 + the signal.
import fcntl
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT)
HANDLED = SIGNALS + (signal.SIGTSTP,)
stopping = False
session = None  # (sid, start) of the command's session once it runs


class Stopped(Exception):
    """A signal arrived: the session ends through its clean-up."""


def on_signal(number, _frame):
    global stopping
    if not stopping:  # a second Ctrl-C must not cut the first one's clean-up short
        stopping = True
        raise Stopped(number)


def on_pause(_number, _frame):
    # Ctrl-Z reaches only this process: the command runs in a session of its own, out of the
    # terminal's reach. Its members are stopped first, then this process; fg or bg resumes both.
    if session:
        stopped = set()
        while new := set(members(*session)) - stopped:  # until none forked before it stopped
            signal_all(new, signal.SIGSTOP)
            stopped |= new
    os.kill(os.getpid(), signal.SIGSTOP)
    if session:
        signal_all(members(*session), signal.SIGCONT)


def signal_all(pids, number):
    for pid in pids:
        try:
            os.kill(pid, number)
        except OSError:
            pass


def boot_id():
    with open("/proc/sys/kernel/random/boot_id") as f:
        return f.read().strip()


def process(pid):
    # (state, session id, start time in ticks since boot) of a process, or None if it is gone.
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()  # the name in parentheses may hold blanks
    return fields[0], int(fields[3]), int(fields[19])


def members(sid, start):
    # The live processes of session sid, if it is the one that started at start. While a process
    # of a session lives, its id names no other process; a leader that started at another time is a
    # stranger that got the number later.
    leader = process(sid)
    if leader and leader[2] != start:
        return []
    infos = ((int(name), process(name)) for name in os.listdir("/proc") if name.isdigit())
    return [pid for pid, i in infos if i and i[0] != "Z" and i[1] == sid and i[2] >= start]


def stop_session(sid, start):
    # TERM to every process of the session, then KILL to what is left after 5 s. A paused process
    # acts on TERM only once continued.
    for number in (signal.SIGTERM, signal.SIGKILL):
        pids = members(sid, start)
        signal_all(pids, number)
        signal_all(pids, signal.SIGCONT)
        deadline = time.monotonic() + 5
        while members(sid, start) and time.monotonic() < deadline:
            time.sleep(0.1)


def stop_wine(prefix):
    # Stops the prefix's wineserver and its programs (Wine's own services leave the session), and
    # removes the server's folder that Debian's Wine makes in /tmp and never removes.
    if not os.path.isdir(prefix):
        return
    env = {k: v for k, v in os.environ.items() if k != "TMPDIR"}  # Debian 13's Wine aborts with it
    try:
        subprocess.run(["wineserver", "-k"], env=dict(env, WINEPREFIX=prefix), timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        pass
    st = os.stat(prefix)
    server = f"server-{st.st_dev:x}-{st.st_ino:x}"  # named after the prefix's device and inode
    for folder in glob.glob("/tmp/wine-??????"):
        try:
            if os.stat(folder).st_uid == os.getuid() and os.listdir(folder) == [server]:
                shutil.rmtree(folder)
        except OSError:
            pass
    if os.path.lexists(os.path.join(prefix, "wineserver")):
        os.remove(os.path.join(prefix, "wineserver"))


def clear(record, kind, prefix):
    # Stops what the record names: "BOOT SID START FOLDER". After a reboot nothing of that session
    # runs, and its numbers name others' processes.
    try:
        with open(record) as f:
            boot, sid, start, folder = f.read().rstrip("\n").split(" ", 3)
        if int(sid) and boot == boot_id():
            stop_session(int(sid), int(start))
        if os.path.basename(folder).startswith(f"tavro-{kind}."):
            shutil.rmtree(folder, ignore_errors=True)
        os.remove(record)
    except (OSError, ValueError):
        pass
    stop_wine(prefix)


def save(record, sid, start, folder):
    with open(record + ".new", "w") as f:
        f.write(f"{boot_id()} {sid} {start} {folder}\n")
    os.replace(record + ".new", record)


def main(argv):
    global session
    if len(argv) < 6 or argv[4] != "--":
        sys.exit("usage: session.py KIND BUILD PREFIX -- COMMAND...")
    kind, build, prefix, command = argv[1], argv[2], argv[3], argv[5:]
    for number in SIGNALS:
        signal.signal(number, on_signal)
    signal.signal(signal.SIGTSTP, on_pause)
    try:
        os.makedirs(build, exist_ok=True)
        lock = os.open(os.path.join(build, f"session-{kind}.lock"), os.O_WRONLY | os.O_CREAT, 0o644)
    except OSError as error:
        sys.exit(f"{kind}: cannot write in {build} ({error.strerror}); clone the "
                 "checkout into a folder of your own, or set TAVRO_BUILD_DIR to one you can write")
    try:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"{kind}: waiting for the other tools/{kind}.sh in this checkout to end",
                  file=sys.stderr, flush=True)
            fcntl.flock(lock, fcntl.LOCK_EX)
    except Stopped as stop:
        return 128 + stop.args[0]  # stopped while waiting: the other session is not ours to end
    record = os.path.join(build, f"session-{kind}.record")
    status = 1
    try:
        clear(record, kind, prefix)
        parent = os.environ.get("TMPDIR") or "/tmp"
        try:
            folder = tempfile.mkdtemp(prefix=f"tavro-{kind}.", dir=parent)
        except OSError as error:
            sys.exit(f"{kind}: cannot make a temporary folder in {parent} ({error.strerror}); "
                     "set TMPDIR to a writable folder")
        # Others may pass, not look: the package test builds in it as another user too.
        os.chmod(folder, 0o711)
        save(record, 0, 0, folder)
        # A signal while the command starts waits until its session is known and recorded, or the
        # command would run on unowned. The command itself starts with none blocked.
        signal.pthread_sigmask(signal.SIG_BLOCK, HANDLED)
        try:
            child = subprocess.Popen(
                command, env=dict(os.environ, TMPDIR=folder, TAVRO_SESSION=kind),
                stdin=subprocess.DEVNULL, start_new_session=True,
                preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_UNBLOCK, HANDLED))
            session = (child.pid, process(child.pid)[2])
            save(record, *session, folder)
        finally:
            signal.pthread_sigmask(signal.SIG_UNBLOCK, HANDLED)
        status = child.wait()
        status = 128 - status if status < 0 else status
    except Stopped as stop:
        status = 128 + stop.args[0]
    finally:
        for number in HANDLED:
            signal.signal(number, signal.SIG_IGN)  # the clean-up runs to its end
        clear(record, kind, prefix)  # the record names the command's session once it started
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
