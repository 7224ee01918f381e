"""A throwaway single-node Slurm for the tests: its own munge key and
socket, its own ports, configuration, state and logs in a scratch
directory; started in a few seconds, stopped with every process it made."""
import ctypes
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

DAEMONS = (
    "munged",
    "slurmctld",
    "slurmd",
    "sbatch",
    "scontrol",
    "sinfo",
    "squeue",
    "scancel",
)


def missing_programs():
    return [
        p
        for p in DAEMONS
        if shutil.which(p) is None and not os.path.exists(f"/usr/sbin/{p}")
    ]


def program(name):
    return shutil.which(name) or f"/usr/sbin/{name}"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def end_with_parent():
    """A daemon started here dies with the test process, even one killed
    by a timeout."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class SingleNodeSlurm:
    """with SingleNodeSlurm() as slurm: slurm.env has SLURM_CONF."""

    def __init__(self, cpus=None):
        self.root = None
        self.cpus = cpus or os.cpu_count()
        self.processes = []
        self.env = dict(os.environ)

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

    def start(self):
        # munged wants every directory above its socket open to all (a test's
        # own temporary directory is not), and its key private.
        self.root = tempfile.mkdtemp(prefix="strellix-slurm-")
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
        log = open(self.path("log/" + os.path.basename(command[0]) + ".out"), "w")
        self.processes.append(
            subprocess.Popen(
                command,
                env=self.env,
                stdout=log,
                stderr=subprocess.STDOUT,
                stdin=subprocess.DEVNULL,
                preexec_fn=end_with_parent,
            )
        )
        log.close()

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
        removes the scratch directory; returns the processes that were left
        over (and were ended by force). Once is enough."""
        if self.root is None:
            return []
        if len(self.processes) == 3 and all(p.poll() is None for p in self.processes):
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
                    p.wait()
        self.processes = []
        left = self.leftovers()
        shutil.rmtree(self.root, ignore_errors=True)
        self.root = None
        return left

    def leftovers(self):
        """Processes still running with this cluster's configuration (job
        steps, their programs), ended by force; their ids are returned."""
        conf = ("SLURM_CONF=" + self.path("slurm.conf")).encode()
        left = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    mine = conf in f.read().split(b"\0")
            except OSError:
                continue
            if mine and int(pid) != os.getpid():
                left.append(int(pid))
                try:
                    os.kill(int(pid), signal.SIGKILL)
                except OSError:
                    pass
        return left
