"""A single-node Slurm on this machine: its own munge key and socket, its own
ports, configuration, state and logs in one directory; up in a few seconds,
and stopped with every process it made, leaving nothing behind.

tools/local_slurm.sh runs it from the command line, to try the batch
workflow's Slurm profile without a cluster; the workflow's tests start one
of their own with SingleNodeSlurm.
"""

import argparse
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PROGRAMS = (
    "munged",
    "slurmctld",
    "slurmd",
    "sbatch",
    "scontrol",
    "sinfo",
    "squeue",
    "scancel",
)
# What tools/local_slurm.sh keeps its cluster in, unless told otherwise.
DEFAULT_DIR = os.path.join(os.environ.get("TMPDIR", "/tmp"), "strellix-slurm")
# The file of the state directory that names the daemons started there.
DAEMONS_FILE = "daemons"


def missing_programs():
    return [
        p
        for p in PROGRAMS
        if shutil.which(p) is None and not os.path.exists(f"/usr/sbin/{p}")
    ]


def program(name):
    return shutil.which(name) or f"/usr/sbin/{name}"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def end_with_parent():
    """A daemon started by a test dies with the test process, even one
    killed by a timeout."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_time(pid):
    """When the process started (clock ticks after boot), or None when there
    is no such process or it has ended; tells a daemon from a later process
    that got its id."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return None if fields[0] in ("Z", "X") else fields[19]


class StartedDaemon:
    """A daemon started by an earlier `start`, with the few methods of
    subprocess.Popen that stopping it needs."""

    def __init__(self, pid, started):
        self.pid = pid
        self.started = started

    def poll(self):
        return None if start_time(self.pid) == self.started else 0

    def terminate(self):
        self.signal(signal.SIGTERM)

    def kill(self):
        self.signal(signal.SIGKILL)

    def signal(self, number):
        if self.poll() is None:
            try:
                os.kill(self.pid, number)
            except ProcessLookupError:
                pass

    def wait(self, timeout):
        deadline = time.monotonic() + timeout
        while self.poll() is None:
            if time.monotonic() > deadline:
                raise subprocess.TimeoutExpired(str(self.pid), timeout)
            time.sleep(0.1)
        return 0


class SingleNodeSlurm:
    """with SingleNodeSlurm() as slurm: slurm.env has SLURM_CONF.

    By default the cluster lives in a new temporary directory and its daemons
    end with this process. With `root` it lives there, and with `detached`
    its daemons outlive this process: SingleNodeSlurm.attach(root) finds
    them again, to stop them."""

    def __init__(self, cpus=None, root=None, detached=False):
        self.root = root
        self.owns_root = root is None
        self.detached = detached
        self.cpus = cpus or os.cpu_count()
        self.processes = []
        self.env = dict(os.environ)
        if root is not None:
            self.env["SLURM_CONF"] = self.path("slurm.conf")

    @classmethod
    def attach(cls, root):
        """The cluster started in `root` by an earlier process; its daemons
        that are still running are in `processes`."""
        slurm = cls(root=root, detached=True)
        try:
            with open(slurm.path(DAEMONS_FILE)) as f:
                for line in f:
                    pid, started = line.split()
                    slurm.processes.append(StartedDaemon(int(pid), started))
        except OSError:
            pass
        return slurm

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def path(self, name):
        return os.path.join(self.root, name)

    def running(self):
        return len(self.processes) == 3 and all(
            p.poll() is None for p in self.processes
        )

    def start(self):
        # munged wants every directory above its socket open to all (a test's
        # own temporary directory is not), and its key private.
        if self.owns_root:
            self.root = tempfile.mkdtemp(prefix="strellix-slurm-")
        else:
            os.makedirs(self.root)
        os.chmod(self.root, 0o755)
        os.makedirs(self.path("munge"), mode=0o755)
        with open(self.path("munge/munge.key"), "wb") as f:
            f.write(os.urandom(128))
        os.chmod(self.path("munge/munge.key"), 0o400)
        for d in ("state", "spool", "log"):
            os.makedirs(self.path(d))
        self.write_config()
        self.env["SLURM_CONF"] = self.path("slurm.conf")
        self.launch(
            [
                program("munged"),
                "--foreground",
                "--socket",
                self.path("munge/munge.socket"),
                "--key-file",
                self.path("munge/munge.key"),
                "--pid-file",
                self.path("munge/munged.pid"),
                "--log-file",
                self.path("log/munged.log"),
                "--seed-file",
                self.path("munge/munged.seed"),
            ]
        )
        self.wait_for(
            lambda: os.path.exists(self.path("munge/munge.socket")), "munged's socket"
        )
        self.launch([program("slurmctld"), "-D", "-i"])
        self.launch([program("slurmd"), "-D"])
        self.wait_for(
            lambda: self.run(["sinfo", "-h", "-o", "%t"]).stdout.strip() == "idle",
            "an idle node",
        )

    def write_config(self):
        host = socket.gethostname().split(".")[0]
        with open("/proc/meminfo") as f:
            total_mb = (
                int(next(line for line in f if line.startswith("MemTotal")).split()[1])
                // 1024
            )
        self.memory_mb = total_mb * 9 // 10
        lines = [
            "ClusterName=strellixtest",
            f"SlurmctldHost={host}(127.0.0.1)",
            f"SlurmctldPort={free_port()}",
            f"SlurmdPort={free_port()}",
            "SlurmUser=root",
            "SlurmdUser=root",
            "AuthType=auth/munge",
            "CredType=cred/munge",
            f"AuthInfo=socket={self.path('munge/munge.socket')}",
            f"StateSaveLocation={self.path('state')}",
            f"SlurmdSpoolDir={self.path('spool')}",
            f"SlurmctldPidFile={self.path('slurmctld.pid')}",
            f"SlurmdPidFile={self.path('slurmd.pid')}",
            f"SlurmctldLogFile={self.path('log/slurmctld.log')}",
            f"SlurmdLogFile={self.path('log/slurmd.log')}",
            "ProctrackType=proctrack/linuxproc",
            "TaskPlugin=task/none",
            "SelectType=select/cons_tres",
            "SelectTypeParameters=CR_CPU_Memory",
            "JobAcctGatherType=jobacct_gather/none",
            "AccountingStorageType=accounting_storage/none",
            "MpiDefault=none",
            "ReturnToService=2",
            f"NodeName={host} NodeAddr=127.0.0.1 CPUs={self.cpus} RealMemory={self.memory_mb} State=UNKNOWN",
            "PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP",
        ]
        with open(self.path("slurm.conf"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def launch(self, command):
        """Starts a daemon, and notes it in the state directory so that a
        later process can stop it."""
        log = open(self.path("log/" + os.path.basename(command[0]) + ".out"), "w")
        started = subprocess.Popen(
            command,
            env=self.env,
            stdout=log,
            stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL,
            start_new_session=self.detached,
            preexec_fn=None if self.detached else end_with_parent,
        )
        log.close()
        self.processes.append(started)
        with open(self.path(DAEMONS_FILE), "a") as f:
            f.write(f"{started.pid} {start_time(started.pid)}\n")

    def run(self, command, **kwargs):
        return subprocess.run(
            [program(command[0])] + command[1:],
            env=self.env,
            capture_output=True,
            text=True,
            timeout=60,
            **kwargs,
        )

    def wait_for(self, ready, what, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if any(p.poll() is not None for p in self.processes):
                break
            if ready():
                return
            time.sleep(0.25)
        raise RuntimeError(f"Slurm did not come up: no {what}\n{self.logs()}")

    def logs(self):
        text = []
        for name in sorted(os.listdir(self.path("log"))):
            with open(self.path("log/" + name), errors="replace") as f:
                text.append(f"--- {name}\n" + "".join(f.readlines()[-20:]))
        return "\n".join(text)

    def jobs(self):
        """Every job slurmctld still knows, as {field: value}."""
        shown = self.run(["scontrol", "show", "job", "-o"]).stdout
        return [
            dict(f.split("=", 1) for f in line.split() if "=" in f)
            for line in shown.splitlines()
            if line.startswith("JobId=")
        ]

    def stop(self):
        """Cancels what is left, then ends the daemons, slurmd first, and
        removes the state directory; returns the processes that were left
        over (and were ended by force). Once is enough."""
        if self.root is None:
            return []
        if self.running():
            self.run(["scancel", "--full", "--user", "root"])
            try:
                self.wait_for(
                    lambda: self.run(["squeue", "-h"]).stdout.strip() == "",
                    "empty queue",
                    30,
                )
            except RuntimeError:
                pass
        for p in reversed(self.processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait(timeout=15)
        self.processes = []
        left = self.leftovers()
        shutil.rmtree(self.root, ignore_errors=True)
        self.root = None
        return left

    def leftovers(self):
        """Processes this cluster made that still run (job steps and the
        programs of jobs, which carry its SLURM_CONF and a job id), ended by
        force; their ids are returned. A shell that merely has SLURM_CONF
        set is left alone."""
        conf = ("SLURM_CONF=" + self.path("slurm.conf")).encode()
        left = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    env = f.read().split(b"\0")
                with open(f"/proc/{pid}/comm", "rb") as f:
                    name = f.read().strip()
            except OSError:
                continue
            made = name.startswith(b"slurm") or any(
                v.startswith(b"SLURM_JOB_ID=") for v in env
            )
            if conf in env and made and int(pid) != os.getpid():
                left.append(int(pid))
                try:
                    os.kill(int(pid), signal.SIGKILL)
                except OSError:
                    pass
        return left


def conf_line(slurm):
    """What `eval` takes to point Slurm's commands at the cluster."""
    return f"SLURM_CONF={slurm.path('slurm.conf')}; export SLURM_CONF"


def say(text):
    print(f"local_slurm: {text}", file=sys.stderr)


def start(root, cpus):
    missing = missing_programs()
    if missing:
        say(
            f"{', '.join(missing)} not installed (Debian: apt-get install slurm-wlm munge)"
        )
        return 1
    if os.geteuid() != 0:
        say("starting slurmd takes root: run it as root, or with sudo")
        return 1
    slurm = SingleNodeSlurm.attach(root)
    if slurm.running():
        say(f"already running in {root}")
        print(conf_line(slurm))
        return 0
    if os.path.exists(root):
        if not os.path.exists(slurm.path("slurm.conf")) and os.listdir(root):
            say(f"{root} holds something else; name another directory with --dir")
            return 1
        slurm.stop()  # what an earlier cluster left there
    slurm = SingleNodeSlurm(cpus=cpus, root=root, detached=True)
    try:
        slurm.start()
    except RuntimeError as e:
        slurm.stop()
        say(str(e))
        return 1
    say(
        f"up: one node, {slurm.cpus} CPUs, {slurm.memory_mb} MB, state in {root}; "
        "Slurm's commands need SLURM_CONF (eval the line below); "
        "tools/local_slurm.sh stop ends it"
    )
    print(conf_line(slurm))
    return 0


def status(root):
    slurm = SingleNodeSlurm.attach(root)
    if not slurm.running():
        if os.path.exists(root):
            say(f"not running; {root} holds what an earlier one left (stop removes it)")
        else:
            say("not running")
        return 3
    node = slurm.run(["sinfo", "-h", "-N", "-o", "%N %t, %c CPUs, %m MB"]).stdout
    queue = slurm.run(["squeue", "-h"]).stdout.splitlines()
    say(f"running in {root}: node {node.strip()}; {len(queue)} jobs in the queue")
    print(conf_line(slurm))
    return 0


def stop(root):
    if not os.path.exists(root):
        say("not running")
        return 0
    slurm = SingleNodeSlurm.attach(root)
    if os.geteuid() != 0 and slurm.processes:
        say("its daemons run as root: stop it as root, or with sudo")
        return 1
    left = slurm.stop()
    say(
        "stopped; removed "
        + root
        + (f"; ended {len(left)} leftover processes" if left else "")
    )
    return 0


def main(argv):
    parser = argparse.ArgumentParser(
        prog="tools/local_slurm.sh",
        description="A single-node Slurm on this machine, to run a batch through "
        "the workflow's Slurm profile: start it (as root), point Slurm's commands at it "
        'with eval "$(tools/local_slurm.sh start)", stop it when done. '
        "Exit status of status: 0 running, 3 not running.",
    )
    parser.add_argument("command", choices=("start", "status", "stop"))
    parser.add_argument(
        "--dir",
        default=os.environ.get("STRELLIX_SLURM_DIR", DEFAULT_DIR),
        help="its configuration, state and logs, and nothing outside "
        "(default: $STRELLIX_SLURM_DIR, or %(default)s)",
    )
    parser.add_argument(
        "--cpus", type=int, help="CPUs of the node (default: this machine's)"
    )
    arguments = parser.parse_args(argv)
    root = os.path.abspath(arguments.dir)
    if arguments.command == "start":
        return start(root, arguments.cpus)
    if arguments.command == "status":
        return status(root)
    return stop(root)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
